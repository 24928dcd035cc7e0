// Fault injection: for each operation, every stack call of a successful run
// fails in turn, with each code the module treats specially for that function
// and with a code it knows nothing of. The run is replayed to the same point
// (the same state, then a script that lets the earlier calls of that function
// pass), and what it shows is checked against a classification of the failing
// call: what the host gets, the state afterwards, the records, and the lock,
// the session table and the stack's sessions agreeing with the device.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include "fixture.h"

namespace {

constexpr std::uint32_t kGeneric = 0xEAEA0005;  // no meaning to the module

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The code the module treats specially for a function, 0 if none.
std::uint32_t SpecialCode(const std::string& fn) {
    if (fn == "LEAPI_Initialize") return LEAPI_ALREADY_INITIALIZED;
    if (fn == "LEAPI_DevicesDiscoveryStart") return LEAPI_ERROR_BUSY;
    if (fn == "LEAPI_GATTSessionEstablishEx") return LEAPI_ERROR_SESSION_EXISTS;
    if (fn == "LEAPI_GATTSessionClose") return LEAPI_ERROR_INVALID_SESSION_HANDLE;
    if (Has(fn, "Subscribe")) return LEAPI_ERROR_NOT_OFFERED;
    return fn == "LEAPI_CharacteristicReadLong" ? LEAPI_ERROR_AGAIN : 0;
}

// Whether CheckLeapiReturnCode reports the failure: all calls but those whose
// callers judge the code themselves, and the codes they accept.
bool Checked(const std::string& fn, std::uint32_t code) {
    if (code == LEAPI_ERROR_AGAIN || code == LEAPI_ERROR_NOT_OFFERED) return false;
    for (const char* own : {"LEAPI_Initialize", "LEAPI_GATTSessionEstablishEx",
                            "LEAPI_GATTSessionClose", "LEAPI_DevicesDiscoveryStart",
                            "LEAPI_DevicesDiscoveryGetNext", "LEAPI_ServicesDiscoveryGetNext"}) {
        if (fn == own) return false;
    }
    return fn == "LEAPI_DevicesDiscoveryEnd" || !Has(fn, "DiscoveryEnd");
}

// What a failure gives: the first rule whose function part and code match.
// "%" in the outcome stands for the failing code.
struct Rule {
    const char* function;  // a part of the name; "" for any
    std::uint32_t code;    // 0 for any
    const char* seen;
    int earlier = -1;  // calls of the function before the failing one; -1 for any
};

// What a run shows is "<outcome> | <facts>"; the harness adds " stray=N" when
// the stack holds sessions the module does not know of.
struct Scenario {
    std::function<void()> setup;  // the state the operation starts from
    std::function<std::string()> run;
    std::vector<Rule> rules;
    std::string only = "";  // the functions failed in turn; empty: all
};

std::string Expected(const std::vector<Rule>& rules, const std::string& fn, std::uint32_t earlier,
                     std::uint32_t code) {
    for (const Rule& rule : rules) {
        if (!Has(fn, rule.function) || (rule.code != 0 && rule.code != code)) continue;
        if (rule.earlier >= 0 && static_cast<std::uint32_t>(rule.earlier) != earlier) continue;
        std::string seen = rule.seen;
        if (const std::size_t at = seen.find('%'); at != std::string::npos)
            seen.replace(at, 1, Code(code));
        return seen;
    }
    return "no rule";
}

class Faults : public WorldTest, public testing::WithParamInterface<const char*> {
  protected:
    // The device object the operation worked on: the connected one, or the
    // registry's.
    std::shared_ptr<BleDevice> Device() {
        return device ? device : provider->FindBleDevice(EntryOf(phone));
    }
    bool Connected() {
        const std::shared_ptr<BleDevice> dev = Device();
        return dev && Outcome([&] { provider->FindBleDevice(HandleOf(dev)); }) == "none";
    }
    // The outcome of `op`, whether the device is connected afterwards, and
    // how many refreshes of the services ran.
    std::string Connection(const std::function<void()>& op) {
        const std::string outcome = Outcome(op);
        return outcome + " | connected=" + std::to_string(Connected()) + " refreshes=" +
               std::to_string(JournalOf("LEAPI_ServicesDiscoveryStartByUUID").size());
    }

