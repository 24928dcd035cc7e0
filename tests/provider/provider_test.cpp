// The provider's operations as a host calls them: Connect and Disconnect,
// Send, Receive and GetRSSI, the recovery behind a failed transfer, and the
// operation lock's bounded waits. (Each stack call of an operation failing
// once is the fault-injection test's.)
#include <algorithm>
#include <sstream>
#include <utility>

#include "fixture.h"

// While not 0, the next long read answers this code with these bytes.
static std::uint32_t carried = 0;
static const Bytes kFive = {1, 2, 3, 4, 5};

#if !defined(_WIN32)
#include <dlfcn.h>

// Stands in front of the stack's long read in this executable: the
// simulated stack never answers "again", or a refusal, with data.
extern "C" std::uint32_t LEAPI_CharacteristicReadLong(std::uint64_t session, std::uint16_t handle,
                                                      CharacteristicValue* out) {
    static const auto real = reinterpret_cast<decltype(&LEAPI_CharacteristicReadLong)>(
        dlsym(RTLD_NEXT, "LEAPI_CharacteristicReadLong"));
    const std::uint32_t code = real(session, handle, out);
    if (carried == 0) return code;
    out->length = static_cast<std::uint16_t>(kFive.size());
    std::copy(kFive.begin(), kFive.end(), out->data);
    return std::exchange(carried, 0u);
}
#endif

