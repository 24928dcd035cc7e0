// The commands of noxble: scan, demo and shell.
#ifndef NOXBLE_COMMANDS_H
#define NOXBLE_COMMANDS_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "output.h"

struct Options {
    std::string modulePath;
    std::int64_t scanMs = 3000;
    bool json = false;
};

ExitCode RunScan(const Options& options);
ExitCode RunDemo(const Options& options);
// Reads commands from `input` (a terminal or a pipe) until "quit" or its end.
ExitCode RunShell(const Options& options, std::istream& input, bool interactive);

// The exit code and one-line message for whatever a command threw.
ExitCode Report(const std::exception& failure);
ExitCode ReportUnknown();

#endif  // NOXBLE_COMMANDS_H
