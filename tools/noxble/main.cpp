// noxble: a command-line host for the provider module. It loads the module at
// run time, as a host application does, and drives it against whatever LE
// stack the module finds (on this machine, the simulated one).
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "modulelibrary.h"
#include "tracing.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "usage: noxble [--module PATH] [--trace[=off|error|info]] <command> [options]\n"
    "commands:\n"
    "  scan [--ms N] [--json]   discover devices; N is the second pass in ms (default 3000)\n"
    "  demo [--ms N]            one whole session: scan, connect, send, receive, rssi, disconnect\n"
    "  shell                    interactive session; reads commands from a pipe too (try help)\n"
    "  help\n"
    "--module PATH  the module to load (default: the one beside noxble)\n"
    "--trace        print the module's trace records as they are written\n";

ExitCode Run(const std::vector<std::string>& args) {
    Options options;
    options.modulePath = ModuleLibrary::ExecutableFolder() + ModuleLibrary::kModuleFile;
    TraceLevel trace = TraceLevel::kOff;
    std::string command;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* what) {
            if (i + 1 >= args.size()) {
                throw UsageError(ExitCode::kMissingArgument,
                                 std::string("missing argument: ") + what);
            }
            return args[++i];
        };
        if (arg == "--module") {
            options.modulePath = value("--module PATH");
        } else if (arg == "--trace") {
            trace = TraceLevel::kInfo;
        } else if (arg.rfind("--trace=", 0) == 0) {
            trace = ParseTraceLevel(arg.substr(8));
        } else if (arg == "--ms") {
            options.scanMs = ParseNumber(value("--ms N"), "--ms");
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "-h" || arg == "--help" || arg == "help") {
            command = "help";
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError(ExitCode::kUsage, "unknown option " + arg);
        } else if (command.empty()) {
            command = arg;
        } else {
            throw UsageError(ExitCode::kUsage, "unexpected argument \"" + arg + "\"");
        }
    }
    if (command.empty() || command == "help") {
        std::printf("%s", kUsage);
        return command.empty() ? ExitCode::kUsage : ExitCode::kOk;
    }
    if (command != "scan" && command != "demo" && command != "shell") {
        throw UsageError(ExitCode::kUsage, "unknown command \"" + command + "\" (try noxble help)");
    }
    SetTraceLevel(trace);
    if (command == "scan") return RunScan(options);
    if (command == "demo") return RunDemo(options);
    return RunShell(options, std::cin, isatty(fileno(stdin)) != 0);
}

}  // namespace

int main(int argc, char** argv) {
    ExitCode code;
    try {
        code = Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        code = Report(failure);
    } catch (...) {
        code = ReportUnknown();
    }
    std::fflush(stdout);
    return static_cast<int>(code);
}
