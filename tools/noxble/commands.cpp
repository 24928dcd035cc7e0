#include "commands.h"

#include <noxb/Exceptions.h>

#include <chrono>
#include <cstdio>
#include <istream>
#include <sstream>
#include <thread>
#include <vector>

#include "hostsession.h"
#include "simworld.h"
#include "tracing.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs one demo step and prints it with its duration.
template <typename Step>
auto Timed(const char* what, Step step) {
    const auto start = Clock::now();
    auto finish = [&] {
        const std::chrono::duration<double> took = Clock::now() - start;
        std::printf("[%6.2f s] %s\n", took.count(), what);
    };
    if constexpr (std::is_void_v<decltype(step())>) {
        step();
        finish();
    } else {
        auto result = step();
        finish();
        return result;
    }
}

std::string Name(const BleDeviceEntry& entry) {
    return ToUtf8(entry.name) + " (" + ToUtf8(entry.address) + ")";
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace

ExitCode Report(const std::exception& failure) {
    ExitCode code = ExitCode::kUnexpected;
    std::string kind;
    if (const auto* usage = dynamic_cast<const UsageError*>(&failure)) {
        code = usage->code;
    } else if (dynamic_cast<const noxb::BluetoothProvider::ConnectionFailedException*>(&failure)) {
        code = ExitCode::kConnectionFailed;
        kind = "ConnectionFailedException: ";
    } else if (dynamic_cast<const noxb::BluetoothProvider::ProviderServiceNotFoundException*>(
                   &failure)) {
        code = ExitCode::kServiceNotFound;
        kind = "ProviderServiceNotFoundException: ";
    } else if (const auto* general =
                   dynamic_cast<const noxb::BluetoothProvider::ProviderGeneralException*>(
                       &failure)) {
        code = ExitCode::kStackFailure;
        kind = "stack call failed with code " + std::to_string(general->nativeCode) + ": ";
    } else if (dynamic_cast<const noxb::BluetoothProvider::BluetoothProviderException*>(&failure)) {
        code = ExitCode::kProviderFailure;
    }
    std::fprintf(stderr, "noxble: error: %s%s\n", kind.c_str(), failure.what());
    return code;
}

ExitCode ReportUnknown() {
    std::fprintf(stderr, "noxble: error: unknown failure\n");
    return ExitCode::kUnexpected;
}

ExitCode RunScan(const Options& options) {
    HostSession session(options.modulePath);
    const auto& entries = session.Scan(options.scanMs);
    if (options.json) {
        PrintEntriesJson(entries);
    } else {
        PrintEntriesTable(entries);
    }
    return ExitCode::kOk;
}

ExitCode RunDemo(const Options& options) {
    HostSession session(options.modulePath);
    std::printf("noxble demo: one GATT session, step by step\n\n");
    const auto& entries =
        Timed("scan: two discovery passes", [&] { return session.Scan(options.scanMs); });
    PrintEntriesTable(entries);
    std::printf(
        "\n  The module lists phones, tablets and uncategorised devices that have a name;\n"
        "  the second pass also drops devices heard below -90 dBm. Only connectable\n"
        "  devices of the first pass can be connected.\n");
    const auto world = SimulatedWorld();
    if (!world.empty()) {
        std::printf("  The simulated stack's world holds %zu devices:\n", world.size());
        for (const std::string& line : ExplainFilters(world, entries)) {
            std::printf("    %s\n", line.c_str());
        }
    }
    std::printf("\n");

    bool connected = false;
    for (const BleDeviceEntry& entry : entries) {
        if (!entry.firstPass || !entry.connectable) continue;
        try {
            const std::uint32_t handle = Timed("connect", [&] { return session.Connect(entry); });
            std::printf("           %s, service handle %u\n", Name(entry).c_str(), handle);
            connected = true;
            break;
        } catch (const noxb::BluetoothProvider::ConnectionFailedException&) {
            std::printf("           %s offers no data service; trying the next device\n",
                        Name(entry).c_str());
        }
    }
    if (!connected) {
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }

    const std::string message = "hello from noxble";
    Timed("send", [&] { session.Send(Bytes(message)); });
    std::printf("           %s\n", Describe(Bytes(message)).c_str());
    // The device echoes by notification too: the events interface reports it
    // on the stack's thread.
    Timed("notification", [&] {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (session.Events().Notifications().empty() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto echo = Timed("receive", [&] { return session.Receive(2000); });
    std::printf("           %s\n", Describe(echo).c_str());
    const std::int16_t rssi = Timed("signal strength", [&] { return session.Rssi(); });
    std::printf("           %d dBm\n", rssi);
    Timed("disconnect", [&] { session.Disconnect(); });
    std::printf("\ndone.\n");
    return ExitCode::kOk;
}

namespace {

const char kShellHelp[] =
    "commands:\n"
    "  scan [ms]                     discover devices (default 3000 ms)\n"
    "  devices                       the entries of the last scan\n"
    "  connect <address|index>       connect to an entry of the last scan\n"
    "  send <text> | send hex:<bytes>\n"
    "  recv [timeout-ms]             read from the connected device (default 1000 ms)\n"
    "  rssi                          signal strength of the connected device\n"
    "  disconnect\n"
    "  trace <off|error|info>        print the module's trace records\n"
    "  help, quit\n"
    "A failed command prints one error line; the shell goes on, and exits with the\n"
    "code of the first failure.\n";

std::string Rest(std::istringstream& words) {
    std::string rest;
    std::getline(words, rest);
    const auto start = rest.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : rest.substr(start);
}

std::string Required(std::istringstream& words, const std::string& what) {
    std::string word;
    if (!(words >> word)) {
        throw UsageError(ExitCode::kMissingArgument, "missing argument: " + what);
    }
    return word;
}

// One command line; false for quit.
bool RunShellLine(HostSession& session, const std::string& line) {
    std::istringstream words(line);
    std::string command;
    if (!(words >> command) || command[0] == '#') return true;
    std::string argument;
    if (command == "quit" || command == "exit") return false;
    if (command == "help") {
        std::printf("%s", kShellHelp);
    } else if (command == "scan") {
        const std::int64_t ms = words >> argument ? ParseNumber(argument, "scan ms") : 3000;
        PrintEntriesTable(session.Scan(ms));
    } else if (command == "devices") {
        PrintEntriesTable(session.Entries());
    } else if (command == "connect") {
        const BleDeviceEntry& entry = session.Select(Required(words, "connect <address|index>"));
        const std::uint32_t handle = session.Connect(entry);
        std::printf("connected to %s, service handle %u\n", Name(entry).c_str(), handle);
    } else if (command == "send") {
        const std::string text = Rest(words);
        if (text.empty())
            throw UsageError(ExitCode::kMissingArgument, "missing argument: send <text>");
        const auto bytes = text.rfind("hex:", 0) == 0 ? ParseHex(text) : Bytes(text);
        session.Send(bytes);
        std::printf("sent %s\n", Describe(bytes).c_str());
    } else if (command == "recv") {
        const std::int64_t ms = words >> argument ? ParseNumber(argument, "recv timeout-ms") : 1000;
        std::printf("received %s\n", Describe(session.Receive(ms)).c_str());
    } else if (command == "rssi") {
        std::printf("%d dBm\n", session.Rssi());
    } else if (command == "disconnect") {
        session.Disconnect();
        std::printf("disconnected\n");
    } else if (command == "trace") {
        SetTraceLevel(ParseTraceLevel(Required(words, "trace <off|error|info>")));
    } else {
        throw UsageError(ExitCode::kUsage, "unknown command \"" + command + "\" (try help)");
    }
    return true;
}

}  // namespace

ExitCode RunShell(const Options& options, std::istream& input, bool interactive) {
    HostSession session(options.modulePath);
    ExitCode first = ExitCode::kOk;
    std::string line;
    for (;;) {
        if (interactive) {
            std::printf("noxble> ");
            std::fflush(stdout);
        }
        if (!std::getline(input, line)) break;
        try {
            if (!RunShellLine(session, line)) break;
        } catch (const std::exception& failure) {
            const ExitCode code = Report(failure);
            if (first == ExitCode::kOk) first = code;
        }
        std::fflush(stdout);
    }
    return first;
}
