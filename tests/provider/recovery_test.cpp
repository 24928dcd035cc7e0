// BleDevice::RecoveryConnection: pauses, rediscoveries, session reopening and
// its own records, all of them Info. (A first try that succeeds is the road
// of one Send in transfer_test.cpp.)
#include "providerfixture.h"

namespace {

class Recovery : public ProviderTest {
  protected:
    void ExpectOwnRecords(const Lines& expected) {
        ExpectRecords(expected, {"BleDevice::RecoveryConnection"});
    }
};

const std::string kOwn = "I BLE_STRING BleDevice::RecoveryConnection: ";

std::string Pause(int attempt) {
    return kOwn + "RefreshServices, attempt no. " + std::to_string(attempt) + " sleep for 1 sec";
}

std::string Failure(int attempt) {
    return kOwn + "Failed to RefreshServices, attempt no. " + std::to_string(attempt);
}

TEST_F(Recovery, GivesUpAfterSixFailedRediscoveriesKeepingTheLastSession) {
    ConnectPhone();
    const std::uint64_t first = device->SessionHandle();
    LeSimScript("LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 6);
    bool recovered = true;
    const Timed took = TimedOutcome([&] { recovered = device->RecoveryConnection(); });
    EXPECT_EQ(took.outcome, "none");
    EXPECT_FALSE(recovered);
    EXPECT_GE(took.seconds, 5.9);
    EXPECT_LT(took.seconds, 15.0);

    // Each failed refresh closes the session in use and opens the next.
    const auto closes = JournalOf("LEAPI_GATTSessionClose");
    const auto opens = JournalOf("LEAPI_GATTSessionEstablishEx");
    ASSERT_EQ(closes.size(), 6u);
    ASSERT_EQ(opens.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(closes[i].result == 0 && opens[i].result == 0);
        EXPECT_EQ(closes[i].args[0], i == 0 ? first : opens[i - 1].args[4]);
    }
    EXPECT_EQ(device->SessionHandle(), opens[5].args[4]);
    EXPECT_EQ(LeSimSessionOf(phone.id), opens[5].args[4]);
    Lines expected = {kOwn + "Start Recovery Connection"};
    for (int attempt = 0; attempt < 6; ++attempt) {
        expected.push_back(Pause(attempt));
        expected.push_back(Failure(attempt));
    }
    ExpectOwnRecords(expected);
}

TEST_F(Recovery, AfterALostLinkRetriesAFailedEstablishmentAtOnceAndGoesOn) {
    const std::uint32_t handle = ConnectPhone();
    LeSimDropSession(device->SessionHandle());
    Settle();
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_DEVICE_NOT_FOUND, 1);
    const Timed send = TimedOutcome([&] { provider->Send(handle, {4}); });
    EXPECT_EQ(send.outcome, "none");
    EXPECT_GE(send.seconds, 1.9);  // two pauses
    EXPECT_LT(send.seconds, 6.0);
    const auto opens = JournalOf("LEAPI_GATTSessionEstablishEx");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_TRUE(opens[0].result == LEAPI_ERROR_DEVICE_NOT_FOUND && opens[1].result == 0);
    const std::uint64_t reopened = opens[1].args[4];
    EXPECT_EQ(device->SessionHandle(), reopened);
    EXPECT_EQ(LeSimSessionOf(phone.id), reopened);
    const auto writes = JournalOf("LEAPI_CharacteristicWriteLong");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].result, LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_TRUE(writes[1].result == 0 && writes[1].args[0] == reopened);
    ExpectOwnRecords({kOwn + "Start Recovery Connection", Pause(0), Failure(0),
                      kOwn + "GATTSessionEstablish failed, retry again", Pause(1),
                      kOwn + "Refresg services done, resend the data "});
}

TEST_F(Recovery, ThatCannotReopenTheSessionMakesSendFailToConnect) {
    const std::uint32_t handle = ConnectPhone();
    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    LeSimScript("LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 1);
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_DEVICE_NOT_FOUND, 2);
    const Timed send = TimedOutcome([&] { provider->Send(handle, {1}); });
    EXPECT_EQ(send.outcome, "ConnectionFailed");
    EXPECT_GE(send.seconds, 0.9);
    EXPECT_LT(send.seconds, 3.0);
    // A single try: nothing after the second refused establishment.
    const std::string refused = "=" + Code(LEAPI_ERROR_DEVICE_NOT_FOUND);
    EXPECT_EQ(CallsWithResults(),
              (Lines{"LEAPI_CharacteristicWriteLong=" + Code(LEAPI_ERROR_NOT_PERMITTED),
                     "LEAPI_ServicesDiscoveryStartByUUID=" + Code(LEAPI_ERROR_NOT_PERMITTED),
                     "LEAPI_GATTSessionClose", "LEAPI_GATTSessionEstablishEx" + refused,
                     "LEAPI_GATTSessionEstablishEx" + refused}));
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    ExpectOwnRecords({kOwn + "Start Recovery Connection", Pause(0), Failure(0),
                      kOwn + "GATTSessionEstablish failed, retry again",
                      kOwn + "GATTSessionEstablish failed"});
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of({"NoxBleProvider::Send"}).size(), 1u);
    }
    EXPECT_EQ(Outcome([&] { provider->Disconnect(handle); }), "none");
}

}  // namespace
