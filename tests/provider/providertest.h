// Helpers of the provider tests, for white-box tests and hosts alike: what an
// operation threw, how long it took, device entries and record lines.
#ifndef NOXB_TESTS_PROVIDER_PROVIDERTEST_H
#define NOXB_TESTS_PROVIDER_PROVIDERTEST_H

#include <noxb/Exceptions.h>
#include <noxb/IBTProvider.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testworld.h"

namespace providertest {

using Lines = std::vector<std::string>;

// The exact type of what `op` threw, "none" when it returned. The family's
// concrete classes have no subclasses, so the handler that matches names the
// type; a general exception also shows its stack code.
inline std::string Outcome(const std::function<void()>& op) {
    try {
        op();
        return "none";
    } catch (const NoxBleProviderGeneralException& e) {
        return "General " + std::to_string(e.leapiCode);
    } catch (const noxb::BluetoothProvider::ConnectionFailedException&) {
        return "ConnectionFailed";
    } catch (const noxb::BluetoothProvider::ProviderServiceNotFoundException&) {
        return "ServiceNotFound";
    } catch (const std::exception& e) {
        return std::string("unexpected: ") + e.what();
    }
}

// A stack code as the module writes it: signed decimal.
inline std::string Code(std::uint32_t code) {
    return std::to_string(static_cast<std::int32_t>(code));
}

// What Outcome shows for a general exception with a stack code.
inline std::string General(std::uint32_t code) { return "General " + Code(code); }

struct Timed {
    std::string outcome;
    double seconds;
};

inline Timed TimedOutcome(const std::function<void()>& op) {
    const auto start = std::chrono::steady_clock::now();
    std::string outcome = Outcome(op);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {outcome, took.count()};
}

// Runs `op` on a thread of its own: the operation lock is not that thread's.
inline Timed OnOtherThread(const std::function<void()>& op) {
    Timed result;
    std::thread([&] { result = TimedOutcome(op); }).join();
    return result;
}

// Polls until `done` holds or `limit` has passed; returns whether it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The entry a scan reports for a test device.
inline BleDeviceEntry EntryOf(const testworld::TestDevice& device) {
    std::wstring name;
    for (std::uint16_t unit : device.record.name) {
        if (unit == 0) break;
        name.push_back(static_cast<wchar_t>(unit));
    }
    return {name, device.Address(), true, true};
}

// Records as "<level letter> <module> <function>: <message>", oldest first;
// only those of the named functions when any are named.
inline Lines LinesOf(const std::vector<testworld::Record>& records,
                     const std::vector<std::string>& functions = {}) {
    static const char kLevels[] = "IWEC";
    Lines lines;
    for (const testworld::Record& r : records) {
        bool wanted = functions.empty();
        for (const std::string& f : functions) wanted = wanted || f == r.function;
        if (!wanted) continue;
        const char level = r.level >= 0 && r.level < 4 ? kLevels[r.level] : '?';
        lines.push_back(std::string(1, level) + " " + r.module + " " + r.function + ": " +
                        r.message);
    }
    return lines;
}

// The names of the stack calls in the journal, oldest first, each with its
// result when that is not 0 ("LEAPI_X=-353763293").
inline Lines CallsWithResults() {
    Lines calls;
    for (const LeSimCall& call : testworld::Journal()) {
        std::string line = call.function;
        if (call.result != 0) line += "=" + Code(call.result);
        calls.push_back(line);
    }
    return calls;
}

}  // namespace providertest

#endif  // NOXB_TESTS_PROVIDER_PROVIDERTEST_H
