// What the logger writes to the trace system, seen from a trace session.
#include <gtest/gtest.h>

#include <noxb/Trace.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "logging/eventprovider.h"
#include "logging/korvelloggerble.h"
#include "logging/log.h"
#include "tracecapture.h"

namespace {

constexpr std::uint64_t kKeyword = noxb::trace::kKeyword;
using Ids = std::vector<std::uint16_t>;

void Log(LogLevel level, const std::string& function = "F::G", const std::string& file = "f",
         unsigned line = 1) {
    KorvelLoggerBle::Instance()->Log(level, "BLE", function, file, line, "m");
}

// Logs once at each level 0..4 and 255; returns the ids written.
Ids IdsWrittenForEveryLevel(TraceCapture& capture) {
    capture.Clear();
    for (unsigned level : {0u, 1u, 2u, 3u, 4u, 255u}) Log(static_cast<LogLevel>(level));
    Ids ids;
    for (const CapturedEvent& event : capture.Events()) ids.push_back(event.descriptor.Id);
    return ids;
}

TEST(Trace, EnablesTheEventsWhoseLevelAndKeywordMatchAndNothingBeforeOrAfter) {
    TraceCapture capture;
    EXPECT_EQ(IdsWrittenForEveryLevel(capture), Ids{});
    const struct {
        std::uint8_t level;
        std::uint64_t matchAny, matchAll;
        Ids written;  // 2012 Info, 2011 Warning, 2010 Error, 2009 Critical
    } rows[] = {
        {0, kKeyword, 0, {2012, 2011, 2010, 2009}},
        {255, kKeyword, kKeyword, {2012, 2011, 2010, 2009}},
        {3, kKeyword, 0, {2011, 2010, 2009}},
        {1, ~0ull, 0, {2009}},
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
    // Control codes other than enable (1) and disable (0) change nothing.
    EventProviderContext context;
    ApplyEnableRequest(context, 1, 2, kKeyword, 0);
    ApplyEnableRequest(context, 2, 4, 0, 0);
    EXPECT_TRUE(context.enableBitMask == 0x3u && context.isEnabled == 1u);
}

// A log statement records its place; each field is a terminated string. The
// function loses what precedes the first "::" when it mentions noxb::; the
// file keeps what follows the last backslash; the line is unsigned decimal.
TEST(Trace, EventsAreFiveTerminatedStringsInOrderUnderTheirDescriptorCutAsRecorded) {
    TraceCapture capture;
    capture.Enable(0);
    const auto only = [&] {
        const std::vector<CapturedEvent> events = capture.Events();
        EXPECT_EQ(events.size(), 1u);
        capture.Clear();
        return events.empty() ? CapturedEvent{} : events[0];
    };
    for (unsigned level = 0; level < 4; ++level) {
        Log(static_cast<LogLevel>(level));
        const EVENT_DESCRIPTOR d = only().descriptor;
        EXPECT_EQ(std::make_tuple(d.Id, d.Version, d.Channel, d.Level, d.Opcode, d.Task, d.Keyword),
                  std::make_tuple(2012 - level, 0u, 17u, 4 - level, 0u, 0u, kKeyword));
    }
    const std::string line = std::to_string(__LINE__ + 1);
    NOXB_LOG(LogLevel::Error, kModuleBleString, "NoxBleProvider::Connect", "no lock");
    const CapturedEvent event = only();
    EXPECT_TRUE(event.terminated);
    EXPECT_EQ(event.fields,
              (std::vector<std::string>{"no lock", "BLE_STRING", "NoxBleProvider::Connect", line,
                                        "trace_test.cpp"}));
    EXPECT_EQ(event.sizes,
              (std::vector<std::uint32_t>{8, 11, 24, std::uint32_t(line.size() + 1), 15}));
    const struct {
        const char *function, *file;
        unsigned line;
        const char *recordedFunction, *recordedFile, *recordedLine;
    } rows[] = {
        {"noxb::BluetoothProvider::ConnectionFailedException", "nox_gatt\\x\\dllmain.cpp",
         4294967295u, "BluetoothProvider::ConnectionFailedException", "dllmain.cpp", "4294967295"},
        {"a::noxb::b", "nox_gatt/noxblegatt/dllmain.cpp", 0, "noxb::b",
         "nox_gatt/noxblegatt/dllmain.cpp", "0"},
        {"noxb::", "C:\\src/x\\y/z.cpp", 1, "", "y/z.cpp", "1"},
        {"noxb:", "nox_gatt\\", 1, "noxb:", "", "1"},
    };
    for (const auto& row : rows) {
        Log(LogLevel::Info, row.function, row.file, row.line);
        const CapturedEvent cut = only();
        EXPECT_EQ(cut.Function(), row.recordedFunction);
        EXPECT_EQ(cut.File(), row.recordedFile);
        EXPECT_EQ(cut.Line(), row.recordedLine);
    }
}

// The trace system changes the enable state on its own thread while the
// module logs on the host's and the stack's threads.
TEST(Trace, EnableChangesRaceWithWritersSafely) {
    TraceCapture capture;
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int i = 0; i < 2; ++i) {
        writers.emplace_back([&stop] {
            for (int n = 0; n < 2000 && !stop; ++n) Log(LogLevel::Info);
        });
    }
    for (int n = 0; n < 50; ++n) {
        capture.Enable(4);
        capture.Disable();
    }
    stop = true;
    for (std::thread& writer : writers) writer.join();
    for (const CapturedEvent& event : capture.Events()) {
        EXPECT_TRUE(event.terminated && event.Message() == "m");
    }
}

}  // namespace
