#pragma once

/**
 * On a platform without a screen (offscreen, minimal), standard error carries the
 * operator's view alone: message boxes and status lines, one per line. Qt's own notes
 * about windows nobody can see would only interleave with them, so they are dropped
 * there; criticals and fatals still come through. Call before the application object.
 */
void installHeadlessDiagnosticsFilter(int argc, char *argv[]);
