// Device discovery and GATT sessions.
#include <chrono>

#include "sim_test_util.h"

namespace simtest {
namespace {

using LeSimDiscoveryTest = SimTest;

TEST_F(LeSimDiscoveryTest, FlagsSelectDevicesAndRecordsComeBackByteForByte) {
    LeDeviceRecord live;
    const std::uint8_t address[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0x01};
    LeSimMakeDeviceRecord(&live, address, "Live", 2, 12, -60, 1);
    live.reserved526[100] = 0xAB;  // bytes the stack does not interpret still travel
    ASSERT_EQ(LeSimAddDevice(&live, LEAPI_DISCOVERY_LIVE), 1u);
    AddDevice(2, "Known", true, LEAPI_DISCOVERY_KNOWN);
    AddDevice(3, "Both");
    ASSERT_EQ(LeSimRemoveDevice(AddDevice(4, "Gone").id), LEAPI_SUCCESS);
    LeSimSetDiscoveryPace(40);  // a paced run blocks in its start

    // Two runs at once, read interleaved.
    const auto t0 = std::chrono::steady_clock::now();
    std::uint64_t a = 0, b = 0;
    ASSERT_EQ(LEAPI_DevicesDiscoveryStart(2, LEAPI_DISCOVERY_LIVE, &a), LEAPI_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(75));
    ASSERT_EQ(LEAPI_DevicesDiscoveryStart(0, LEAPI_DISCOVERY_KNOWN, &b), LEAPI_SUCCESS);
    EXPECT_TRUE(a != 0 && b != 0 && a != b);
    LeDeviceRecord r;
    ASSERT_EQ(LEAPI_DevicesDiscoveryGetNext(a, &r), LEAPI_SUCCESS);
    EXPECT_EQ(std::memcmp(&r, &live, sizeof live), 0);
    const std::pair<std::uint64_t, int> reads[] = {{b, 2}, {a, 3}, {b, 3}};
    for (const auto& [run, last] : reads) {
        ASSERT_EQ(LEAPI_DevicesDiscoveryGetNext(run, &r), LEAPI_SUCCESS);
        EXPECT_EQ(r.address[5], last);
    }
    EXPECT_EQ(LEAPI_DevicesDiscoveryGetNext(a, &r), LEAPI_ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(LEAPI_DevicesDiscoveryEnd(a), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_DevicesDiscoveryGetNext(a, &r), LEAPI_ERROR_INVALID_DISCOVERY_HANDLE);
    EXPECT_EQ(LEAPI_DevicesDiscoveryEnd(a), LEAPI_ERROR_INVALID_DISCOVERY_HANDLE);
    EXPECT_EQ(LEAPI_DevicesDiscoveryEnd(b), LEAPI_SUCCESS);
}

using LeSimSessionTest = SimTest;

TEST_F(LeSimSessionTest, EstablishReportsTheSessionOnTheStacksThreadAndRefusalsChangeNothing) {
    TestDevice d = AddDevice(1);
    TestDevice mute = AddDevice(2, "Display", false);
    std::uint64_t session = Open(d, &rec);
    EXPECT_TRUE(session != 0 && session != LEAPI_NO_SESSION);
    EXPECT_EQ(LeSimSessionOf(d.id), session);
    LeSimFlushEvents();
    std::vector<Event> events = rec.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].code == LEAPI_EVENT_SESSION_ESTABLISHED && events[0].context == &rec);
    EXPECT_NE(events[0].thread, std::this_thread::get_id());
    LeSessionEstablishedEvent ev;
    std::memcpy(&ev, events[0].data.data(), sizeof ev);
    EXPECT_TRUE(F(ev.session) == session && F(ev.extra) == 247);

    std::uint64_t s = 77;
    std::uint16_t x = 88;
    auto cb = &Recorder::Callback;
    EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&d.record, cb, &rec, 2, &s, &x),
              LEAPI_ERROR_SESSION_EXISTS);
    EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&mute.record, cb, &rec, 2, &s, &x),
              LEAPI_ERROR_NOT_CONNECTABLE);
    EXPECT_TRUE(s == 77 && x == 88 && LeSimSessionCount() == 1);
    std::int16_t rssi = 0;
    ASSERT_EQ(LEAPI_GATTSessionRSSIGet(session, &rssi), LEAPI_SUCCESS);
    EXPECT_EQ(rssi, -60);
    // A closed handle is refused everywhere and never given out again.
    EXPECT_EQ(LEAPI_GATTSessionClose(session), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_GATTSessionClose(session), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(LEAPI_GATTSessionClose(LEAPI_NO_SESSION), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(session, &rssi), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_NE(Open(d, &rec), session);
}

}  // namespace
}  // namespace simtest
