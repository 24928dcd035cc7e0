// What the logger writes to the trace system, seen from a trace session.
#include <gtest/gtest.h>

#include <noxb/Trace.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "logging/eventprovider.h"
#include "logging/korvelloggerble.h"
#include "logging/log.h"
#include "tracecapture.h"

namespace {

constexpr std::uint64_t kKeyword = noxb::trace::kKeyword;

void LogAt(LogLevel level, const std::string& message = "m") {
    KorvelLoggerBle::Instance()->Log(level, "BLE", "F::G", "a\\b.cpp", 1, message);
}

LogLevel Level(unsigned value) { return static_cast<LogLevel>(value); }

// Logs once at each level 0..4 and 255; returns the ids written.
std::vector<std::uint16_t> IdsWrittenForEveryLevel(TraceCapture& capture) {
    capture.Clear();
    for (unsigned level : {0u, 1u, 2u, 3u, 4u, 255u}) {
        LogAt(Level(level));
    }
    std::vector<std::uint16_t> ids;
    for (const CapturedEvent& event : capture.Events()) {
        ids.push_back(event.descriptor.Id);
    }
    return ids;
}

CapturedEvent OnlyEvent(const TraceCapture& capture) {
    const std::vector<CapturedEvent> events = capture.Events();
    EXPECT_EQ(events.size(), 1u);
    return events.empty() ? CapturedEvent{} : events.front();
}

using Ids = std::vector<std::uint16_t>;

TEST(Trace, NothingIsWrittenBeforeEnableOrAfterDisable) {
    TraceCapture capture;
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), Ids{});
    capture.Enable(0);
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), (Ids{2012, 2011, 2010, 2009}));
    capture.Disable();
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), Ids{});
}

struct EnableCase {
    const char* name;
    std::uint8_t level;
    std::uint64_t matchAny;
    std::uint64_t matchAll;
    Ids written;  // in the order Info, Warning, Error, Critical
};

class TraceEnable : public testing::TestWithParam<EnableCase> {};

TEST_P(TraceEnable, EnablesTheEventsWhoseLevelAndKeywordMatch) {
    const EnableCase& c = GetParam();
    TraceCapture capture;
    capture.Enable(c.level, c.matchAny, c.matchAll);
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndKeywords, TraceEnable,
    testing::Values(EnableCase{"LevelZero", 0, kKeyword, 0, {2012, 2011, 2010, 2009}},
                    EnableCase{"Level4", 4, kKeyword, 0, {2012, 2011, 2010, 2009}},
                    EnableCase{"Level255", 255, kKeyword, 0, {2012, 2011, 2010, 2009}},
                    EnableCase{"Level3", 3, kKeyword, 0, {2011, 2010, 2009}},
                    EnableCase{"Level2", 2, kKeyword, 0, {2010, 2009}},
                    EnableCase{"Level1AnyKeyword", 1, ~0ull, 0, {2009}},
                    EnableCase{"NoMatchAny", 4, 0, 0, {}},
                    EnableCase{"OtherKeywordOnly", 4, 0x1, 0, {}},
                    EnableCase{
                        "MatchAllSatisfied", 4, kKeyword, kKeyword, {2012, 2011, 2010, 2009}},
                    EnableCase{"MatchAllUnsatisfied", 4, kKeyword, kKeyword | 0x1, {}}),
    [](const testing::TestParamInfo<EnableCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(Trace, ControlCodesOtherThanEnableAndDisableChangeNothing) {
    EventProviderContext context;
    ApplyEnableRequest(context, 1, 2, kKeyword, 0);
    ApplyEnableRequest(context, 2, 4, 0, 0);
    EXPECT_EQ(context.enableBitMask.load(), 0x3u);
    EXPECT_EQ(context.level.load(), 2);
    EXPECT_EQ(context.isEnabled.load(), 1u);
    ApplyEnableRequest(context, 0, 4, kKeyword, kKeyword);
    EXPECT_EQ(context.enableBitMask.load(), 0u);
    EXPECT_EQ(context.isEnabled.load(), 0u);
    EXPECT_EQ(context.matchAnyKeyword.load(), 0u);
}

TEST(Trace, DescriptorsOfTheFourEvents) {
    TraceCapture capture;
    capture.Enable(0);
    for (unsigned level = 0; level < 4; ++level) {
        capture.Clear();
        LogAt(Level(level));
        const EVENT_DESCRIPTOR d = OnlyEvent(capture).descriptor;
        EXPECT_EQ(d.Id, 2012 - level);
        EXPECT_EQ(d.Level, 4 - level);
        EXPECT_EQ(d.Version, 0);
        EXPECT_EQ(d.Channel, 17);
        EXPECT_EQ(d.Opcode, 0);
        EXPECT_EQ(d.Task, 0);
        EXPECT_EQ(d.Keyword, kKeyword);
    }
}

TEST(Trace, PayloadIsFiveTerminatedStringsInOrder) {
    TraceCapture capture;
    capture.Enable(0);
    KorvelLoggerBle::Instance()->Log(LogLevel::Error, "BLE", "NoxBleProvider::Connect",
                                     "nox_gatt\\blegattwrapper\\noxbleprovider.cpp", 42,
                                     "Connect did not get the lock");
    const CapturedEvent event = OnlyEvent(capture);
    EXPECT_TRUE(event.terminated);
    EXPECT_EQ(event.fields,
              (std::vector<std::string>{"Connect did not get the lock", "BLE",
                                        "NoxBleProvider::Connect", "42", "noxbleprovider.cpp"}));
    EXPECT_EQ(event.sizes, (std::vector<std::uint32_t>{29, 4, 24, 3, 19}));
}

TEST(Trace, FunctionNameLosesWhatPrecedesTheFirstColonsWhenItMentionsNoxb) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"noxb::BluetoothProvider::ConnectionFailedException",
         "BluetoothProvider::ConnectionFailedException"},
        {"NoxBleProvider::Connect", "NoxBleProvider::Connect"},
        {"a::noxb::b", "noxb::b"},
        {"noxb::", ""},
        {"noxb:", "noxb:"},
        {"xnoxb::y", "y"},
        {"CheckLeapiReturnCode", "CheckLeapiReturnCode"},
        {"", ""},
    };
    TraceCapture capture;
    capture.Enable(4);
    for (const auto& c : cases) {
        capture.Clear();
        KorvelLoggerBle::Instance()->Log(LogLevel::Info, "BLE_STRING", c.first, "f", 1, "m");
        const CapturedEvent event = OnlyEvent(capture);
        EXPECT_EQ(event.Function(), c.second) << c.first;
        EXPECT_EQ(event.sizes.at(noxb::trace::kFunction), c.second.size() + 1) << c.first;
    }
}