namespace {

class Connect : public WorldTest {};
class Transfer : public WorldTest {};

const std::string kConnect = "I BLE_STRING NoxBleProvider::Connect: ";
const std::string kOwn = "I BLE_STRING BleDevice::RecoveryConnection: ";
const std::string kLooking =
    "I BLE_STRING NoxBleProvider::FindBleDevice: looking for BLE service by handle";
const std::string kDisconnecting =
    "I BLE_STRING NoxBleProvider::Disconnect: disconnecting service ";
// The stack calls of one refresh of the default phone's services.
const std::string kRefresh =
    "ServicesDiscoveryStartByUUID ServicesDiscoveryGetNext ServicesDiscoveryEnd "
    "CharacteristicsDiscoveryStartByUUID CharacteristicsDiscoveryGetNext "
    "CharacteristicsDiscoveryEnd CharacteristicNotificationSubscribe "
    "CharacteristicIndicationSubscribe CharacteristicDescriptorsDiscoveryStart "
    "CharacteristicDescriptorsDiscoveryGetNext CharacteristicDescriptorsDiscoveryGetNext "
    "CharacteristicDescriptorWrite CharacteristicDescriptorsDiscoveryEnd";

// The stack calls named in `names`, as CallsWithResults() gives them.
Lines Calls(const std::string& names) {
    Lines calls;
    std::istringstream in(names);
    for (std::string name; in >> name;) calls.push_back("LEAPI_" + name);
    return calls;
}

// The record of a recovery attempt's pause, or of its failed refresh.
std::string Attempt(int attempt, bool failed) {
    return kOwn + (failed ? "Failed to " : "") + "RefreshServices, attempt no. " +
           std::to_string(attempt) + (failed ? "" : " sleep for 1 sec");
}

// A device the registry lacks is looked for again after one rescan. A
// refresh that fails twice closes the session it opened. Twice with one
// entry gives one handle and one session; after a new scan the new object
// adopts the session the stack has open: a second handle, and both work.
// GetRSSI asks the registry's object for its session, which after that scan
// it has none of. The host's text reaches the records as UTF-8 (U+0080 in
// two bytes, U+10000 in four), never formatted.
TEST_F(Connect, RescansForAMissingDeviceAndGivesOneHandlePerDeviceObject) {
    const bool wide4 = sizeof(wchar_t) == 4;
    const BleDeviceEntry odd{wide4 ? L"\u0080\U00010000" : L"\u0080\u07FF", L"%s:%n", true, true};
    const std::string oddName = wide4 ? "\xC2\x80\xF0\x90\x80\x80" : "\xC2\x80\xDF\xBF";
    const std::string find = "I BLE_STRING NoxBleProvider::FindBleDevice: find BLE decvice ",
                      findOdd = find + oddName + " in devices list by address",
                      missing = ": connection to device failed, couldn't find device";
    EXPECT_EQ(Outcome([&] { provider->Connect(odd); }), "ConnectionFailed");
    ExpectRecords({kConnect + "connecting to device " + oddName + "via BLE service. Address: %s:%n",
                   findOdd,
                   "I BLE_STRING NoxBleProvider::Scan: scan for ble devices using "
                   "StackApi()->DevicesDiscovery . miliseconds count:0",
                   findOdd, "E BLE NoxBleProvider::Connect" + missing});
    LeSimScript("LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 2);
    EXPECT_EQ(Outcome([&] { provider->Connect(EntryOf(phone)); }), "ConnectionFailed");
    EXPECT_TRUE(JournalOf("LEAPI_GATTSessionClose").size() == 1 && LeSimSessionCount() == 0);
    const std::uint32_t first = HandleOf(provider->FindBleDevice(EntryOf(phone)));
    Settle();
    EXPECT_EQ(provider->Connect(EntryOf(phone)), first);
    EXPECT_EQ(CallsWithResults(), Calls("GATTSessionEstablishEx " + kRefresh));  // no rescan
    ExpectRecords(
        {kConnect + "connecting to device Phonevia BLE service. Address: a0:b1:c2:d3:e4:01",
         find + "Phone in devices list by address",
         kConnect + "connection to device Phonevia BLE service succeed"},
        {"NoxBleProvider::Connect", "NoxBleProvider::FindBleDevice"});
    device = provider->FindBleDevice(first);
    const std::uint64_t session = device->SessionHandle();
    EXPECT_EQ(provider->Connect(EntryOf(phone)), first);
    EXPECT_TRUE(device->SessionHandle() == session && LeSimSessionCount() == 1);

    EXPECT_EQ(provider->GetRSSI(EntryOf(phone)), -60);
    provider->Scan(0);
    Settle();
    for (const BleDeviceEntry& entry : {EntryOf(phone), odd})
        EXPECT_EQ(Outcome([&] { provider->GetRSSI(entry); }), "ConnectionFailed");
    EXPECT_EQ(CallsWithResults(), Lines{});
    const std::string rssi = "I BLE_STRING NoxBleProvider::GetRSSI: retrieving RSSI from device ",
                      failed = "E BLE NoxBleProvider::GetRSSI" + missing;
    ExpectRecords({rssi + "Phone", failed, rssi + oddName, failed}, {"NoxBleProvider::GetRSSI"});
    const std::uint32_t second = provider->Connect(EntryOf(phone));
    EXPECT_NE(first, second);
    Settle();
    for (const std::uint32_t handle : {first, second})
        EXPECT_EQ(Outcome([&] { provider->Send(handle, {2}); }), "none");
    EXPECT_EQ(CallsWithResults(), Lines(2, "LEAPI_CharacteristicWriteLong"));
}

// Two providers in one process share the stack: the first one destroyed
// uninitialises it for both, yet lets go only of the devices it made, while
// values still arrive for both sessions.
TEST_F(Connect, TwoProvidersEachLetGoOfTheirOwnDevicesOnly) {
    const TestDevice tablet = AddDevice({2});
    ConnectPhone();
    auto second = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    const auto other = second->FindBleDevice(second->Connect(EntryOf(tablet)));  // scans first
    const std::uint64_t sessions[] = {device->SessionHandle(), other->SessionHandle()};
    const std::uint16_t handles[] = {phone.valueHandle, tablet.valueHandle};
    std::atomic<bool> stop{false};
    std::thread stack([&] {
        for (unsigned i = 0; !stop; ++i)
            LeSimRaiseValueEvent(sessions[i & 1], handles[i & 1], 1, 0, "v", 1);
    });
    device.reset();
    provider.reset();
    stop = true;
    stack.join();
    EXPECT_EQ(callbackHolders.Size(), 1u);  // the tablet, made by the second provider
    EXPECT_EQ(Outcome([&] { second->Connect(EntryOf(tablet)); }),
              General(LEAPI_ERROR_NOT_INITIALIZED));
    second.reset();  // meets a stack already uninitialised
    EXPECT_EQ(callbackHolders.Size(), 0u);
}

// A close always forgets the session and the handle; the stack's refusal is
// only logged. What comes with a forgotten handle fails after its records
// and touches no device.
TEST_F(Connect, ADisconnectClosesTheSessionAndForgetsTheHandleWhateverTheStackSays) {
    std::uint32_t handle = 0;
    for (const bool lost : {true, false}) {  // the link lost first; a refused close
        handle = ConnectPhone();
        const std::uint64_t session = device->SessionHandle();
        if (lost) LeSimDropSession(session);
        Settle();
        LeSimScript("LEAPI_GATTSessionClose", lost ? 0 : LEAPI_ERROR_NOT_PERMITTED, 1);
        EXPECT_EQ(Outcome([&] { provider->Disconnect(handle); }), "none");
        EXPECT_EQ(CallsWithResults(),
                  Calls("GATTSessionClose=" + Code(lost ? LEAPI_ERROR_INVALID_SESSION_HANDLE
                                                        : LEAPI_ERROR_NOT_PERMITTED)));
        EXPECT_EQ(Journal().at(0).args[0], lost ? kNoSession : session);
        ExpectRecords({kDisconnecting + std::to_string(handle),
                       std::string("E BLE BleDevice::GATTSessionClose: Failed close GATTSession "
                                   "with ") +
                           (lost ? "error LEAPI_ERROR_INVALID_SESSION_HANDLE" : "unknown error")});
    }
    Settle();
    const std::string h = std::to_string(handle);
    Bytes data = {9};
    EXPECT_EQ(Outcome([&] { provider->Receive(handle, 100, data); }), "ServiceNotFound");
    EXPECT_EQ(Outcome([&] { provider->Disconnect(handle); }), "none");
    ExpectRecords(
        {kLooking + h, "E BLE NoxBleProvider::FindBleDevice: didn't found BLE service",
         kDisconnecting + h, "E BLE NoxBleProvider::Disconnect: didn't found BLE service"},
        {"NoxBleProvider::FindBleDevice", "NoxBleProvider::Disconnect"});
    EXPECT_TRUE(data == Bytes{9} && CallsWithResults().empty());
}

// A failed write costs one refresh and one pause, on the same session, and
// the write again; a failed read likewise, and the repeated read (of what the
// repeated write left) fills the caller's vector. After the services changed
// a transfer rediscovers them first. A write carries at most 512 bytes.
// Each failed refresh of a recovery closes the session in use and opens the
// next; after six the recovery gives up, keeping the last session. A failed
// establishment is retried at once; when the retry fails too the recovery
// ends and Send fails to connect.
TEST_F(Transfer, TheRoadOfTransfersThroughARecoveryAndOfRecoveriesThatGiveUp) {
    const std::uint32_t handle = ConnectPhone();
    const std::string h = std::to_string(handle);
    const Bytes data = {'r', 'o', 'a', 'd'};
    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_INVALID_LENGTH, 1);
    const Timed send = TimedOutcome([&] { provider->Send(handle, data); });
    EXPECT_EQ(send.outcome, "none");
    EXPECT_TRUE(send.seconds >= 0.9 && send.seconds < 3.0) << send.seconds;
    EXPECT_EQ(CallsWithResults(),
              Calls("CharacteristicWriteLong=" + Code(LEAPI_ERROR_INVALID_LENGTH) + " " + kRefresh +
                    " CharacteristicWriteLong"));
    ExpectRecords({"I BLE_STRING NoxBleProvider::Send: sending data by handle " + h, kLooking + h,
                   CheckRecord(LEAPI_ERROR_INVALID_LENGTH, "LEAPI_CharacteristicWriteLong"),
                   kOwn + "Start Recovery Connection", Attempt(0, false),
                   kOwn + "Refresg services done, resend the data ",
                   "I BLE_STRING NoxBleProvider::Send: RecoveryConnection done, resend the data "},
                  {"NoxBleProvider::Send", "NoxBleProvider::FindBleDevice", "CheckLeapiReturnCode",
                   "BleDevice::RecoveryConnection"});
    Settle();
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    Bytes read = {7};
    EXPECT_TRUE(Outcome([&] { provider->Receive(handle, 1000, read); }) == "none" && read == data);
    ExpectRecords({"I BLE_STRING NoxBleProvider::Receive: receiving data by handle " + h,
                   "I BLE_STRING NoxBleProvider::Receive: RecoveryConnection done, read the data "},
                  {"NoxBleProvider::Receive"});
    Raise(device->SessionHandle(), LEAPI_EVENT_SERVICES_CHANGED);
    Settle();
    provider->Receive(handle, 0, read);
    EXPECT_EQ(CallsWithResults(), Calls(kRefresh + " CharacteristicReadLong"));
    for (const std::size_t size : {600u, 5u, 0u}) {  // what the phone's characteristic got
        Bytes bytes(size), written(512);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        EXPECT_EQ(Outcome([&] { provider->Send(handle, bytes); }), "none");
        written.resize(LeSimLastWrittenValue(phone.id, phone.valueHandle, written.data(), 512));
        bytes.resize(std::min<std::size_t>(size, 512));
        EXPECT_EQ(written, bytes) << size;
    }

    const std::uint64_t first = device->SessionHandle();
    Settle();
    LeSimScript("LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 6);
    const Timed took = TimedOutcome([&] { EXPECT_FALSE(device->RecoveryConnection()); });
    EXPECT_TRUE(took.outcome == "none" && took.seconds >= 5.9 && took.seconds < 15) << took.seconds;
    const auto closes = JournalOf("LEAPI_GATTSessionClose");
    const auto opens = JournalOf("LEAPI_GATTSessionEstablishEx");
    ASSERT_TRUE(closes.size() == 6 && opens.size() == 6);
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(closes[i].args[0], i == 0 ? first : opens[i - 1].args[4]);
    EXPECT_TRUE(device->SessionHandle() == opens[5].args[4] &&
                LeSimSessionOf(phone.id) == opens[5].args[4]);
    Lines expected = {kOwn + "Start Recovery Connection"};
    for (int attempt = 0; attempt < 6; ++attempt)
        expected.insert(expected.end(), {Attempt(attempt, false), Attempt(attempt, true)});
    ExpectRecords(expected, {"BleDevice::RecoveryConnection"});

    Settle();
    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    LeSimScript("LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 1);
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_DEVICE_NOT_FOUND, 2);
    const Timed failed = TimedOutcome([&] { provider->Send(handle, {4}); });
    EXPECT_EQ(failed.outcome, "ConnectionFailed");
    EXPECT_TRUE(failed.seconds >= 0.9 && failed.seconds < 3.0) << failed.seconds;  // one pause
    const std::string refused = "GATTSessionEstablishEx=" + Code(LEAPI_ERROR_DEVICE_NOT_FOUND);
    EXPECT_EQ(CallsWithResults(),
              Calls("CharacteristicWriteLong=" + Code(LEAPI_ERROR_NOT_PERMITTED) +
                    " ServicesDiscoveryStartByUUID=" + Code(LEAPI_ERROR_NOT_PERMITTED) +
                    " GATTSessionClose " + refused + " " + refused));
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    ExpectRecords(
        {kOwn + "Start Recovery Connection", Attempt(0, false), Attempt(0, true),
         kOwn + "GATTSessionEstablish failed, retry again", kOwn + "GATTSessionEstablish failed"},
        {"BleDevice::RecoveryConnection"});
}

// A refusal is a failure even when the record carries data; "again" with data
// is that data.
TEST_F(Transfer, AReadPollsUntilDataOrTheTimeOutAndReturnsExactlyTheBytesRead) {
    const std::uint32_t handle = ConnectPhone();
    const struct {
        std::uint32_t again, fewestCalls, mostCalls;  // scripted "again" answers; read calls
        bool data;
        std::uint32_t carried;  // the code of a first answer with data
        std::int64_t timeoutMs;
        double least, most;  // seconds
    } rows[] = {
        {0, 1, 1, false, 0, 0, 0, 1},                        // nothing, time-out 0: one call
        {2, 3, 3, true, 0, 1000, 0, 0.5},                    // again twice, then data: at once
        {0xFFFFFFFFu, 21, 1u << 30, false, 0, 300, 0.3, 3},  // again all along: no pause
        {0, 2, 4, false, 0, 250, 0.25, 3},                   // empty answers: every 100 ms
#if !defined(_WIN32)
        {0, 1, 1, false, LEAPI_ERROR_AGAIN, 2000, 0, 0.5},        // read at once
        {0, 2, 2, false, LEAPI_ERROR_NOT_PERMITTED, 50, 0.9, 3},  // a recovery, read again
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timeoutMs);
        carried = row.carried;
        if (row.data) LeSimQueueReadValue(phone.id, phone.valueHandle, kFive.data(), 5);
        LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_AGAIN, row.again);
        Settle();
        Bytes out(20, 0xEE);
        const Timed read = TimedOutcome([&] { provider->Receive(handle, row.timeoutMs, out); });
        EXPECT_EQ(read.outcome, "none");
        EXPECT_EQ(out, row.data || row.carried == LEAPI_ERROR_AGAIN ? kFive : Bytes{});
        EXPECT_TRUE(read.seconds >= row.least && read.seconds < row.most) << read.seconds;
        const std::size_t calls = JournalOf("LEAPI_CharacteristicReadLong").size();
        EXPECT_TRUE(calls >= row.fewestCalls && calls <= row.mostCalls) << calls;
        LeSimClearScripts();
    }
}

