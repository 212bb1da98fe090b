// The list formats of fielddesk-cli: table alignment by display width, JSON escaping, and
// the repair of device texts that are not UTF-8.

#include "cli/cli_output.h"

#include <gtest/gtest.h>

#include <sstream>

#include "config/language.h"
#include "wire/packet.h"

using namespace fd;
using namespace fd::cli;

namespace {

DeviceRow Row(std::vector<std::string> cells) {
    cells.resize(ListColumns().size());
    DeviceRow r;
    r.cells = std::move(cells);
    r.status = AP_STATUS_ONLINE;
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

}  // namespace

TEST(CliOutput, DisplayWidthCountsWideCharactersTwice) {
    EXPECT_EQ(DisplayWidth("abc"), 3u);
    EXPECT_EQ(DisplayWidth("\xE5\xA1\x94\xE6\x9E\xB6"), 4u);  // 塔架
    EXPECT_EQ(DisplayWidth("\xEF\xBC\x81"), 2u);              // full-width !
    EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u);                 // e + combining acute
    EXPECT_EQ(DisplayWidth("\xC3\xA9"), 1u);                  // é
    EXPECT_EQ(DisplayWidth("a\xFF"
                           "b"),
              3u);                            // a bad byte takes one column
    EXPECT_EQ(DisplayWidth("\xE5\xA1"), 2u);  // cut short: two bad bytes
}

TEST(CliOutput, TableColumnsLineUpWithCjkNames) {
    std::vector<DeviceRow> rows = {
        Row({"\xE5\xA1\x94\xE6\x9E\xB6\xE4\xB8\x80", "M1", "198.18.1.1"}),  // 塔架一: 6 columns
        Row({"roof-east", "M2", "198.18.1.22"}),
    };
    const auto lines = Lines(FormatTable(ListColumns(), rows, false));
    ASSERT_EQ(lines.size(), 3u);
    // The Type column starts at the same display column on every line.
    auto typeColumn = [](const std::string& line, const std::string& cell) {
        return DisplayWidth(line.substr(0, line.find(cell)));
    };
    EXPECT_EQ(typeColumn(lines[0], "Type"), 11u);  // "roof-east" is 9 wide, plus two blanks
    EXPECT_EQ(typeColumn(lines[1], "M1"), 11u);
    EXPECT_EQ(typeColumn(lines[2], "M2"), 11u);
    EXPECT_EQ(typeColumn(lines[1], "198.18.1.1"), typeColumn(lines[0], "IP"));
    for (const auto& l : lines) EXPECT_NE(l.back(), ' ');
}

TEST(CliOutput, TableNeutralisesTerminalControlsAndBadBytes) {
    auto table = FormatTable(ListColumns(), {Row({"evil\x1b[2Jname\r", "bad\xFF"})}, false);
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
    EXPECT_EQ(table.find('\r'), std::string::npos);
    EXPECT_NE(table.find("evil\xEF\xBF\xBD[2Jname\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(table.find("bad\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(ForTerminal("\xC2\x9B"), "\xEF\xBF\xBD");  // C1 CSI
}

TEST(CliOutput, JsonEscapesControlsAndBadBytes) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("q\"b\\"), "\"q\\\"b\\\\\"");
    EXPECT_EQ(JsonString("\n\t\r\b\f"), "\"\\n\\t\\r\\b\\f\"");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(JsonString(std::string("nul\0x", 5)), "\"nul\\u0000x\"");
    EXPECT_EQ(JsonString("\xE5\xA1\x94"), "\"\xE5\xA1\x94\"");  // valid UTF-8 stays as is
    EXPECT_EQ(JsonString("a\xFF\xC3"), "\"a\\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // a lone surrogate

    EXPECT_EQ(FormatJson(ListColumns(), {}), "[]\n");
    DeviceRow r = Row({"n"});
    r.discoveredOnly = true;
    r.status = AP_STATUS_DISCOVERED;
    const std::string json = FormatJson(ListColumns(), {r});
    EXPECT_NE(json.find("\"location\": \"n\", \"type\": \"\""), std::string::npos);
    EXPECT_NE(json.find("\"status\": \"\", \"confirmed\": false}"), std::string::npos);
}

// The tool lists the device list's own rows; only the keys are its own.
TEST(CliOutput, JsonOfAListRowCarriesTheLabelsUnderTheirKeys) {
    ap_info_stu rec{};
    std::snprintf(rec.mac, sizeof rec.mac, "02:fd:00:00:00:01");
    rec.ap_type = 6;
    rec.ap_status = AP_STATUS_RESTARTING;
    rec.work_mode = WORK_MODE_STATION;
    rec.up_time = 90061;
    rec.tdmaEn = 1;
    IpFromText("198.18.1.7", rec.ip);
    SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, "\xE5\xA1\x94 north");

    const std::string json =
        FormatJson(ListColumns(), {MakeDeviceRow(rec, ListColumns(), 1)});
    for (const std::string& pair : std::vector<std::string>{
             "\"location\": \"\xE5\xA1\x94 north\"", "\"ip\": \"198.18.1.7\"",
             "\"mac\": \"02:fd:00:00:00:01\"",
             "\"operation_mode\": " + JsonString(GetLangText("Station")),
             "\"channel\": " + JsonString(GetLangText("Auto")),
             "\"airslot\": " + JsonString(GetLangText("On2")), "\"time\": \"1 1:1:1\"",
             "\"status\": " + JsonString(GetLangText("Restarting")),
             std::string("\"confirmed\": true")})
        EXPECT_NE(json.find(pair), std::string::npos) << pair << "\n" << json;
}
