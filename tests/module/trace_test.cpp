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
using Ids = std::vector<std::uint16_t>;
const Ids kAll = {2012, 2011, 2010, 2009};  // Info, Warning, Error, Critical

void Log(LogLevel level, const std::string& function = "F::G", const std::string& file = "a\\b.c",
         unsigned line = 1, const std::string& message = "m") {
    KorvelLoggerBle::Instance()->Log(level, "BLE", function, file, line, message);
}

// Logs once at each level 0..4 and 255; returns the ids written.
Ids IdsWrittenForEveryLevel(TraceCapture& capture) {
    capture.Clear();
    for (unsigned level : {0u, 1u, 2u, 3u, 4u, 255u}) Log(static_cast<LogLevel>(level));
    Ids ids;
    for (const CapturedEvent& event : capture.Events()) ids.push_back(event.descriptor.Id);
    return ids;
}

CapturedEvent OnlyEvent(const TraceCapture& capture) {
    const std::vector<CapturedEvent> events = capture.Events();
    EXPECT_EQ(events.size(), 1u);
    return events.empty() ? CapturedEvent{} : events.front();
}

TEST(Trace, EnablesTheEventsWhoseLevelAndKeywordMatchAndNothingBeforeOrAfter) {
    TraceCapture capture;
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), Ids{});
    const struct {
        std::uint8_t level;
        std::uint64_t matchAny, matchAll;
        Ids written;
    } rows[] = {
        {0, kKeyword, 0, kAll},
        {255, kKeyword, kKeyword, kAll},
        {3, kKeyword, 0, {2011, 2010, 2009}},
        {2, kKeyword, 0, {2010, 2009}},
        {1, ~0ull, 0, {2009}},
        {4, 0, 0, {}},
        {4, 0x1, 0, {}},
        {4, kKeyword, kKeyword | 0x1, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << int{row.level} << " " << row.matchAny);
        capture.Enable(row.level, row.matchAny, row.matchAll);
        EXPECT_EQ(IdsWrittenForEveryLevel(capture), row.written);
    }
    capture.Disable();
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), Ids{});
}

TEST(Trace, ControlCodesOtherThanEnableAndDisableChangeNothing) {
    EventProviderContext context;
    ApplyEnableRequest(context, 1, 2, kKeyword, 0);
    ApplyEnableRequest(context, 2, 4, 0, 0);
    EXPECT_EQ(context.enableBitMask.load(), 0x3u);
    EXPECT_EQ(context.isEnabled.load(), 1u);
    ApplyEnableRequest(context, 0, 4, kKeyword, kKeyword);
    EXPECT_EQ(context.enableBitMask.load(), 0u);
    EXPECT_EQ(context.isEnabled.load(), 0u);
}

TEST(Trace, EventsAreFiveTerminatedStringsInOrderUnderTheirDescriptor) {
    TraceCapture capture;
    capture.Enable(0);
    for (unsigned level = 0; level < 4; ++level) {
        capture.Clear();
        Log(static_cast<LogLevel>(level));
        const EVENT_DESCRIPTOR d = OnlyEvent(capture).descriptor;
        EXPECT_TRUE(d.Id == 2012 - level && d.Level == 4 - level) << level;
        EXPECT_TRUE(d.Channel == 17 && d.Keyword == kKeyword) << level;
        EXPECT_TRUE(d.Version == 0 && d.Opcode == 0 && d.Task == 0) << level;
    }
    capture.Clear();
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

// The function loses what precedes the first "::" when it mentions noxb; the
// file keeps what follows the last backslash; the line is unsigned decimal.
TEST(Trace, FunctionFileAndLineFieldsAreCutAsRecorded) {
    const struct {
        const char *function, *file;
        unsigned line;
        const char *recordedFunction, *recordedFile, *recordedLine;
    } rows[] = {
        {"noxb::BluetoothProvider::ConnectionFailedException", "nox_gatt\\x\\dllmain.cpp", 0,
         "BluetoothProvider::ConnectionFailedException", "dllmain.cpp", "0"},
        {"NoxBleProvider::Connect", "dllmain.cpp", 4294967295u, "NoxBleProvider::Connect",
         "dllmain.cpp", "4294967295"},
        {"a::noxb::b", "nox_gatt/noxblegatt/dllmain.cpp", 7, "noxb::b",
         "nox_gatt/noxblegatt/dllmain.cpp", "7"},
        {"noxb::", "C:\\src/x\\y/z.cpp", 1, "", "y/z.cpp", "1"},
        {"noxb:", "nox_gatt\\", 1, "noxb:", "", "1"},
        {"xnoxb::y", "f", 1, "y", "f", "1"},
        {"", "f", 1, "", "f", "1"},
    };
    TraceCapture capture;
    capture.Enable(4);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.function);
        capture.Clear();
        Log(LogLevel::Info, row.function, row.file, row.line);
        const CapturedEvent event = OnlyEvent(capture);
        EXPECT_EQ(event.Function(), row.recordedFunction);
        EXPECT_EQ(event.File(), row.recordedFile);
        EXPECT_EQ(event.Line(), row.recordedLine);
        for (const auto field : {noxb::trace::kFunction, noxb::trace::kFile, noxb::trace::kLine}) {
            EXPECT_EQ(event.sizes.at(field), event.fields.at(field).size() + 1);
        }
    }
}

TEST(Trace, LogStatementsRecordTheirPlaceCutMessagesAt1023AndKeepHostText) {
    TraceCapture capture;
    capture.Enable(4);
    const unsigned line = __LINE__ + 1;
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test", std::string(2000, 'n'));
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test", "");
    // A device name chosen by the outside world.
    NOXB_LOG(LogLevel::Info, kModuleBleString, "Trace::Test",
             std::string("find BLE decvice %s%n%d 100% in devices list by address"));
    const std::vector<CapturedEvent> events = capture.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].File(), "trace_test.cpp");
    EXPECT_EQ(events[0].Line(), std::to_string(line));
    EXPECT_EQ(events[0].Module(), "BLE_STRING");
    EXPECT_EQ(events[0].Message(), std::string(1023, 'n'));
    EXPECT_EQ(events[0].sizes.at(noxb::trace::kMessage), 1024u);
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
            for (int n = 0; n < 2000 && !stop; ++n) Log(LogLevel::Info, "F::G", "f", 1, "racing");
        });
    }
    for (int n = 0; n < 50; ++n) {
        capture.Enable(4);
        capture.Disable();
    }
    stop = true;
    for (std::thread& writer : writers) writer.join();
    for (const CapturedEvent& event : capture.Events()) {
        EXPECT_TRUE(event.terminated && event.Message() == "racing");
    }
    capture.Clear();
    Log(LogLevel::Info);
    EXPECT_TRUE(capture.Events().empty());
}

}  // namespace
