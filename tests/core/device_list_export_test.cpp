// The CSV export of the device list: field quoting, formula defusing, and every page of the
// filtered list read from a real store.

#include "presentation/device_list_export.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "presentation/csv_text.h"
#include "store/sql_management.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Lines(const std::string& csv) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < csv.size()) {
        const std::size_t end = csv.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(csv.substr(at));
            break;
        }
        out.push_back(csv.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

ap_info_stu Device(int id) {
    ap_info_stu rec{};
    std::snprintf(rec.mac, sizeof rec.mac, "00:1b:2c:00:%02x:%02x", (id >> 8) & 0xff, id & 0xff);
    rec.ap_type = 1;
    rec.ap_status = fd::AP_STATUS_ONLINE;
    rec.work_mode = fd::WORK_MODE_AP;
    fd::IpFromText("10.1." + std::to_string(id / 200) + "." + std::to_string(id % 200 + 1), rec.ip);
    char name[16];
    std::snprintf(name, sizeof name, "site%03d", id);
    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, name);
    return rec;
}

TEST(CsvTextTest, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(fd::CsvField("plain"), "plain");
    EXPECT_EQ(fd::CsvField(""), "");
    EXPECT_EQ(fd::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(fd::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(fd::CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(fd::CsvLine({"a", "b,c", ""}), "a,\"b,c\",\r\n");
    EXPECT_EQ(fd::CsvLine({}), "\r\n");
}

TEST(CsvTextTest, FormulaLeadersGetAnApostrophe) {
    for (const char* bad : {"=1+1", "+1", "-2", "@SUM(A1)", "\tx", "\rx"}) {
        EXPECT_EQ(fd::SpreadsheetSafe(bad), std::string("'") + bad) << bad;
    }
    for (const char* fine : {"", "site-1", "10.0.0.1", "1 2:03:04", "'quoted"}) {
        EXPECT_EQ(fd::SpreadsheetSafe(fine), fine) << fine;
    }
}

class DeviceListExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_store =
            std::make_unique<CSqlManagement>(m_dir.Path("data.mdb"), [](const std::string&) {});
        ASSERT_TRUE(m_store->IsOpen());
    }
    fd::test::TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
};

TEST_F(DeviceListExportTest, AllPagesInOrderWithTheDiscoveredDevicesLast) {
    for (int i = 0; i < 230; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i)));
    ap_info_stu found = Device(900);
    found.ap_status = fd::AP_STATUS_DISCOVERED;
    ASSERT_TRUE(m_store->SaveDiscoveredDevice(found));
    // By name (column 2), ascending.
    const auto out = fd::ExportDeviceList(*m_store, fd::StatusPageColumns(), 2, true, "");
    EXPECT_EQ(out.rows, 231);
    const auto lines = Lines(out.csv);
    ASSERT_EQ(lines.size(), 232u);
    // Twelve text columns: the tick box and the web button are left out.
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 11);
    EXPECT_EQ(lines[0].rfind("Serial,Location,", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("1,site000,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[101].rfind("101,site100,", 0), 0u) << lines[101];
    EXPECT_EQ(lines[230].rfind("230,site229,", 0), 0u) << lines[230];
    EXPECT_NE(lines[231].find(",site900,"), std::string::npos) << lines[231];
}

// The last store page used to be topped up with discovered-only devices only as far as a
// page holds: with exactly 100 stored devices none of them was written, with 60 + 60 only 40.
TEST_F(DeviceListExportTest, EveryDiscoveredDeviceIsWrittenWhateverTheStoredCount) {
    int nextId = 0;
    for (const auto& [stored, discovered] : {std::pair{100, 7}, std::pair{60, 60}}) {
        SCOPED_TRACE(std::to_string(stored) + " stored + " + std::to_string(discovered));
        CSqlManagement store(m_dir.Path("data" + std::to_string(stored) + ".mdb"),
                             [](const std::string&) {});
        for (int i = 0; i < stored; ++i) ASSERT_TRUE(store.SaveApInfo(Device(nextId++)));
        ApInfoList found;
        for (int i = 0; i < discovered; ++i) {
            found.push_back(Device(1000 + nextId++));
            found.back().ap_status = fd::AP_STATUS_DISCOVERED;
        }
        for (const auto& rec : found) ASSERT_TRUE(store.SaveDiscoveredDevice(rec));
        const auto out = fd::ExportDeviceList(store, fd::StatusPageColumns(),
                                              fd::kDefaultSortColumn, true, "");
        EXPECT_EQ(out.rows, stored + discovered);
        const auto lines = Lines(out.csv);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(1 + stored + discovered));
        for (int i = 0; i < discovered; ++i) {
            const std::string name =
                std::string(",") + reinterpret_cast<const char*>(found[i].ap_name) + ",";
            EXPECT_NE(lines[1 + stored + i].find(name), std::string::npos) << i;
        }
    }
}

TEST_F(DeviceListExportTest, FilterAndEmptyStore) {
    auto out =
        fd::ExportDeviceList(*m_store, fd::StatusPageColumns(), fd::kDefaultSortColumn, false, "");
    EXPECT_EQ(out.rows, 0);
    EXPECT_EQ(Lines(out.csv).size(), 1u);
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i)));
    out = fd::ExportDeviceList(*m_store, fd::RebootPageColumns(), fd::kDefaultSortColumn, false,
                               "site02");
    EXPECT_EQ(out.rows, 10);  // site020..site029
    EXPECT_EQ(Lines(out.csv).size(), 11u);
    out = fd::ExportDeviceList(*m_store, fd::RebootPageColumns(), 2, false, "site02");
    EXPECT_EQ(Lines(out.csv)[1].rfind("1,site029,", 0), 0u) << out.csv;
}

}  // namespace
