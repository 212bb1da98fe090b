// Plan files as spreadsheets and people write them: what reads, what is refused with its
// line and column, what goes out and comes back unchanged; and the journal a plan run leaves
// behind for the next one.

#include "presentation/plan_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "presentation/plan_journal.h"
#include "support/temp_dir.h"

using namespace fd;

namespace {

std::string Value(const PlanRow& row, const char* column) {
    const PlanCell* c = row.Find(column);
    return c ? c->value : "<blank>";
}

std::string Problems(const PlanFile& plan) {
    std::string out;
    for (const auto& p : plan.problems) out += PlanProblemText(p) + "\n";
    return out;
}

}  // namespace

TEST(PlanFile, ReadsWhatSpreadsheetsSaveAndWritesItBackUnchanged) {
    // A semicolon file with a byte-order mark and CRLF, as a spreadsheet in a German or
    // Chinese locale saves it; quoted cells holding the separator, quotes and a line break;
    // the header in another case with blanks; trailing separators; a blank line; a
    // formula-guarded cell.
    const std::string semicolons =
        "\xEF\xBB\xBF"
        "MAC ; Name;ssid;channel;key;;\r\n"
        "02-FD-00-00-00-01;\"Tower; east\";\"say \"\"hi\"\"\";6;secret-1;;\r\n"
        "\r\n"
        "02:fd:00:00:00:02;\"two\r\nlines\";'=SUM(A1);;;;\r\n"
        "02:fd:00:00:00:03;楼顶-3;;149;;;\r\n";
    const PlanFile plan = ReadPlan(semicolons);
    ASSERT_EQ(plan.refused, "");
    ASSERT_EQ(plan.problems.size(), 0u) << Problems(plan);
    ASSERT_EQ(plan.rows.size(), 3u);
    EXPECT_EQ(plan.rows[0].mac, "02:fd:00:00:00:01");
    EXPECT_EQ(Value(plan.rows[0], "name"), "Tower; east");
    EXPECT_EQ(Value(plan.rows[0], "ssid"), "say \"hi\"");
    EXPECT_EQ(Value(plan.rows[0], "key"), "secret-1");
    EXPECT_EQ(Value(plan.rows[1], "name"), "two\r\nlines");
    EXPECT_EQ(Value(plan.rows[1], "ssid"), "=SUM(A1)");    // the guard comes off
    EXPECT_EQ(Value(plan.rows[1], "channel"), "<blank>");  // blank keeps the device's value
    EXPECT_EQ(plan.rows[1].line, 4);
    EXPECT_EQ(plan.rows[2].line, 6);  // counted past the quoted line break
    EXPECT_EQ(Value(plan.rows[2], "name"), "楼顶-3");
    EXPECT_TRUE(plan.HasKeys());

    // Out as CSV and as JSON, and in again: the same rows; cells that look like formulas
    // are guarded in the CSV, even one that already starts with the guard.
    std::vector<PlanRow> rows = plan.rows;
    rows[2].cells.push_back({"dns1", "'+already guarded", 0, 0});
    const std::string csv = WritePlanCsv(rows, true);
    EXPECT_NE(csv.find("\"'=SUM(A1)\"") == std::string::npos ? csv.find("'=SUM(A1)")
                                                             : csv.find("\"'=SUM(A1)\""),
              std::string::npos);
    EXPECT_NE(csv.find("''+already guarded"), std::string::npos);
    for (const std::string& text : {csv, WritePlanJson(rows, true)}) {
        const PlanFile back = ReadPlan(text);
        ASSERT_EQ(back.refused, "") << text;
        ASSERT_EQ(back.rows.size(), rows.size()) << Problems(back);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(back.rows[i].mac, rows[i].mac);
            ASSERT_EQ(back.rows[i].cells.size(), rows[i].cells.size()) << text;
            for (const auto& cell : rows[i].cells)
                EXPECT_EQ(Value(back.rows[i], cell.column.c_str()), cell.value) << text;
        }
    }
    // Without secrets the key column is not written at all.
    const std::string noKeys = WritePlanCsv(rows, false);
    EXPECT_EQ(noKeys.find("secret-1"), std::string::npos);
    EXPECT_EQ(noKeys.find(",key,"), std::string::npos);
    EXPECT_FALSE(ReadPlan(noKeys).HasKeys());
}

