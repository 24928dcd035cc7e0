// The operation lock: bounded waits of 1 s and 3 s against a holder on
// another thread, their records, and a lock left free by a failure.
#include <algorithm>
#include <functional>
#include <thread>

#include "providerfixture.h"

namespace {

class OperationLock : public ProviderTest {};

TEST_F(OperationLock, OperationsOfOtherThreadsGiveUpAfterTheirOwnWait) {
    const std::uint32_t handle = ConnectPhone();
    const BleDeviceEntry entry = EntryOf(phone);
    // The holder: a read that gets nothing for 4 s, the lock held throughout.
    Bytes received = {1}, data;
    Timed holder;
    std::thread holding(
        [&] { holder = TimedOutcome([&] { provider->Receive(handle, 4000, received); }); });
    ASSERT_TRUE(WaitUntil([] { return LeSimJournalCount() > 0; }));
    const std::string connectMessage = "Connect did not get the lock";
    const std::string disconnectMessage = "Disconnecting did not get the lock";
    struct Contender {
        const char* function;
        const std::string& message;
        double wait;
        std::function<void()> op;
        Timed result;
    } contenders[] = {
        {"Connect", connectMessage, 1.0, [&] { provider->Connect(entry); }, {}},
        {"Send", disconnectMessage, 1.0, [&] { provider->Send(handle, {1}); }, {}},
        {"Receive", disconnectMessage, 1.0, [&] { provider->Receive(handle, 0, data); }, {}},
        {"Disconnect", disconnectMessage, 3.0, [&] { provider->Disconnect(handle); }, {}},
        {"GetRSSI", connectMessage, 3.0, [&] { provider->GetRSSI(entry); }, {}},
    };
    std::vector<std::thread> threads;
    for (Contender& c : contenders) threads.emplace_back([&c] { c.result = TimedOutcome(c.op); });
    for (std::thread& t : threads) t.join();
    holding.join();

    EXPECT_EQ(holder.outcome, "none");
    EXPECT_TRUE(received.empty());
    EXPECT_GE(holder.seconds, 3.8);
    const Lines lines = trace.Of();
    for (const Contender& c : contenders) {
        SCOPED_TRACE(c.function);
        EXPECT_EQ(c.result.outcome, "ConnectionFailed");
        EXPECT_GE(c.result.seconds, c.wait - 0.1);
        EXPECT_LT(c.result.seconds, c.wait + 2.0);
        const std::string failure =
            std::string("E BLE NoxBleProvider::") + c.function + ": " + c.message;
        if (Trace::Available()) {
            EXPECT_EQ(std::count(lines.begin(), lines.end(), failure), 1);
        }
    }
    // Nobody but the holder reached the stack, and the connection is still there.
    for (const std::string& call : JournalNames()) EXPECT_EQ(call, "LEAPI_CharacteristicReadLong");
    EXPECT_EQ(Outcome([&] { provider->Send(handle, {2}); }), "none");
}

TEST_F(OperationLock, IsFreeAtOnceAfterAnOperationThrew) {
    const std::uint32_t handle = ConnectPhone();
    const BleDeviceEntry nobody{L"Nobody", L"00:00:00:00:00:00", true, true};
    const std::function<void()> failing[] = {
        [&] { provider->Connect(nobody); },
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
