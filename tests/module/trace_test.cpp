// What the logger writes to the trace system, seen from a trace session, and
// the manifest that Windows tools decode those events with.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <thread>
#include <tuple>

#include "logging/eventprovider.h"
#include "logging/log.h"
#include "tracecapture.h"

namespace {

using namespace noxb::trace;
using Ids = std::vector<std::uint16_t>;
using Texts = std::vector<std::string>;
using Attributes = std::map<std::string, std::string>;

// The attributes of every <tag ...> element of the manifest outside its
// comments, in document order.
std::vector<Attributes> Manifest(const std::string& tag) {
    static const std::string text = std::regex_replace(
        std::string(std::istreambuf_iterator<char>(std::ifstream(NOXB_MANIFEST_FILE).rdbuf()), {}),
        std::regex("<!--[\\s\\S]*?-->"), "");
    const std::regex element("<" + tag + "\\s([^>]*)>"), attribute("([\\w:]+)=\"([^\"]*)\"");
    std::vector<Attributes> found;
    for (std::sregex_iterator e(text.begin(), text.end(), element), end; e != end; ++e) {
        found.emplace_back();
        for (std::sregex_iterator a((*e)[1].first, (*e)[1].second, attribute); a != end; ++a)
            found.back()[(*a)[1]] = (*a)[2];
    }
    return found;
}

void Log(LogLevel level, const std::string& function = "F::G", const std::string& file = "f",
         unsigned line = 1) {
    KorvelLoggerBle::Instance()->Log(level, "BLE", function, file, line, "m");
}

// The trace system changes the enable state on its own thread while the
// module logs on the host's and the stack's threads.
TEST(Trace, EnablesTheEventsWhoseLevelAndKeywordMatchAndNothingBeforeOrAfterAndRacesSafely) {
    TraceCapture capture;
    const auto idsForEveryLevel = [&] {  // logs at 0..4 and 255
        capture.Clear();
        for (unsigned level : {0u, 1u, 2u, 3u, 4u, 255u}) Log(static_cast<LogLevel>(level));
        Ids ids;
        for (const CapturedEvent& event : capture.Events()) ids.push_back(event.descriptor.Id);
        return ids;
    };
    EXPECT_EQ(idsForEveryLevel(), Ids{});
    // The level, both keyword masks, and what is written: 2012 Info, 2011
    // Warning, 2010 Error, 2009 Critical.
    const std::tuple<std::uint8_t, std::uint64_t, std::uint64_t, Ids> rows[] = {
        {0, kKeyword, 0, {2012, 2011, 2010, 2009}},
        {4, kKeyword, kKeyword, {2012, 2011, 2010, 2009}},
        {3, kKeyword, 0, {2011, 2010, 2009}},
        {1, ~0ull, 0, {2009}},
        {4, 0x1, 0, {}},
        {4, kKeyword, kKeyword | 0x1, {}},
    };
    for (const auto& [level, matchAny, matchAll, written] : rows) {
        capture.Enable(level, matchAny, matchAll);
        EXPECT_EQ(idsForEveryLevel(), written) << int{level} << " " << matchAny;
    }
    capture.Disable();
    EXPECT_EQ(idsForEveryLevel(), Ids{});
    // The context keeps what was asked for; control codes other than enable
    // (1) and disable (0) change nothing.
    EventProviderContext context;
    const auto state = [&] {
        return std::make_tuple(context.isEnabled.load(), context.level.load(),
                               context.matchAnyKeyword.load(), context.matchAllKeyword.load(),
                               context.enableBitMask.load());
    };
    const auto none = std::make_tuple(0u, std::uint8_t{0}, 0ull, 0ull, 0u);
    EXPECT_EQ(state(), none);
    ApplyEnableRequest(context, 1, 2, kKeyword, 0x1);
    ApplyEnableRequest(context, 2, 4, 0, 0);
    EXPECT_EQ(state(), std::make_tuple(1u, std::uint8_t{2}, kKeyword, 0x1ull, 0u));
    ApplyEnableRequest(context, 1, 2, kKeyword, 0);
    EXPECT_EQ(context.enableBitMask, 0x3u);
    ApplyEnableRequest(context, 0, 2, kKeyword, 0);
    EXPECT_EQ(state(), none);
    // An unregistered provider writes nothing; registered again, it writes
    // what the session still asks for.
    capture.Enable(0);
    UnregisterEventProvider();
    EXPECT_FALSE(IsEventEnabled(0));
    EXPECT_EQ(idsForEveryLevel(), Ids{});
    RegisterEventProvider();
    EXPECT_EQ(idsForEveryLevel().size(), 4u);

    std::thread writer([] {
        for (int n = 0; n < 2000; ++n) Log(LogLevel::Info);
    });
    for (int n = 0; n < 50; ++n) {
        capture.Enable(4);
        capture.Disable();
    }
    writer.join();
    for (const CapturedEvent& event : capture.Events())
        EXPECT_TRUE(event.terminated && event.Message() == "m");
}

// A log statement records its place; each field is a terminated string, in
// the manifest template's order, under a descriptor the manifest declares for
// the provider the module registers. The function loses what precedes the
// first "::" when it mentions noxb::; the file keeps what follows the last
// backslash; the line is unsigned decimal.
TEST(Trace, EventsAreFiveTerminatedStringsInOrderUnderTheirDescriptorAsTheManifestSays) {
    TraceCapture capture;
    capture.Enable(0);
    const auto only = [&] {
        const std::vector<CapturedEvent> events = capture.Events();
        capture.Clear();
        EXPECT_EQ(events.size(), 1u);
        return events.at(0);
    };
    std::map<std::string, Attributes> declared;  // by id
    for (const Attributes& event : Manifest("event")) declared[event.at("value")] = event;
    EXPECT_EQ(declared.size(), 4u);
    for (const char* tag : {"provider", "channel", "keyword", "template"})
        EXPECT_EQ(Manifest(tag).size(), 1u) << tag;
    Attributes channel = Manifest("channel").at(0), keyword = Manifest("keyword").at(0),
               provider = Manifest("provider").at(0);
    // The module registers the numeric form; decoders match on the text.
    const std::uint8_t* d4 = kProviderIdData4;
    char numeric[40];
    std::snprintf(numeric, sizeof numeric, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  kProviderIdData1, kProviderIdData2, kProviderIdData3, d4[0], d4[1], d4[2], d4[3],
                  d4[4], d4[5], d4[6], d4[7]);
    EXPECT_EQ((Texts{channel["value"], channel["name"], provider["name"], provider["guid"],
                     provider["guid"], std::to_string(std::stoull(keyword["mask"], nullptr, 16))}),
              (Texts{"17", kChannelName, kProviderName, kProviderIdText, numeric,
                     std::to_string(kKeyword)}));
    const char* const levels[] = {"win:Informational", "win:Warning", "win:Error", "win:Critical"};
    for (unsigned level = 0; level < 4; ++level) {
        Log(static_cast<LogLevel>(level));
        const EVENT_DESCRIPTOR d = only().descriptor;
        EXPECT_EQ(std::make_tuple(d.Id, d.Version, d.Channel, d.Level, d.Opcode, d.Task, d.Keyword),
                  std::make_tuple(2012 - level, 0u, 17u, 4 - level, 0u, 0u, kKeyword));
        Attributes e = declared[std::to_string(d.Id)];
        EXPECT_EQ((Texts{e["level"], e["version"], e["channel"], e["keywords"], e["template"]}),
                  (Texts{levels[level], std::to_string(d.Version), channel["chid"], keyword["name"],
                         Manifest("template").at(0).at("tid")}));
    }
    Texts fields;  // tools read the payload by name, as text
    for (const Attributes& field : Manifest("data"))
        fields.push_back(field.at("inType") == "win:AnsiString" ? field.at("name") : "?");
    EXPECT_EQ(fields, (Texts{"Message", "Module", "Function", "Line", "File"}));
    const std::string line = std::to_string(__LINE__ + 1);
    NOXB_LOG(LogLevel::Error, kModuleBleString, "NoxBleProvider::Connect", "no lock");
    const CapturedEvent event = only();
    EXPECT_TRUE(event.terminated);  // each size counts the terminator: the fields end at it
    EXPECT_EQ(event.fields,
              (Texts{"no lock", "BLE_STRING", "NoxBleProvider::Connect", line, "trace_test.cpp"}));
    const Texts rows[] = {
        // the function, file and line logged; the function and file recorded
        {"noxb::BluetoothProvider::ConnectionFailedException", "nox_gatt\\x\\dllmain.cpp",
         "4294967295", "BluetoothProvider::ConnectionFailedException", "dllmain.cpp"},
        {"a::noxb::b", "nox_gatt/noxblegatt/dllmain.cpp", "0", "noxb::b",
         "nox_gatt/noxblegatt/dllmain.cpp"},
        {"noxb::", "C:\\src/x\\y/z.cpp", "1", "", "y/z.cpp"},
        {"noxb:", "nox_gatt\\", "1", "noxb:", ""},
    };
    for (const Texts& row : rows) {
        Log(LogLevel::Info, row[0], row[1], static_cast<unsigned>(std::stoul(row[2])));
        const CapturedEvent cut = only();
        EXPECT_EQ((Texts{cut.Function(), cut.File(), cut.Line()}), (Texts{row[3], row[4], row[2]}));
    }
}

}  // namespace