TEST(PlanFile, BadRowsAreRefusedByLineAndColumnAndTheRestGoOn) {
    const std::string text =
        "mac,name,channel\n"
        "02:fd:00:00:00:01,ok-1,6\n"
        "02:fd:00:00:00:02,too,many,cells\n"
        "not-a-mac,name,6\n"
        ",nameless,6\n"
        "02:fd:00:00:00:05,\"closed\"junk,6\n"
        "02:FD:00:00:00:06,dup-a,1\n"
        "02:fd:00:00:00:07,ok-7,\n"
        "02-fd-00-00-00-06,dup-b,1\n"
        "02:fd:00:00:00:09,\"never closed,6\n"
        "02:fd:00:00:00:10,swallowed,6\n";
    const PlanFile plan = ReadPlan(text);
    ASSERT_EQ(plan.refused, "");
    ASSERT_EQ(plan.rows.size(), 2u) << Problems(plan);
    EXPECT_EQ(plan.rows[0].mac, "02:fd:00:00:00:01");
    EXPECT_EQ(plan.rows[1].mac, "02:fd:00:00:00:07");
    EXPECT_EQ(Problems(plan),
              "line 3, column 4: the row has 4 cells, the header names 3 columns\n"
              "line 4, column 1 (mac): not a MAC address: 'not-a-mac'\n"
              "line 5, column 1 (mac): no MAC address\n"
              "line 6, column 2 (name): text after the closing quote of a quoted cell\n"
              "line 7, column 1 (mac): MAC 02:fd:00:00:00:06 is also on line 9; neither row is "
              "used\n"
              "line 9, column 1 (mac): MAC 02:fd:00:00:00:06 is also on line 7; neither row is "
              "used\n"
              "line 10, column 2 (name): a quoted cell is not closed (its closing quote is "
              "missing)\n");
    // A JSON plan names the line of the key.
    const PlanFile json = ReadPlan(
        "[\n  {\"mac\": \"02:fd:00:00:00:01\", \"channel\": 6},\n"
        "  {\"mac\": \"02:fd:00:00:00:02\",\n   \"name\": \"a\",\n"
        "   \"name\": \"b\"}\n]\n");
    ASSERT_EQ(json.rows.size(), 1u);
    EXPECT_EQ(Value(json.rows[0], "channel"), "6");
    EXPECT_EQ(Problems(json), "line 5, name: key 'name' given twice\n");
}

TEST(PlanFile, FilesThatCannotBeReadAreRefusedWhole) {
    struct Case {
        std::string text;
        std::string refused;  // its beginning
    };
    const Case cases[] = {
        {"", "the plan is empty"},
        {"\xEF\xBB\xBF \r\n\r\n", "the plan is empty"},
        {"mac,name\n", "the plan holds no device rows"},
        {"mac,name,colour\n02:fd:00:00:00:01,a,red\n",
         "line 1, column 3: unknown column 'colour'; the known columns are: mac, model, name, ip,"},
        {"name,ssid\nx,y\n", "line 1: no 'mac' column"},
        {"mac,name,Name\n", "line 1, column 3: column 'name' given twice"},
        {"mac,name\n02:fd:00:00:00:01,ok\n02:fd:00:00:00:02,\xC2\xA0\xFF\n",
         "line 3, character 20: not UTF-8 text; save the file as UTF-8, or name its encoding "
         "with --encoding"},
        {"\xFF\xFEm\0a\0c\0", "the file is UTF-16 text"},
        {"[{\"mac\": \"02:fd:00:00:00:01\",\n \"colour\": \"red\"}]",
         "line 2: unknown key 'colour'; the known keys are: mac,"},
        {"[{\"mac\": \"02:fd:00:00:00:01\",\n \"name\": {\"nested\": 1}}]",
         "line 2: a nested object or list"},
        {"[{\"mac\": \"02:fd:00:00:00:01\"}\n", "line 2: expected ',' or ']'"},
    };
    for (const Case& c : cases) {
        const PlanFile plan = ReadPlan(c.text);
        EXPECT_EQ(plan.refused.substr(0, c.refused.size()), c.refused) << plan.refused;
        EXPECT_TRUE(plan.rows.empty());
    }

    // Megabytes of junk: refused at once with a short message, not a wall of problems.
    std::string junk(6u << 20, '\0');
    uint32_t x = 12345;
    for (char& ch : junk) {
        x = x * 1103515245 + 12345;
        ch = static_cast<char>(0x20 + (x >> 16) % 0x5F);  // printable, so it is "UTF-8"
    }
    const PlanFile plan = ReadPlan(junk);
    EXPECT_EQ(plan.refused.substr(0, 7), "line 1,") << plan.refused;
    EXPECT_LT(plan.refused.size(), 1000u);
    EXPECT_NE(ReadPlan(std::string(kPlanMaxBytes + 1, 'a')).refused.find("larger than"),
              std::string::npos);
}