TEST(Trace, FileIsTheTextAfterTheLastBackslash) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"nox_gatt\\noxblegatt\\dllmain.cpp", "dllmain.cpp"},
        {"dllmain.cpp", "dllmain.cpp"},
        {"nox_gatt/noxblegatt/dllmain.cpp", "nox_gatt/noxblegatt/dllmain.cpp"},
        {"C:\\src/x\\y/z.cpp", "y/z.cpp"},
        {"nox_gatt\\", ""},
    };
    TraceCapture capture;
    capture.Enable(4);
    for (const auto& c : cases) {
        capture.Clear();
        KorvelLoggerBle::Instance()->Log(LogLevel::Info, "BLE_STRING", "F::G", c.first, 1, "m");
        const CapturedEvent event = OnlyEvent(capture);
        EXPECT_EQ(event.File(), c.second) << c.first;
        EXPECT_EQ(event.sizes.at(noxb::trace::kFile), c.second.size() + 1) << c.first;
    }
}

TEST(Trace, LineIsUnsignedDecimal) {
    TraceCapture capture;
    capture.Enable(4);
    for (unsigned line : {0u, 7u, 4294967295u}) {
        KorvelLoggerBle::Instance()->Log(LogLevel::Info, "BLE_STRING", "F::G", "f", line, "m");
    }
    const std::vector<CapturedEvent> events = capture.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].Line(), "0");
    EXPECT_EQ(events[1].Line(), "7");
    EXPECT_EQ(events[2].Line(), "4294967295");
    EXPECT_EQ(events[2].sizes.at(noxb::trace::kLine), 11u);
}

TEST(Trace, LogStatementRecordsItsOwnFileAndLine) {
    TraceCapture capture;
    capture.Enable(4);
    const unsigned line = __LINE__ + 1;
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test", "statement");
    const CapturedEvent event = OnlyEvent(capture);
    EXPECT_EQ(event.File(), "trace_test.cpp");
    EXPECT_EQ(event.Line(), std::to_string(line));
    EXPECT_EQ(event.Module(), "BLE_STRING");
    EXPECT_EQ(event.Message(), "statement");
}

TEST(Trace, MessagesAreCutAt1023AndHostTextIsKeptAsItIs) {
    TraceCapture capture;
    capture.Enable(4);
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test", std::string(2000, 'n'));
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test", "");
    // A device name chosen by the outside world.
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test",
             std::string("find BLE decvice %s%n%d 100% in devices list by address"));
    const std::vector<CapturedEvent> events = capture.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].Message(), std::string(1023, 'n'));
    EXPECT_EQ(events[0].sizes.at(noxb::trace::kMessage), 1024u);
    EXPECT_EQ(events[1].Message(), "");
    EXPECT_EQ(events[1].sizes.at(noxb::trace::kMessage), 1u);
    EXPECT_EQ(events[2].Message(), "find BLE decvice %s%n%d 100% in devices list by address");
}

// The trace system changes the enable state on its own thread while the
// module logs on the host's and the stack's threads.
TEST(Trace, EnableChangesRaceWithWritersSafely) {
    TraceCapture capture;
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int i = 0; i < 2; ++i) {
        writers.emplace_back([&stop] {
            for (int n = 0; n < 2000 && !stop; ++n) {
                LogAt(LogLevel::Info, "racing");
            }
        });
    }
    for (int n = 0; n < 50; ++n) {
        capture.Enable(4);
        capture.Disable();
    }
    stop = true;
    for (std::thread& writer : writers) {
        writer.join();
    }
    for (const CapturedEvent& event : capture.Events()) {
        EXPECT_TRUE(event.terminated);
        EXPECT_EQ(event.Message(), "racing");
    }
    capture.Clear();
    LogAt(LogLevel::Info);
    EXPECT_TRUE(capture.Events().empty());
}

}  // namespace
