// The trace manifest that Windows tools decode the module's events with must
// describe what the module writes: its provider id, events, levels, channel,
// keyword and the order of the five payload strings.
#include <gtest/gtest.h>

#include <noxb/Trace.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "logging/korvelloggerble.h"
#include "tracecapture.h"

namespace {

using Attributes = std::map<std::string, std::string>;

// The attributes of every <tag ...> element, in document order.
std::vector<Attributes> Elements(const std::string& tag) {
    static const std::string text = [] {
        std::ifstream in(NOXB_MANIFEST_FILE);
        std::stringstream all;
        all << in.rdbuf();
        return std::regex_replace(all.str(), std::regex("<!--[\\s\\S]*?-->"), "");
    }();
    const std::regex element("<" + tag + "\\s([^>]*)>"), attribute("([\\w:]+)=\"([^\"]*)\"");
    std::vector<Attributes> found;
    for (std::sregex_iterator e(text.begin(), text.end(), element), end; e != end; ++e) {
        const std::string body = (*e)[1];
        found.emplace_back();
        for (std::sregex_iterator a(body.begin(), body.end(), attribute); a != end; ++a) {
            found.back()[(*a)[1]] = (*a)[2];
        }
    }
    return found;
}

Attributes Only(const std::string& tag) {
    const std::vector<Attributes> all = Elements(tag);
    EXPECT_EQ(all.size(), 1u) << "<" << tag << "> elements";
    return all.empty() ? Attributes{} : all.front();
}

TEST(Manifest, IsTheModulesProvider) {
    Attributes provider = Only("provider");
    EXPECT_EQ(provider["name"], noxb::trace::kProviderName);
    EXPECT_EQ(provider["guid"], noxb::trace::kProviderIdText);
    // The module registers the numeric form; decoders match on the text.
    const std::uint8_t* d4 = noxb::trace::kProviderIdData4;
    char numeric[40];
    std::snprintf(numeric, sizeof numeric, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  noxb::trace::kProviderIdData1, noxb::trace::kProviderIdData2,
                  noxb::trace::kProviderIdData3, d4[0], d4[1], d4[2], d4[3], d4[4], d4[5], d4[6],
                  d4[7]);
    EXPECT_EQ(provider["guid"], numeric);
    EXPECT_EQ(Only("channel")["name"], noxb::trace::kChannelName);
}

// One record at each level the module writes, as a session at every level
// sees it, against the manifest's event, keyword and template.
TEST(Manifest, DescribesEveryEventTheModuleWritesAndItsPayloadInOrder) {
    TraceCapture capture;
    capture.Enable(0);
    for (unsigned level = 0; level < 4; ++level) {
        KorvelLoggerBle::Instance()->Log(static_cast<LogLevel>(level), "BLE", "Unit::Step",
                                         "dir\\unit.cpp", 42, "message text");
    }
    const std::vector<CapturedEvent> written = capture.Events();
    ASSERT_EQ(written.size(), 4u);
    const std::vector<Attributes> events = Elements("event"), fields = Elements("data");
    EXPECT_EQ(events.size(), written.size());
    const std::map<std::string, int> levels = {
        {"win:Critical", 1}, {"win:Error", 2}, {"win:Warning", 3}, {"win:Informational", 4}};
    Attributes channel = Only("channel"), keyword = Only("keyword"), record = Only("template");
    for (const CapturedEvent& event : written) {
        const EVENT_DESCRIPTOR& d = event.descriptor;
        SCOPED_TRACE("event " + std::to_string(d.Id));
        Attributes declared;
        for (const Attributes& candidate : events) {
            if (candidate.at("value") == std::to_string(d.Id)) declared = candidate;
        }
        ASSERT_FALSE(declared.empty());
        EXPECT_EQ(levels.count(declared["level"]) ? levels.at(declared["level"]) : -1, d.Level);
        EXPECT_EQ(declared["version"], std::to_string(d.Version));
        EXPECT_EQ(declared["channel"], channel["chid"]);
        EXPECT_EQ(channel["value"], std::to_string(d.Channel));
        EXPECT_EQ(declared["keywords"], keyword["name"]);
        EXPECT_EQ(std::stoull(keyword["mask"], nullptr, 16), d.Keyword);
        EXPECT_EQ(declared["template"], record["tid"]);
        EXPECT_EQ(event.fields.size(), fields.size());
    }
    // Tools read the payload by name, and through Trace.h's indices.
    const std::vector<std::string> names = {"Message", "Module", "Function", "Line", "File"};
    const std::vector<std::string> logged = {"message text", "BLE", "Unit::Step", "42", "unit.cpp"};
    ASSERT_EQ(fields.size(), names.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(fields[i].at("inType"), "win:AnsiString") << i;
        EXPECT_EQ(fields[i].at("name"), names[i]) << i;
        EXPECT_EQ(written.front().fields.at(i), logged[i]) << i;
    }
    EXPECT_EQ(names.at(noxb::trace::kMessage), "Message");
    EXPECT_EQ(names.at(noxb::trace::kModule), "Module");
    EXPECT_EQ(names.at(noxb::trace::kFunction), "Function");
    EXPECT_EQ(names.at(noxb::trace::kLine), "Line");
    EXPECT_EQ(names.at(noxb::trace::kFile), "File");
}

}  // namespace