TEST(PlanFile, OtherEncodingsAreConvertedThroughIconv) {
    // "mac,name\n02:fd:00:00:00:01,楼顶\n" as a spreadsheet saves it on a Chinese system.
    const std::string gb = "mac,name\n02:fd:00:00:00:01,\xC2\xA5\xB6\xA5\n";
    EXPECT_NE(ReadPlan(gb).refused.find("line 2"), std::string::npos);  // as UTF-8: refused
    std::string error;
    const std::string utf8 = ConvertToUtf8(gb, "GB18030", error);
    ASSERT_EQ(error, "");
    const PlanFile plan = ReadPlan(utf8);
    ASSERT_EQ(plan.rows.size(), 1u) << plan.refused;
    EXPECT_EQ(Value(plan.rows[0], "name"), "楼顶");

    ConvertToUtf8("mac\n\n\xFF\xFF\xFF", "UTF-8", error);
    EXPECT_EQ(error, "line 3: not UTF-8 text");
    ConvertToUtf8("x", "NO-SUCH-ENCODING", error);
    EXPECT_EQ(error, "unknown encoding 'NO-SUCH-ENCODING' (see iconv --list)");
}

TEST(PlanJournal, ResumesFromTheLastWholeLineOfEachDevice) {
    fd::test::TempDir dir;
    const std::string path = dir.Path("run.jsonl");
    {
        PlanJournal j;
        std::string error;
        ASSERT_TRUE(j.Open(path, error)) << error;
        j.Write("02:fd:00:00:00:01", PlanState::Sending, "name ssid key");
        j.Write("02:fd:00:00:00:02", PlanState::Sending, "name");
        j.Write("02:fd:00:00:00:01", PlanState::Sent);
        j.Write("02:fd:00:00:00:01", PlanState::Verified);
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    {
        // A crash in the middle of a line, then a second run appending.
        std::ofstream cut(path, std::ios::app | std::ios::binary);
        cut << "{\"time\": \"2026-01-01T00:00:00Z\", \"mac\": \"02:fd:00:00:00:02\", \"sta";
    }
    {
        PlanJournal j;
        std::string error;
        ASSERT_TRUE(j.Open(path, error));
        j.Write("02:fd:00:00:00:03", PlanState::NotApplied, "channel (sent 6, reported 1)");
    }
    const auto states = ReadPlanJournal(path);
    // The cut line is passed over; the run after it wrote whole lines.
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states.at("02:fd:00:00:00:03"), PlanState::NotApplied);
    EXPECT_EQ(states.at("02:fd:00:00:00:01"), PlanState::Verified);
    EXPECT_EQ(states.at("02:fd:00:00:00:02"), PlanState::Sending);
    EXPECT_TRUE(IsPlanStateFinal(states.at("02:fd:00:00:00:01")));
    EXPECT_FALSE(IsPlanStateFinal(states.at("02:fd:00:00:00:02")));
}