    // The lock is free, each device's session is the session table's and the
    // stack's, and a connection still carries data. Returns the number of
    // sessions the stack holds beyond the module's.
    int ExpectConsistent() {
        ExpectLockFree(*provider);
        std::size_t open = 0;
        if (const std::shared_ptr<BleDevice> dev = Device())
            open = ExpectSessionAgrees(*dev, phone.id);
        if (Connected()) {
            EXPECT_EQ(Outcome([&] { provider->Send(handle, {0x42}); }), "none");
            std::uint8_t last = 0;
            EXPECT_TRUE(LeSimLastWrittenValue(phone.id, phone.valueHandle, &last, 1) == 1 &&
                        last == 0x42);
        }
        return static_cast<int>(LeSimSessionCount() - open);
    }

    // The scenario from a fresh world whose provider has no events object;
    // with a code, the `earlier`-th call
    // after the earlier ones of `fn` fails.
    std::string Replay(const Scenario& s, const std::string& fn = "", std::uint32_t earlier = 0,
                       std::uint32_t code = 0) {
        TearDown();
        LeSimSetDiscoveryPace(0);
        phone = AddDevice();
        provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
        if (s.setup) s.setup();
        Settle();
        if (code != 0) {
            LeSimScript(fn.c_str(), 0, earlier);
            LeSimScript(fn.c_str(), code, 1);
        }
        const std::string seen = s.run();
        LeSimClearScripts();
        return seen;
    }

    // With a shard (0 or 1), only every other fault: the slow scenarios run
    // as two cases side by side.
    void Run(const Scenario& s, int shard) {
        const std::string ok = Replay(s);
        const std::vector<LeSimCall> calls = Journal();
        ASSERT_EQ(ok.substr(0, 7), "none | ");
        EXPECT_EQ(ExpectConsistent(), 0);
        std::size_t injected = 0;
        int candidate = 0;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const std::string fn = calls[i].function;
            if (calls[i].result != 0 || (!s.only.empty() && !Has(s.only, fn.c_str())))
                continue;  // it fails already, or is not one of those chosen
            std::uint32_t earlier = 0;
            for (std::size_t j = 0; j < i; ++j) earlier += fn == calls[j].function;
            for (std::uint32_t code : {SpecialCode(fn), kGeneric}) {
                if (code == 0 || (shard >= 0 && ++candidate % 2 != shard)) continue;
                SCOPED_TRACE(std::to_string(i) + ": " + fn + " = " + Code(code));
                ++injected;
                std::string seen = Replay(s, fn, earlier, code);
                const std::vector<LeSimCall> now = Journal();
                ASSERT_GT(now.size(), i);
                for (std::size_t j = 0; j < i; ++j)
                    EXPECT_STREQ(now[j].function, calls[j].function);
                EXPECT_TRUE(now[i].function == fn && now[i].result == code);
                const Lines checks = trace.Of({"CheckLeapiReturnCode"});
                EXPECT_EQ(std::count(checks.begin(), checks.end(), CheckRecord(code, fn)),
                          Trace::Available() && Checked(fn, code) ? 1 : 0);
                if (const int stray = ExpectConsistent()) seen += " stray=" + std::to_string(stray);
                EXPECT_EQ(seen, Expected(s.rules, fn, earlier, code));
            }
        }
        std::printf("faults: %s: %zu stack calls, %zu faults injected\n", GetParam(), calls.size(),
                    injected);
    }

    std::uint32_t handle = 0;
    Bytes data;
};

const char* const kConnected = "none | connected=1 refreshes=1";
const char* const kRefreshedTwice = "none | connected=1 refreshes=2";

