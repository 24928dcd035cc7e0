// The operation lock: bounded waits of 1 s and 3 s against a holder on
// another thread, their records, and a lock left free by a failure.
#include <leapisim/leapisim.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "providerfixture.h"

namespace {

using providertest::EntryOf;
using providertest::OnOtherThread;
using providertest::Outcome;
using providertest::Timed;
using providertest::TimedOutcome;
using providertest::WaitUntil;
using testworld::JournalNames;
using testworld::Trace;
using Bytes = std::vector<std::uint8_t>;

class OperationLock : public ProviderTest {};

TEST_F(OperationLock, OperationsOfOtherThreadsGiveUpAfterTheirOwnWait) {
    const std::uint32_t handle = ConnectPhone();
    const BleDeviceEntry entry = EntryOf(phone);
    // The holder: a read that gets nothing for 4 s, the lock held throughout.
    Bytes received = {1};
    Timed holder;
    std::thread holding(
        [&] { holder = TimedOutcome([&] { provider->Receive(handle, 4000, received); }); });
    ASSERT_TRUE(WaitUntil([] { return LeSimJournalCount() > 0; }));

    Bytes data;
    struct Contender {
        const char* function;
        const char* message;
        double wait;
        std::function<void()> op;
        Timed result;
    } contenders[] = {
        {"NoxBleProvider::Connect",
         "Connect did not get the lock",
         1.0,
         [&] { provider->Connect(entry); },
         {}},
        {"NoxBleProvider::Send",
         "Disconnecting did not get the lock",
         1.0,
         [&] { provider->Send(handle, {1}); },
         {}},
        {"NoxBleProvider::Receive",
         "Disconnecting did not get the lock",
         1.0,
         [&] { provider->Receive(handle, 0, data); },
         {}},
        {"NoxBleProvider::Disconnect",
         "Disconnecting did not get the lock",
         3.0,
         [&] { provider->Disconnect(handle); },
         {}},
        {"NoxBleProvider::GetRSSI",
         "Connect did not get the lock",
         3.0,
         [&] { provider->GetRSSI(entry); },
         {}},
    };
    std::vector<std::thread> threads;
    for (Contender& c : contenders) threads.emplace_back([&c] { c.result = TimedOutcome(c.op); });
    for (std::thread& t : threads) t.join();
    holding.join();

    EXPECT_EQ(holder.outcome, "none");
    EXPECT_TRUE(received.empty());
    EXPECT_GE(holder.seconds, 3.8);
    const providertest::Lines lines = RecordLines();
    for (const Contender& c : contenders) {
        SCOPED_TRACE(c.function);
        EXPECT_EQ(c.result.outcome, "ConnectionFailed");
        EXPECT_GE(c.result.seconds, c.wait - 0.1);
        EXPECT_LT(c.result.seconds, c.wait + 2.0);
        if (Trace::Available()) {
            const std::string failure = std::string("E BLE ") + c.function + ": " + c.message;
            EXPECT_EQ(std::count(lines.begin(), lines.end(), failure), 1);
        }
    }
    // Nobody but the holder reached the stack.
    for (const std::string& call : JournalNames()) EXPECT_EQ(call, "LEAPI_CharacteristicReadLong");
    // And the connection is still there.
    EXPECT_EQ(Outcome([&] { provider->Send(handle, {2}); }), "none");
}

TEST_F(OperationLock, IsFreeAtOnceAfterAnOperationThrew) {
    const std::uint32_t handle = ConnectPhone();
    const BleDeviceEntry nobody{L"Nobody", L"00:00:00:00:00:00", true, true};
    const std::function<void()> failing[] = {
        [&] { provider->Connect(nobody); },
        [&] { provider->Send(7, {1}); },
        [&] { provider->GetRSSI(nobody); },
        [&] {
            LeSimScript("LEAPI_GATTSessionRSSIGet", LEAPI_ERROR_NOT_PERMITTED, 1);
            provider->GetRSSI(EntryOf(phone));
        },
    };
    for (const auto& op : failing) {
        EXPECT_NE(Outcome(op), "none");
        // Another thread: the failed caller's own re-entry would hide a leak.
        const Timed next = OnOtherThread([&] { provider->Send(handle, {3}); });
        EXPECT_EQ(next.outcome, "none");
        EXPECT_LT(next.seconds, 0.9);
    }
}

}  // namespace