TEST_F(Transfer, OperationsOfOtherThreadsGiveUpTheLockAfterTheirOwnWait) {
    const std::uint32_t handle = ConnectPhone();
    Bytes received, data;
    // The holder: a read that gets nothing for 4 s, the lock held throughout.
    std::thread holder([&] { provider->Receive(handle, 4000, received); });
    for (int i = 0; i < 1000 && LeSimJournalCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GT(LeSimJournalCount(), 0u);
    struct {
        const char *function, *lock;  // the name its failure gives the lock
        double wait;
        std::function<void()> op;
        Timed result;
    } contenders[] = {
        {"Connect", "Connect", 1.0, [&] { provider->Connect(EntryOf(phone)); }, {}},
        {"Send", "Disconnecting", 1.0, [&] { provider->Send(handle, {1}); }, {}},
        {"Receive", "Disconnecting", 1.0, [&] { provider->Receive(handle, 0, data); }, {}},
        {"Disconnect", "Disconnecting", 3.0, [&] { provider->Disconnect(handle); }, {}},
        {"GetRSSI", "Connect", 3.0, [&] { provider->GetRSSI(EntryOf(phone)); }, {}},
    };
    std::vector<std::thread> threads;
    for (auto& c : contenders) threads.emplace_back([&c] { c.result = TimedOutcome(c.op); });
    for (std::thread& t : threads) t.join();
    holder.join();
    const Lines lines = trace.Of();
    for (const auto& c : contenders) {
        const std::string failure = std::string("E BLE NoxBleProvider::") + c.function + ": " +
                                    c.lock + " did not get the lock";
        // Within a second of its own wait: a wait a second longer is a fault.
        EXPECT_TRUE(c.result.outcome == "ConnectionFailed" && c.result.seconds >= c.wait - 0.1 &&
                    c.result.seconds < c.wait + 0.9 &&
                    (!Trace::Available() || std::count(lines.begin(), lines.end(), failure) == 1))
            << c.function << " " << c.result.outcome << " " << c.result.seconds;
    }
    // Nobody but the holder reached the stack, and the connection is still there.
    for (const std::string& call : JournalNames()) EXPECT_EQ(call, "LEAPI_CharacteristicReadLong");
    EXPECT_EQ(Outcome([&] { provider->Send(handle, {2}); }), "none");
}

}  // namespace