TEST_P(Faults, EveryCallFailingInTurn) {
    // A set-up that connects the phone, then does what `then` does.
    const auto connected = [this](const std::function<void()>& then) -> std::function<void()> {
        return [this, then] {
            handle = ConnectPhone();
            then();
        };
    };
    const auto connect = connected([] {});
    const auto send = [this] { return Connection([&] { provider->Send(handle, {1, 2, 3}); }); };
    // A failed refresh or write recovers.
    const std::vector<Rule> afterServicesChanged = {{"DiscoveryEnd", 0, kConnected},
                                                    {"", LEAPI_ERROR_NOT_OFFERED, kConnected},
                                                    {"", 0, kRefreshedTwice}};
    const std::map<std::string, Scenario> scenarios = {
        // Destroy a provider with a connection, create the next.
        {"Lifecycle",
         {connect,
          [this] {
              provider.reset();
              device.reset();  // its session was never closed: the stack's business
              const std::size_t held = callbackHolders.Size();
              provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
              return "none | holders=" + std::to_string(held) +
                     " initialised=" + std::to_string(provider->StackInitialised());
          },
          // A stack that stays initialised keeps its session and the device it calls.
          {{"Uninitialize", 0, "none | holders=1 initialised=1 stray=1"},
           {"", LEAPI_ALREADY_INITIALIZED, "none | holders=0 initialised=1"},
           {"", 0, "none | holders=0 initialised=0"}}}},
        // Two passes; a failed start or first record empties a pass.
        {"Scan",
         {{},
          [this] {
              std::size_t n = 0;
              const std::string outcome = Outcome([&] { n = provider->Scan(1000).size(); });
              return outcome + " | entries=" + std::to_string(n) +
                     " registry=" + std::to_string(Device() != nullptr);
          },
          {{"", LEAPI_ERROR_BUSY, "none | entries=2 registry=1"},
           {"End", 0, "General % | entries=0 registry=0", 0},
           {"End", 0, "General % | entries=0 registry=1", 1},
           {"Start", 0, "none | entries=1 registry=0", 0},
           {"GetNext", 0, "none | entries=1 registry=0", 0},
           {"", 0, "none | entries=1 registry=1"}}}},
        // With no scan before: Connect scans first.
        {"Connect",
         {{},
          [this] { return Connection([&] { handle = provider->Connect(EntryOf(phone)); }); },
          {{"", LEAPI_ERROR_BUSY, kConnected},
           {"DevicesDiscoveryEnd", 0, "General % | connected=0 refreshes=0"},
           {"DevicesDiscovery", 0, "ConnectionFailed | connected=0 refreshes=0"},
           {"Establish", 0, "General % | connected=0 refreshes=0"},
           // The refresh: End calls are not judged, a refused subscription is
           // accepted, and any other failure is made good by a second refresh.
           afterServicesChanged[0],
           afterServicesChanged[1],
           afterServicesChanged[2]}}},
        // A refused close is only logged.
        {"Disconnect",
         {connect,
          [this] {
              const std::string seen = Connection([&] { provider->Disconnect(handle); });
              return seen + " holders=" + std::to_string(callbackHolders.Size());
          },
          // Unless the stack knows no such session, it may still call the device.
          {{"", LEAPI_ERROR_INVALID_SESSION_HANDLE,
            "none | connected=0 refreshes=0 holders=0 stray=1"},
           {"", 0, "none | connected=0 refreshes=0 holders=1 stray=1"}}}},
        {"SendAfterServicesChanged",
         {connected([this] { Raise(device->SessionHandle(), LEAPI_EVENT_SERVICES_CHANGED); }), send,
          afterServicesChanged}},
        // What is sent is echoed for the read. "Again" is asked again at
        // once, anything else recovers.
        {"Receive",
         {connected([this] {
              provider->Send(handle, {7, 7});
          }),
          [this] {
              data.clear();
              const std::string seen = Connection([&] { provider->Receive(handle, 500, data); });
              return seen + (data == Bytes{7, 7} ? " read" : " not read");
          },
          {{"", LEAPI_ERROR_AGAIN, "none | connected=1 refreshes=0 read"},
           {"", 0, "none | connected=1 refreshes=1 read"}}}},
        {"GetRSSI",
         {connect,
          [this] { return Connection([&] { provider->GetRSSI(EntryOf(phone)); }); },
          {{"", 0, "General % | connected=1 refreshes=0"}}}},
        // Recovery: the refresh fails, the session is reopened.
        {"SendAfterLostLink",
         {connected([this] { LeSimDropSession(device->SessionHandle()); }),
          send,
          // The repeated write's failure reaches the host; a refused opening
          // is asked again at once; a failed refresh costs one more try.
          {{"WriteLong", 0, "General % | connected=1 refreshes=2"},
           {"Establish", 0, kRefreshedTwice},
           {"", 0, "none | connected=1 refreshes=3"}},
          // Each try costs a second: the recovery's own calls, and of its
          // successful refresh only the first.
          "LEAPI_GATTSessionEstablishEx LEAPI_CharacteristicWriteLong "
          "LEAPI_ServicesDiscoveryStartByUUID"}},
    };
    const std::string param = GetParam();
    const std::size_t shard = param.find('_');
    Run(scenarios.at(param.substr(0, shard)),
        shard == std::string::npos ? -1 : std::stoi(param.substr(shard + 1)));
}

INSTANTIATE_TEST_SUITE_P(Operations, Faults,
                         testing::Values("Lifecycle", "Scan", "Connect", "Disconnect",
                                         "SendAfterServicesChanged_0", "SendAfterServicesChanged_1",
                                         "Receive", "GetRSSI", "SendAfterLostLink_0",
                                         "SendAfterLostLink_1"),
                         [](const auto& p) { return std::string(p.param); });

}  // namespace
