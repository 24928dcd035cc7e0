// The provider operations as a host drives them: the module loaded at run
// time, a provider from the exported factory with an events object, and
// failures caught by exact type.
#include <gtest/gtest.h>

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/noxb.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "moduleloader.h"
#include "providertest.h"

namespace {

using providertest::General;
using providertest::Outcome;
using providertest::WaitUntil;
using Bytes = std::vector<std::uint8_t>;

// What reached the host, and on which thread.
class HostEvents final : public IBleGattEvents {
  public:
    struct Call {
        void* context;
        std::thread::id thread;
        std::uint64_t session;  // OnSessionEstablished
        Bytes bytes;            // OnCharacteristicData: the notifications; else the address
    };

    virtual ~HostEvents() = default;
    void OnDeviceDisconnected(void* ctx, BleDevice* device) override {
        const std::uint8_t* address = device->deviceInfo.address;
        Add(disconnected, {ctx, std::this_thread::get_id(), 0, Bytes(address, address + 6)});
    }
    void OnCharacteristicData(void* ctx, BleCharacteristicInfo* characteristic) override {
        const std::string taken = characteristic->characteristic->TakeNotifications();
        Add(data, {ctx, std::this_thread::get_id(), 0, Bytes(taken.begin(), taken.end())});
    }
    void OnSessionEstablished(void* ctx, std::uint64_t session) override {
        Add(established, {ctx, std::this_thread::get_id(), session, {}});
    }

    // Waits for the n-th call of a kind and returns a copy of the calls.
    std::vector<Call> Await(const std::vector<Call>& kind, std::size_t n) {
        WaitUntil([&] {
            std::lock_guard<std::mutex> hold(guard);
            return kind.size() >= n;
        });
        std::lock_guard<std::mutex> hold(guard);
        return kind;
    }

    std::mutex guard;
    std::vector<Call> disconnected, data, established;

  private:
    void Add(std::vector<Call>& kind, Call call) {
        std::lock_guard<std::mutex> hold(guard);
        kind.push_back(std::move(call));
    }
};

class Host : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        LeSimLoadDefaultWorld();
        ASSERT_TRUE(module.Loaded()) << module.Error();
        const auto create = module.Export<noxb::CreateBleGattInstanceWithEventsFn>(
            noxb::kCreateBleGattInstanceWithEventsName);
        ASSERT_NE(create, nullptr);
        provider = create(&context, &events);
        ASSERT_NE(provider, nullptr);
    }
    void TearDown() override {
        delete provider;
        LeSimReset();
    }

    // The scan's first-pass entry with this name.
    BleDeviceEntry Found(const std::vector<BleDeviceEntry>& entries, const std::wstring& name) {
        for (const BleDeviceEntry& entry : entries) {
            if (entry.name == name && entry.firstPass) return entry;
        }
        ADD_FAILURE() << "not found by the scan";
        return {};
    }

    static constexpr std::uint32_t kPixel = 1;  // the default world's phone with the data service
    LoadedModule module;
    int context = 0;  // its address is the host's context
    HostEvents events;
    noxb::IBTProvider* provider = nullptr;
};

TEST_F(Host, ScansConnectsExchangesDataReadsSignalAndDisconnects) {
    const BleDeviceEntry pixel = Found(provider->Scan(0), L"Pixel 8");
    EXPECT_TRUE(pixel.connectable);
    const std::uint32_t handle = provider->Connect(pixel);
    const auto established = events.Await(events.established, 1);
    ASSERT_EQ(established.size(), 1u);
    EXPECT_EQ(established[0].context, &context);
    EXPECT_EQ(established[0].session, LeSimSessionOf(kPixel));
    EXPECT_NE(established[0].thread, std::this_thread::get_id());

    // More than one value event carries it back; the host is told once.
    Bytes sent(300);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i);
    provider->Send(handle, sent);
    const auto notified = events.Await(events.data, 1);
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_EQ(notified[0].context, &context);
    EXPECT_NE(notified[0].thread, std::this_thread::get_id());
    EXPECT_EQ(notified[0].bytes, sent);

    Bytes received;
    provider->Receive(handle, 1000, received);
    EXPECT_EQ(received, sent);

    EXPECT_EQ(provider->GetRSSI(pixel), -58);
    LeSimSetDeviceRssi(kPixel, -71);
    EXPECT_EQ(provider->GetRSSI(pixel), -71);

    provider->Disconnect(handle);
    EXPECT_EQ(LeSimSessionCount(), 0u);
    EXPECT_EQ(Outcome([&] { provider->Send(handle, sent); }), "ServiceNotFound");
    EXPECT_EQ(Outcome([&] { provider->Receive(handle, 0, received); }), "ServiceNotFound");
    EXPECT_EQ(Outcome([&] { provider->GetRSSI(pixel); }), "ConnectionFailed");
    EXPECT_EQ(Outcome([&] { provider->Disconnect(handle); }), "none");
}

TEST_F(Host, LearnsOfALostLinkAndCatchesEachFailureByItsType) {
    const std::vector<BleDeviceEntry> entries = provider->Scan(0);
    const BleDeviceEntry pixel = Found(entries, L"Pixel 8");
    // A tablet without the data service: the session opened is closed again.
    EXPECT_EQ(Outcome([&] { provider->Connect(Found(entries, L"Galaxy Tab S9")); }),
              "ConnectionFailed");
    EXPECT_EQ(LeSimSessionCount(), 0u);
    const BleDeviceEntry nobody{L"Nobody", L"00:00:00:00:00:00", true, true};
    EXPECT_EQ(Outcome([&] { provider->Connect(nobody); }), "ConnectionFailed");

    const std::uint32_t handle = provider->Connect(pixel);
    LeSimDropSession(LeSimSessionOf(kPixel));
    const auto lost = events.Await(events.disconnected, 1);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].context, &context);
    EXPECT_EQ(lost[0].bytes, (Bytes{0xC4, 0x3A, 0x1F, 0x58, 0x20, 0x01}));
    EXPECT_NE(lost[0].thread, std::this_thread::get_id());
    EXPECT_EQ(Outcome([&] { provider->GetRSSI(pixel); }), "ConnectionFailed");
    EXPECT_EQ(Outcome([&] { provider->Disconnect(handle); }), "none");
    EXPECT_EQ(Outcome([&] { provider->Send(handle, {1}); }), "ServiceNotFound");

    provider->Connect(pixel);
    LeSimScript("LEAPI_GATTSessionRSSIGet", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(Outcome([&] { provider->GetRSSI(pixel); }), General(LEAPI_ERROR_NOT_PERMITTED));
}

}  // namespace
