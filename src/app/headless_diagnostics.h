#pragma once

/**
 * On a platform without a screen (offscreen, minimal), standard error carries the
 * operator's view alone: message boxes and status lines, one per line. Qt's own notes
 * about windows nobody can see would only interleave with them, so they are dropped
 * there; criticals and fatals still come through. Call before the application object.
 */
void installHeadlessDiagnosticsFilter(int argc, char *argv[]);

/**
 * Without a display (no DISPLAY, no WAYLAND_DISPLAY) and no platform chosen, Qt would end the
 * program at start: a service started by systemd or over ssh runs offscreen instead, with
 * standard error as the operator's view. Call before the application object.
 */
void runOffscreenWithoutDisplay(int argc, char *argv[]);
