// The trace manifest that Windows tools decode the module's events with must
// describe what the module writes: its provider id, events, levels, channel,
// keyword and the order of the five payload strings.
#include <etwshim/etwshim.h>
#include <gtest/gtest.h>

#include <noxb/Trace.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "logging/korvelloggerble.h"

namespace {

using Attributes = std::map<std::string, std::string>;

std::string ManifestText() {
    std::ifstream in(NOXB_MANIFEST_FILE);
    std::stringstream text;
    text << in.rdbuf();
    return std::regex_replace(text.str(), std::regex("<!--[\\s\\S]*?-->"), "");
}

// The attributes of every <tag ...> element, in document order.
std::vector<Attributes> Elements(const std::string& tag) {
    static const std::string text = ManifestText();
    const std::regex element("<" + tag + "\\s([^>]*)>");
    const std::regex attribute("([\\w:]+)=\"([^\"]*)\"");
    std::vector<Attributes> found;
    for (std::sregex_iterator e(text.begin(), text.end(), element), end; e != end; ++e) {
        const std::string body = (*e)[1];
        Attributes attributes;
        for (std::sregex_iterator a(body.begin(), body.end(), attribute); a != end; ++a) {
            attributes[(*a)[1]] = (*a)[2];
        }
        found.push_back(attributes);
    }
    return found;
}

Attributes Only(const std::string& tag) {
    const std::vector<Attributes> all = Elements(tag);
    EXPECT_EQ(all.size(), 1u) << "<" << tag << "> elements";
    return all.empty() ? Attributes{} : all.front();
}

int StandardLevel(const std::string& name) {
    const std::map<std::string, int> levels = {
        {"win:Critical", 1}, {"win:Error", 2}, {"win:Warning", 3}, {"win:Informational", 4}};
    const auto level = levels.find(name);
    return level == levels.end() ? -1 : level->second;
}

std::uint64_t KeywordMask(const std::string& names) {
    std::uint64_t mask = 0;
    std::istringstream list(names);
    for (std::string name; list >> name;) {
        bool known = false;
        for (const Attributes& keyword : Elements("keyword")) {
            if (keyword.at("name") == name) {
                mask |= std::stoull(keyword.at("mask"), nullptr, 16);
                known = true;
            }
        }
        EXPECT_TRUE(known) << "keyword " << name;
    }
    return mask;
}

struct WrittenEvent {
    EVENT_DESCRIPTOR descriptor;
    std::vector<std::string> fields;
};

GUID ProviderId() {
    GUID id{noxb::trace::kProviderIdData1,
            noxb::trace::kProviderIdData2,
            noxb::trace::kProviderIdData3,
            {}};
    std::memcpy(id.Data4, noxb::trace::kProviderIdData4, sizeof id.Data4);
    return id;
}

// The trace shim's consumer; the module writes on the logging thread.
void Keep(const GUID* provider, const EVENT_DESCRIPTOR* descriptor, std::uint32_t count,
          const EVENT_DATA_DESCRIPTOR* items, void* context) {
    const GUID ours = ProviderId();
    if (std::memcmp(provider, &ours, sizeof ours) != 0) return;
    WrittenEvent event{*descriptor, {}};
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(items[i].Ptr));
        event.fields.emplace_back(text, items[i].Size > 0 ? items[i].Size - 1 : 0);
    }
    static_cast<std::vector<WrittenEvent>*>(context)->push_back(event);
}

// Logs one record at each level the module writes, as a trace session at
// every level sees them.
std::vector<WrittenEvent> WrittenEvents() {
    std::vector<WrittenEvent> written;
    const GUID id = ProviderId();
    EtwShimSetConsumer(&Keep, &written);
    EtwShimEnableProvider(&id, 0, noxb::trace::kKeyword, 0);
    for (unsigned level = 0; level < 4; ++level) {
        KorvelLoggerBle::Instance()->Log(static_cast<LogLevel>(level), "BLE", "Unit::Step",
                                         "dir\\unit.cpp", 42, "message text");
    }
    EtwShimDisableProvider(&id);
    EtwShimSetConsumer(nullptr, nullptr);
    return written;
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

TEST(Manifest, DescribesEveryEventTheModuleWrites) {
    const std::vector<WrittenEvent> written = WrittenEvents();
    ASSERT_EQ(written.size(), 4u);
    const std::vector<Attributes> events = Elements("event");
    EXPECT_EQ(events.size(), written.size());
    Attributes channel = Only("channel");
    Attributes recordTemplate = Only("template");
    const std::size_t fieldCount = Elements("data").size();
    for (const WrittenEvent& event : written) {
        const EVENT_DESCRIPTOR& d = event.descriptor;
        SCOPED_TRACE("event " + std::to_string(d.Id));
        Attributes declared;
        for (const Attributes& candidate : events) {
            if (candidate.at("value") == std::to_string(d.Id)) declared = candidate;
        }
        ASSERT_FALSE(declared.empty());
        EXPECT_EQ(StandardLevel(declared["level"]), d.Level);
        EXPECT_EQ(declared["version"], std::to_string(d.Version));
        EXPECT_EQ(declared["channel"], channel["chid"]);
        EXPECT_EQ(channel["value"], std::to_string(d.Channel));
        EXPECT_EQ(KeywordMask(declared["keywords"]), d.Keyword);
        EXPECT_EQ(declared["template"], recordTemplate["tid"]);
        EXPECT_EQ(event.fields.size(), fieldCount);
    }
}

TEST(Manifest, NamesThePayloadStringsInTheOrderWritten) {
    const std::vector<WrittenEvent> written = WrittenEvents();
    ASSERT_FALSE(written.empty());
    const std::map<std::string, std::string> logged = {{"Message", "message text"},
                                                       {"Module", "BLE"},
                                                       {"Function", "Unit::Step"},
                                                       {"Line", "42"},
                                                       {"File", "unit.cpp"}};
    const std::vector<Attributes> fields = Elements("data");
    ASSERT_EQ(fields.size(), written.front().fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string name = fields[i].at("name");
        EXPECT_EQ(fields[i].at("inType"), "win:AnsiString") << name;
        ASSERT_EQ(logged.count(name), 1u) << name;
        EXPECT_EQ(written.front().fields[i], logged.at(name)) << name;
    }
    // Tools read the payload through Trace.h's indices.
    EXPECT_EQ(fields.at(noxb::trace::kMessage).at("name"), "Message");
    EXPECT_EQ(fields.at(noxb::trace::kModule).at("name"), "Module");
    EXPECT_EQ(fields.at(noxb::trace::kFunction).at("name"), "Function");
    EXPECT_EQ(fields.at(noxb::trace::kLine).at("name"), "Line");
    EXPECT_EQ(fields.at(noxb::trace::kFile).at("name"), "File");
}

}  // namespace
