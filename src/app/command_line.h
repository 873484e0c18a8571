#pragma once

#include <QStringList>

#include <optional>

/**
 * Reads the program's own options: --help and --version print to standard output, an
 * unknown option prints the usage to standard error. Call before the application object
 * exists, so both work without a display and while another instance runs.
 *
 * @return the exit status when the program must end now, nothing when it should run.
 */
std::optional<int> handleCommandLine(int argc, char *argv[]);
