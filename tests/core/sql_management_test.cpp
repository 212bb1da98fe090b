// The device store on real SQLite files.

#include "store/sql_management.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "config/labels.h"
#include "support/program_folder.h"
#include "support/temp_dir.h"

namespace {

using fd::test::TempDir;

ap_info_stu Device(uint8_t id, const std::string& ip = "", const std::string& name = "") {
    ap_info_stu rec{};
    const uint8_t mac[6] = {
        0x00, 0x1b, 0x2c, 0x00, static_cast<uint8_t>(id >> 4), static_cast<uint8_t>(id)};
    fd::SetRecordMac(rec, mac);
    rec.ap_type = 1;
    rec.work_mode = fd::WORK_MODE_AP;
    fd::IpFromText(ip.empty() ? "10.0.0." + std::to_string(id) : ip, rec.ip);
    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len,
                     name.empty() ? "dev" + std::to_string(id) : name);
    return rec;
}

std::string MacOf(const ap_info_stu& rec) {
    return rec.mac;
}

std::string Name(const ap_info_stu& rec) {
    return std::string(fd::FieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len));
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_path = m_dir.Path("data.mdb");
        m_store = std::make_unique<CSqlManagement>(
            m_path, [this](const std::string& text) { m_messages.push_back(text); });
        ASSERT_TRUE(m_store->IsOpen()) << m_store->GetLastDatabaseError();
    }

    // The macs of one page, in order.
    std::vector<std::string> Page(int sort, int size, int number, bool asc,
                                  const std::string& filter = "", int* rows = nullptr,
                                  int* pages = nullptr) {
        ApInfoList list;
        int pageCount = -1, rowCount = 0;
        EXPECT_TRUE(
            m_store->QueryApPage(sort, list, pageCount, rowCount, size, number, asc, filter))
            << m_store->GetLastQueryError();
        if (rows) *rows = rowCount;
        if (pages) *pages = pageCount;
        std::vector<std::string> macs;
        for (const auto& rec : list) macs.push_back(MacOf(rec));
        return macs;
    }

    TempDir m_dir;
    std::string m_path;
    std::vector<std::string> m_messages;
    std::unique_ptr<CSqlManagement> m_store;
};

// A device that has only answered a search is listed, but nothing acts on it: it has no
// record to configure, no status to move, and no address a set-IP check should trust.
TEST_F(StoreTest, SearchOnlyRowsAreListedButNotActedOn) {
    ASSERT_TRUE(m_store->SaveApInfo(Device(1)));
    ap_info_stu found = Device(2);
    found.ap_status = fd::AP_STATUS_DISCOVERED;
    ASSERT_TRUE(m_store->SaveDiscoveredDevice(found));
    ASSERT_FALSE(m_store->SaveDiscoveredDevice(ap_info_stu{}));  // no mac

    int rows = 0, pages = 0;
    EXPECT_EQ(Page(0, 10, 1, false, "", &rows, &pages),
              (std::vector<std::string>{MacOf(Device(1)), MacOf(found)}));
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(pages, 1);
    ap_info_stu rec;
    EXPECT_FALSE(m_store->QueryApByMac(MacOf(found), rec));
    std::vector<std::string> macs, ips;
    m_store->QueryApMacList(macs);
    m_store->QueryApIpList(ips);
    EXPECT_EQ(macs, std::vector<std::string>{MacOf(Device(1))});
    EXPECT_EQ(ips.size(), 1u);
    EXPECT_FALSE(m_store->SetApStatus(MacOf(found), fd::AP_STATUS_RESTARTING));
    EXPECT_EQ(m_store->GetApStatus(MacOf(found)), 0);  // as for no row: a search waits on

    // Its information makes it an ordinary row, which a late search reply leaves alone.
    ASSERT_TRUE(m_store->SaveApInfo(Device(2)));
    ASSERT_TRUE(m_store->SaveDiscoveredDevice(found));
    ASSERT_TRUE(m_store->QueryApByMac(MacOf(found), rec));
    EXPECT_EQ(rec.ap_status, fd::AP_STATUS_ONLINE);
    ASSERT_TRUE(m_store->DeleteDiscoveredDevices());
    Page(0, 10, 1, false, "", &rows);
    EXPECT_EQ(rows, 2);
}

TEST_F(StoreTest, FileIsFreshAtStartAndGoneAfterDestruction) {
    ASSERT_TRUE(m_store->SaveApInfo(Device(1)));
    EXPECT_TRUE(std::filesystem::exists(m_path));
    m_store.reset();
    EXPECT_FALSE(std::filesystem::exists(m_path));

    // A file left by an earlier run (here: not even a database) is replaced.
    m_dir.Write("data.mdb", "left over from a crash");
    m_store = std::make_unique<CSqlManagement>(
        m_path, [this](const std::string& t) { m_messages.push_back(t); });
    ASSERT_TRUE(m_store->IsOpen());
    int rows = -1;
    Page(0, 10, 1, true, "", &rows);
    EXPECT_EQ(rows, 0);
    ASSERT_TRUE(m_store->SaveApInfo(Device(1)));

    // Starting a second time in a row again gives an empty table.
    m_store = std::make_unique<CSqlManagement>(m_path);
    Page(0, 10, 1, true, "", &rows);
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(m_messages.empty());
}

TEST(StoreOpenFailureTest, UnusableFolderGivesEmptyResultsAndOneMessage) {
    TempDir dir;
    std::vector<std::string> messages;
    // A folder that does not exist cannot hold the file, whoever runs the test.
    CSqlManagement store(dir.Path("missing/sub/data.mdb"),
                         [&](const std::string& text) { messages.push_back(text); });
    EXPECT_FALSE(store.IsOpen());
    ap_info_stu rec = Device(1);
    EXPECT_FALSE(store.SaveApInfo(rec));
    ApInfoList list;
    int pages = 7, rows = 0;
    EXPECT_FALSE(store.QueryApPage(1, list, pages, rows, 10, 1, true, "x"));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(rows, 0);
    std::vector<std::string> macs;
    EXPECT_FALSE(store.QueryApMacList(macs));
    EXPECT_FALSE(store.QueryApByMac(MacOf(rec), rec));
    EXPECT_EQ(rec.ap_name_len, 0) << "the record is cleared even so";
    EXPECT_FALSE(store.SetApStatus(MacOf(rec), 4));
    EXPECT_EQ(store.GetApStatus(MacOf(rec)), 0);
    EXPECT_FALSE(store.DeleteApByMac(MacOf(rec)));
    EXPECT_FALSE(store.DeleteAllOtherAp());
    EXPECT_FALSE(store.UpdateApUpTime("1.2.3.4", MacOf(rec), 5));
    std::string peer = "unchanged";
    EXPECT_FALSE(store.FindBridgePeer(MacOf(rec), peer));
    EXPECT_EQ(peer, "unchanged");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Failed to open database, unable to get data.");
}

TEST(StoreOpenFailureTest, MessageWaitsForTheProcessWideHandler) {
    TempDir dir;
    { CSqlManagement store(dir.Path("missing/data.mdb")); }
    std::vector<std::string> messages;
    CSqlManagement::SetMessageHandler([&](const std::string& t) { messages.push_back(t); });
    EXPECT_EQ(messages, std::vector<std::string>{"Failed to open database, unable to get data."});
    CSqlManagement::SetMessageHandler({});
    CSqlManagement::SetMessageHandler([&](const std::string& t) { messages.push_back(t); });
    EXPECT_EQ(messages.size(), 1u) << "raised once, delivered once";
    CSqlManagement::SetMessageHandler({});
}

TEST(StoreFolderTest, FallsBackToAPrivateRuntimeFolder) {
    TempDir dir;
    EXPECT_EQ(fd::ChooseDatabaseDirectory(dir.Dir()), dir.Dir());
    std::string chosen = fd::ChooseDatabaseDirectory(dir.Path("does-not-exist"));
    ASSERT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.back(), '/');
    EXPECT_NE(chosen, dir.Path("does-not-exist/"));
    struct stat st {};
    ASSERT_EQ(stat(chosen.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(StoreInstanceTest, ProcessWideStoreIsRemovedAtExit) {
    // The store is made beside the program. This test runs again as a copy of itself in a
    // folder of its own, so that it shares no file with another program of the build.
    if (const char* report = std::getenv("FD_STORE_CHILD_REPORT_FD")) {
        // The copy creates the store, reports the file's path and exits normally, which
        // runs the store's destructor.
        CSqlManagement* store = CSqlManagement::GetInstance();
        struct stat st {};
        const std::string path = fd::DefaultDatabasePath();
        const bool ok = store == CSqlManagement::GetInstance() && store->IsOpen() &&
                        store->GetDatabasePath() == path && stat(path.c_str(), &st) == 0 &&
                        store->SaveApInfo(Device(1));
        const std::string line = ok ? path : std::string();
        const int fd = std::atoi(report);
        const bool sent = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        std::exit(ok && sent ? 0 : 1);
    }
    const fd::test::ProgramFolder folder("sql_management_test", {});
    ASSERT_TRUE(folder.Ok()) << folder.Error();
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        setenv("FD_STORE_CHILD_REPORT_FD", std::to_string(pipeFds[1]).c_str(), 1);
        execl(folder.Program().c_str(), folder.Program().c_str(),
              "--gtest_filter=StoreInstanceTest.ProcessWideStoreIsRemovedAtExit",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string reported;
    char buf[512];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) reported.append(buf, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(std::filesystem::weakly_canonical(reported),
              std::filesystem::weakly_canonical(folder.Path("data.mdb")));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("data.mdb")));
}

TEST_F(StoreTest, SaveKeepsOneRowPerMacAndBringsItBackOnline) {
    ap_info_stu rec = Device(1, "192.168.0.5", "first");
    ASSERT_TRUE(m_store->SaveApInfo(rec));
    ASSERT_TRUE(m_store->SetApStatus(MacOf(rec), fd::AP_STATUS_RESTARTING));
    EXPECT_EQ(m_store->GetApStatus(MacOf(rec)), fd::AP_STATUS_RESTARTING);

    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len, "renamed");
    rec.work_mode = fd::WORK_MODE_STATION;
    ASSERT_TRUE(m_store->SaveApInfo(rec));
    ASSERT_TRUE(m_store->SaveApInfo(Device(2)));

    int rows = 0;
    Page(0, 10, 1, true, "", &rows);
    EXPECT_EQ(rows, 2);
    ap_info_stu back{};
    ASSERT_TRUE(m_store->QueryApByMac(MacOf(rec), back));
    EXPECT_EQ(Name(back), "renamed");
    EXPECT_EQ(back.ap_status, fd::AP_STATUS_ONLINE);
    // The labels were refreshed too: the new work mode's label is what the filter sees.
    EXPECT_EQ(Page(0, 10, 1, true, "Station"), std::vector<std::string>{MacOf(rec)});
    EXPECT_TRUE(Page(0, 10, 1, true, "Restarting").empty());

    ap_info_stu nomac = Device(3);
    std::memset(nomac.mac, 0, sizeof nomac.mac);
    EXPECT_FALSE(m_store->SaveApInfo(nomac));
}

TEST_F(StoreTest, WriteBatchesNestAndEveryWriteIsSeenAtOnce) {
    m_store->BeginWriteBatch();
    ASSERT_TRUE(m_store->SaveApInfo(Device(1)));
    m_store->BeginWriteBatch();  // a second worker's batch inside the first
    ASSERT_TRUE(m_store->SaveApInfo(Device(2)));
    ASSERT_TRUE(m_store->SetApStatus(MacOf(Device(1)), fd::AP_STATUS_RESTARTING));
    m_store->EndWriteBatch();
    EXPECT_EQ(m_store->GetApStatus(MacOf(Device(1))), fd::AP_STATUS_RESTARTING);
    ASSERT_TRUE(m_store->SaveApInfo(Device(3)));
    m_store->EndWriteBatch();
    m_store->EndWriteBatch();  // one too many: ignored

    std::vector<std::string> macs;
    ASSERT_TRUE(m_store->QueryApMacList(macs));
    EXPECT_EQ(macs.size(), 3u);
    // Outside any batch, writes go on as before.
    EXPECT_TRUE(m_store->DeleteApByMac(MacOf(Device(2))));
    macs.clear();
    ASSERT_TRUE(m_store->QueryApMacList(macs));
    EXPECT_EQ(macs.size(), 2u);
}

TEST_F(StoreTest, RecordSurvivesTheRoundTrip) {
    ap_info_stu rec = Device(7, "192.168.10.200", "Roof \xE5\x8C\x97 O'Neil");
    rec.ap_type = 265;
    rec.mode_btn_status = 3;
    rec.up_time = 4000000000u;
    rec.ip_mode = 1;
    fd::IpFromText("255.255.255.0", rec.ip_mask);
    fd::IpFromText("192.168.10.1", rec.ip_gateway);
    fd::IpFromText("8.8.8.8", rec.ip_dns1);
    fd::IpFromText("1.1.1.1", rec.ip_dns2);
    fd::SetFieldText(rec.version, sizeof rec.version, rec.version_len, "V2.1.7 build 42");
    rec.restart_en = 1;
    rec.restart_type = 2;
    rec.restart_time = 0x1234;
    rec.rf_count = 1;
    rec.channel = 149;
    rec.tx_power = 27;
    rec.tx_power_max = 30;
    rec.ssid_hide = 1;
    const uint8_t ssidMac[6] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01};
    std::memcpy(rec.ssid_mac, ssidMac, 6);
    fd::SetFieldText(rec.ssid, sizeof rec.ssid, rec.ssid_len, "wifi \"x\" 100%");
    rec.ssid_count = 1;
    rec.secure_mode = 3;
    fd::SetFieldText(rec.wpapsk_key_value, sizeof rec.wpapsk_key_value, rec.wpapsk_key_value_len,
                     std::string(64, 'k'));
    rec.wpapsk_key_time = 86400;
    fd::SetFieldText(rec.wep_key_value2, sizeof rec.wep_key_value2, rec.wep_key_value2_len,
                     "0123456789abcdef0123456789");
    rec.wep_key_type2 = 1;
    fd::IpFromText("10.1.1.1", rec.wpa_radius_ip);
    rec.wpa_radius_port = 65535;
    fd::SetFieldText(rec.wpa_key, sizeof rec.wpa_key, rec.wpa_key_len, "radius\\secret");
    rec.vlan_en = 1;
    rec.vlan_id = 4094;
    rec.vlan_id_lan = 100;
    rec.bridge_transparent = 1;
    rec.tdmaEn = 1;
    rec.vlan_pvid = 7;
    rec.vlan_id_lan4 = 300;
    ASSERT_TRUE(m_store->SaveApInfo(rec));

    ap_info_stu back;
    std::memset(&back, 0xAB, sizeof back);
    ASSERT_TRUE(m_store->QueryApByMac(MacOf(rec), back));
    // Everything but the status (always Online), the bridge_* columns and the reserved
    // bytes comes back as it went in.
    ap_info_stu expect = rec;
    expect.ap_status = fd::AP_STATUS_ONLINE;
    EXPECT_EQ(std::memcmp(&back, &expect, sizeof back), 0);
    EXPECT_EQ(back.up_time, 4000000000u);
    EXPECT_EQ(back.wpa_radius_port, 65535);
    EXPECT_EQ(Name(back), "Roof \xE5\x8C\x97 O'Neil");
}

// The column list writes the statements that make the table; they stay word for word what
// the table has always been made with.
TEST(StoreSchemaTest, ColumnListWritesTheTableStatementsVerbatim) {
    const std::vector<std::string> expected = {
        "CREATE TABLE ap_info(ID Counter,mac char(18),ap_type long,ap_type_str char(33),"
        "ap_status long,ap_status_str char(33),work_mode long,work_mode_str char(33),"
        "mode_btn_status long,up_time long,up_time_str char(33),ip_mode long,ip_num double,"
        "ip char(16),ip_mask char(16),ip_gateway char(16),ip_dns1 char(16),ip_dns2 char(16),"
        "ap_name char(33),version char(33))",
        "ALTER TABLE ap_info ADD restart_en long,restart_type long,restart_time long",
        "ALTER TABLE ap_info ADD rf_count long,rf_en long,rf_type long,country_code long,"
        "network_mode long,bandwidth long,channel long,expand_channel long,tx_power long,"
        "tx_power_min long,tx_power_max long",
        "ALTER TABLE ap_info ADD ssid_count long,ssid_rf_type long,ssid_id long,ssid_hide long,"
        "ssid_mac char(18),ssid char(33),secure_mode long,secure_mode_str char(33),"
        "wpapsk_auth_type long,wpapsk_key_value char(65),wpapsk_key_time long,wep_auth_type long,"
        "wep_key_index long,wep_key_value0 char(65),wep_key_type0 long,wep_key_value1 char(65),"
        "wep_key_type1 long,wep_key_value2 char(65),wep_key_type2 long,wep_key_value3 char(65),"
        "wep_key_type3 long,wpa_auth_type long,wpa_radius_ip char(16),wpa_radius_port long,"
        "wpa_key char(65),wpa_key_time long",
        "ALTER TABLE ap_info ADD bridge_work_mode long, bridge_mac char(18), bridge_channel long, "
        "bridge_ssid char(33)",
        "ALTER TABLE ap_info ADD vlan_en long,vlan_id long,vlan_id_wlan long,vlan_id_lan long",
        "ALTER TABLE ap_info ADD bridge_transparent long,bridge_transparent_str char(33),"
        "tdmaEn long,tdmaEn_str char(33),vlan_pvid long,vlan_id_lan3 long,vlan_id_lan4 long",
    };
    EXPECT_EQ(fd::ApInfoSchema(), expected);
}

TEST_F(StoreTest, TextFieldsNeverTakeMoreThanTheirFieldHolds) {
    ap_info_stu rec = Device(1);
    std::memset(rec.ap_name, 'n', sizeof rec.ap_name);
    rec.ap_name_len = 200;  // claims more than the field holds
    std::memset(rec.wep_key_value0, 'w', sizeof rec.wep_key_value0);
    rec.wep_key_value0_len = 255;
    std::memcpy(rec.ssid, "ab\0cd", 5);
    rec.ssid_len = 5;  // a zero inside the counted bytes ends the text
    ASSERT_TRUE(m_store->SaveApInfo(rec));
    ap_info_stu back{};
    ASSERT_TRUE(m_store->QueryApByMac(MacOf(rec), back));
    EXPECT_EQ(back.ap_name_len, 32);
    EXPECT_EQ(Name(back), std::string(32, 'n'));
    EXPECT_EQ(back.wep_key_value0_len, 26);
    EXPECT_EQ(back.ssid_len, 2);
    EXPECT_EQ(back.reserved1, 0) << "the name did not spill into the next field";
}

TEST_F(StoreTest, TwentyThreeRowsMakeThreePagesOfTen) {
    for (uint8_t i = 1; i <= 23; ++i) ASSERT_TRUE(m_store->SaveApInfo(Device(i)));
    int rows = 0, pages = 0;
    EXPECT_EQ(Page(0, 10, 1, true, "", &rows, &pages).size(), 10u);
    EXPECT_EQ(rows, 23);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(Page(0, 10, 3, true, "", &rows, &pages).size(), 3u);
    EXPECT_EQ(Page(0, 10, 4, true, "", &rows, &pages).size(), 0u);
    EXPECT_EQ(rows, 23);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(Page(0, 23, 1, true, "", &rows, &pages).size(), 23u);
    EXPECT_EQ(pages, 1);

    // rowCount is only ever increased; the list is appended to.
    ApInfoList list(1);
    int pageCount = 0, rowCount = 5;
    ASSERT_TRUE(m_store->QueryApPage(0, list, pageCount, rowCount, 10, 3, true, ""));
    EXPECT_EQ(rowCount, 28);
    EXPECT_EQ(list.size(), 4u);

    // Nonsense that would otherwise divide by zero or read past the column list.
    EXPECT_FALSE(m_store->QueryApPage(0, list, pageCount, rowCount, 0, 1, true, ""));
    EXPECT_FALSE(m_store->QueryApPage(14, list, pageCount, rowCount, 10, 1, true, ""));
    EXPECT_FALSE(m_store->QueryApPage(-1, list, pageCount, rowCount, 10, 1, true, ""));
    EXPECT_EQ(Page(0, 10, 0, true, "", &rows, &pages).size(), 0u);
    EXPECT_EQ(rows, 23);

    ASSERT_TRUE(m_store->DeleteApByMac(MacOf(Device(23))));
    Page(0, 10, 1, true, "", &rows, &pages);
    EXPECT_EQ(rows, 22);
    m_store->DeleteApByMac(MacOf(Device(22)));
    m_store->DeleteApByMac(MacOf(Device(21)));
    Page(0, 10, 1, true, "", &rows, &pages);
    EXPECT_EQ(pages, 2) << "20 rows fill exactly two pages";
}

TEST_F(StoreTest, TiesOnTheSortColumnNeverRepeatOrSkipARowAcrossPages) {
    // Every device on the same channel and the same model: only the tiebreak orders them.
    for (uint8_t i = 1; i <= 23; ++i) {
        ap_info_stu rec = Device(static_cast<uint8_t>(i * 37));
        rec.channel = 6;
        ASSERT_TRUE(m_store->SaveApInfo(rec));
    }
    for (int sort : {3, 6, 13}) {
        for (bool asc : {true, false}) {
            std::vector<std::string> all;
            for (int page = 1; page <= 3; ++page) {
                auto macs = Page(sort, 10, page, asc);
                all.insert(all.end(), macs.begin(), macs.end());
            }
            std::set<std::string> distinct(all.begin(), all.end());
            EXPECT_EQ(all.size(), 23u);
            EXPECT_EQ(distinct.size(), 23u) << "sort " << sort;
            EXPECT_EQ(all, Page(sort, 23, 1, asc)) << "pages agree with the whole list";
            // Devices were added out of mac order; the tiebreak puts them in mac order.
            std::vector<std::string> byMac = all;
            std::sort(byMac.begin(), byMac.end());
            if (!asc) std::reverse(byMac.begin(), byMac.end());
            EXPECT_EQ(all, byMac) << "sort " << sort;
        }
    }
}

TEST_F(StoreTest, SortByIpNumOrdersByTheLastOctetFirst) {
    ap_info_stu a = Device(1, "192.168.0.20");
    ap_info_stu b = Device(2, "192.168.1.10");
    ap_info_stu c = Device(3, "192.168.0.3");
    for (auto* rec : {&a, &b, &c}) ASSERT_TRUE(m_store->SaveApInfo(*rec));
    EXPECT_EQ(Page(1, 10, 1, true), (std::vector<std::string>{MacOf(c), MacOf(b), MacOf(a)}));
    EXPECT_EQ(Page(1, 10, 1, false), (std::vector<std::string>{MacOf(a), MacOf(b), MacOf(c)}));
    // Names sort without regard to case.
    ASSERT_TRUE(m_store->SaveApInfo(Device(1, "1.1.1.1", "beta")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(2, "1.1.1.2", "Alpha")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(3, "1.1.1.3", "gamma")));
    EXPECT_EQ(Page(2, 10, 1, true), (std::vector<std::string>{MacOf(b), MacOf(a), MacOf(c)}));
}

TEST_F(StoreTest, FilterMatchesShownTextsAndNumbersAsText) {
    ap_info_stu ch5 = Device(1, "10.0.0.1", "alpha");
    ch5.channel = 5;
    ap_info_stu tx15 = Device(2, "10.0.0.2", "beta");
    tx15.tx_power = 15;
    ap_info_stu ip5 = Device(3, "10.0.0.35", "gamma");
    ap_info_stu none = Device(4, "10.0.0.4", "delta");
    none.channel = 6;
    none.tx_power = 20;
    for (auto* rec : {&ch5, &tx15, &ip5, &none}) ASSERT_TRUE(m_store->SaveApInfo(*rec));

    int rows = 0;
    auto macs = Page(0, 10, 1, true, "5", &rows);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(std::set<std::string>(macs.begin(), macs.end()),
              (std::set<std::string>{MacOf(ch5), MacOf(tx15), MacOf(ip5)}));
    EXPECT_EQ(Page(0, 10, 1, true, "ALPHA").size(), 1u) << "case does not matter";
    EXPECT_EQ(Page(0, 10, 1, true, "Online").size(), 4u) << "the status label is searched";
    EXPECT_EQ(Page(0, 10, 1, true, MacOf(none)), std::vector<std::string>{MacOf(none)});
    EXPECT_EQ(Page(0, 10, 1, true, "1B:2C:00:00:04"), std::vector<std::string>{MacOf(none)});
    EXPECT_EQ(Page(0, 10, 1, true, "0.0.35"), std::vector<std::string>{MacOf(ip5)});
    EXPECT_EQ(Page(0, 10, 1, true, "0:0:0").size(), 4u) << "uptime text of 0 seconds";
    EXPECT_EQ(Page(0, 10, 1, true, "").size(), 4u);
}

TEST_F(StoreTest, FilterCharactersMatchThemselves) {
    ASSERT_TRUE(m_store->SaveApInfo(Device(1, "", "it's 50% off")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(2, "", "a_b")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(3, "", "back\\slash")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(4, "", "\xE5\x8C\x97\xE4\xBA\xAC station")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(5, "", "axb plain")));

    EXPECT_EQ(Page(0, 10, 1, true, "'"), std::vector<std::string>{MacOf(Device(1))});
    EXPECT_EQ(Page(0, 10, 1, true, "%"), std::vector<std::string>{MacOf(Device(1))});
    EXPECT_EQ(Page(0, 10, 1, true, "a_b"), std::vector<std::string>{MacOf(Device(2))});
    EXPECT_EQ(Page(0, 10, 1, true, "\\"), std::vector<std::string>{MacOf(Device(3))});
    EXPECT_EQ(Page(0, 10, 1, true, "\xE5\x8C\x97"), std::vector<std::string>{MacOf(Device(4))});
    EXPECT_EQ(Page(0, 10, 1, true, "x' or '1'='1").size(), 0u);
    // A control character cannot join two columns' texts into a match.
    EXPECT_EQ(Page(0, 10, 1, true, std::string("off\x01") + "10.0").size(), 0u);
    EXPECT_EQ(Page(0, 10, 1, true, "\x01").size(), 0u);

    int rows = -1;
    EXPECT_TRUE(Page(0, 10, 1, true, std::string(1000, 'a'), &rows).empty());
    EXPECT_EQ(rows, 0);
    EXPECT_TRUE(Page(0, 10, 1, true, std::string(200, '%'), &rows).empty());
    // Still working afterwards.
    EXPECT_EQ(Page(0, 10, 1, true, "plain").size(), 1u);
}

TEST_F(StoreTest, StatusSettersMoveOnlyWhatTheyMay) {
    const std::string mac = MacOf(Device(1));
    ASSERT_TRUE(m_store->SaveApInfo(Device(1)));

    EXPECT_FALSE(m_store->IsApUpgradeWait(mac));
    EXPECT_FALSE(m_store->SetApUpgrading(mac)) << "Online is not waiting for an upgrade";
    EXPECT_EQ(m_store->GetApStatus(mac), fd::AP_STATUS_ONLINE);
    EXPECT_FALSE(m_store->ResetApUpgradeFail(mac));
    EXPECT_EQ(m_store->GetApStatus(mac), fd::AP_STATUS_ONLINE);

    ASSERT_TRUE(m_store->SetApStatus(mac, fd::AP_STATUS_UPGRADE_WAIT));
    EXPECT_TRUE(m_store->IsApUpgradeWait(mac));
    EXPECT_FALSE(m_store->ResetApUpgradeFail(mac));
    EXPECT_TRUE(m_store->SetApUpgrading(mac));
    EXPECT_EQ(m_store->GetApStatus(mac), fd::AP_STATUS_UPGRADING);
    EXPECT_FALSE(m_store->SetApUpgrading(mac)) << "already moved";
    EXPECT_EQ(Page(0, 10, 1, true, "Upgrading").size(), 1u) << "label follows the status";

    ASSERT_TRUE(m_store->SetApStatus(mac, fd::AP_STATUS_UPGRADE_FAIL));
    EXPECT_TRUE(m_store->ResetApUpgradeFail(mac));
    EXPECT_EQ(m_store->GetApStatus(mac), fd::AP_STATUS_ONLINE);
    EXPECT_EQ(Page(0, 10, 1, true, "Upgrade fail").size(), 0u);

    // Unknown devices are never added by a status change.
    EXPECT_FALSE(m_store->SetApStatus("00:00:00:00:00:99", 4));
    EXPECT_EQ(m_store->GetApStatus("00:00:00:00:00:99"), 0);
    EXPECT_FALSE(m_store->SetApStatus("", 4));
    EXPECT_FALSE(m_store->SetApStatus("' or ''='", 4));
    EXPECT_EQ(m_store->GetApStatus(mac), fd::AP_STATUS_ONLINE);
}

TEST_F(StoreTest, UptimeReplyUpdatesKnownDevicesOnly) {
    ap_info_stu rec = Device(1, "192.168.0.9");
    ASSERT_TRUE(m_store->SaveApInfo(rec));
    ASSERT_TRUE(m_store->SaveApInfo(Device(2, "192.168.0.10")));
    ASSERT_TRUE(m_store->UpdateApUpTime("192.168.0.200", MacOf(rec), 90061));
    ap_info_stu back{};
    ASSERT_TRUE(m_store->QueryApByMac(MacOf(rec), back));
    EXPECT_EQ(back.up_time, 90061u);
    EXPECT_EQ(fd::IpToText(back.ip), "192.168.0.200");
    EXPECT_EQ(Page(1, 10, 1, true).back(), MacOf(rec)) << "ip_num follows the new address";
    EXPECT_EQ(Page(0, 10, 1, true, "1 1:1:1").size(), 1u) << "uptime text refreshed";

    EXPECT_FALSE(m_store->UpdateApUpTime("192.168.0.7", "00:00:00:00:00:77", 5));
    int rows = 0;
    Page(0, 10, 1, true, "", &rows);
    EXPECT_EQ(rows, 2);
}

TEST_F(StoreTest, ListsLookupsAndDeletes) {
    ap_info_stu empty{};
    std::memset(&empty, 0x5A, sizeof empty);
    EXPECT_FALSE(m_store->QueryApByMac("", empty));
    const ap_info_stu zero{};
    EXPECT_EQ(std::memcmp(&empty, &zero, sizeof empty), 0) << "zeroed when none";

    ASSERT_TRUE(m_store->SaveApInfo(Device(2, "10.0.0.2")));
    ASSERT_TRUE(m_store->SaveApInfo(Device(1, "10.0.0.1")));
    std::vector<std::string> ips, macs;
    EXPECT_TRUE(m_store->QueryApIpList(ips));
    EXPECT_TRUE(m_store->QueryApMacList(macs));
    EXPECT_EQ(ips, (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));
    EXPECT_EQ(macs, (std::vector<std::string>{MacOf(Device(2)), MacOf(Device(1))}));

    ap_info_stu first{};
    EXPECT_TRUE(m_store->QueryApByMac("", first));
    EXPECT_EQ(MacOf(first), MacOf(Device(2))) << "an empty mac gives the first row";
    EXPECT_FALSE(m_store->QueryApByMac("not a mac", first));
    EXPECT_EQ(first.mac[0], '\0');

    EXPECT_TRUE(m_store->DeleteApByMac("x' or '1'='1"));
    macs.clear();
    m_store->QueryApMacList(macs);
    EXPECT_EQ(macs.size(), 2u) << "a quote in a mac deletes nothing else";
    EXPECT_TRUE(m_store->DeleteApByMac(MacOf(Device(2))));
    macs.clear();
    m_store->QueryApMacList(macs);
    EXPECT_EQ(macs, std::vector<std::string>{MacOf(Device(1))});
}

TEST_F(StoreTest, BridgePeersAreFoundBothWays) {
    const uint8_t apBssid[6] = {0x02, 0, 0, 0, 0, 0xa1};
    ap_info_stu ap = Device(1);
    std::memcpy(ap.ssid_mac, apBssid, 6);
    ap_info_stu station = Device(2);
    station.work_mode = fd::WORK_MODE_STATION;
    std::memcpy(station.bridge_mac, apBssid, 6);
    const uint8_t otherBssid[6] = {0x02, 0, 0, 0, 0, 0xb2};
    std::memcpy(station.ssid_mac, otherBssid, 6);
    ap_info_stu lonely = Device(3);  // a Station linked to an AP that is not listed
    lonely.work_mode = fd::WORK_MODE_STATION;
    const uint8_t elsewhere[6] = {0x02, 0, 0, 0, 0, 0xcc};
    std::memcpy(lonely.bridge_mac, elsewhere, 6);
    ap_info_stu bare = Device(4);      // an AP reporting no wireless MAC
    ap_info_stu unlinked = Device(5);  // a Station linked to nothing
    unlinked.work_mode = fd::WORK_MODE_STATION;
    for (auto* rec : {&ap, &station, &lonely, &bare, &unlinked}) {
        ASSERT_TRUE(m_store->SaveApInfo(*rec));
    }

    EXPECT_TRUE(m_store->HasBridgedStation(MacOf(ap)));
    EXPECT_FALSE(m_store->HasBridgedStation(MacOf(station)));
    std::string peer;
    EXPECT_TRUE(m_store->FindBridgePeer(MacOf(station), peer));
    EXPECT_EQ(peer, MacOf(ap));
    peer.clear();
    EXPECT_TRUE(m_store->FindBridgePeer(MacOf(ap), peer));
    EXPECT_EQ(peer, MacOf(station));

    peer = "kept";
    EXPECT_FALSE(m_store->FindBridgePeer(MacOf(lonely), peer));
    EXPECT_EQ(peer, "kept");
    EXPECT_FALSE(m_store->FindBridgePeer("00:00:00:00:00:99", peer));
    // A zero MAC on both sides is no link.
    EXPECT_FALSE(m_store->HasBridgedStation(MacOf(bare)));
    EXPECT_FALSE(m_store->FindBridgePeer(MacOf(bare), peer));
    EXPECT_FALSE(m_store->FindBridgePeer(MacOf(unlinked), peer));
    EXPECT_EQ(peer, "kept");
}

config_otherwl_basic Neighbour(uint8_t id, int8_t signal, const std::string& ssid) {
    config_otherwl_basic n{};
    const uint8_t mac[6] = {0x0a, 0, 0, 0, 0, id};
    std::memcpy(n.mac, mac, 6);
    n.signal = signal;
    n.channel = static_cast<uint8_t>(id);
    n.secure_mode = 2;
    fd::SetFieldText(n.ssid, sizeof n.ssid, n.ssid_len, ssid);
    n.exchannel = 1;
    n.bandwidth = 2;
    return n;
}

TEST_F(StoreTest, SurveyNeighboursAreUpsertedSortedAndCleared) {
    std::vector<config_otherwl_basic> first = {Neighbour(1, -70, "one"), Neighbour(2, -40, "two")};
    std::memset(first[1].ssid, 's', sizeof first[1].ssid);
    first[1].ssid_len = 40;  // more than the field holds
    ASSERT_TRUE(m_store->SaveOtherApList(fd::DecodeScanResult(fd::EncodeScanResult(2, 0, first))));
    std::vector<config_otherwl_basic> second = {Neighbour(1, -55, "one again")};
    ASSERT_TRUE(m_store->SaveOtherApList(fd::DecodeScanResult(fd::EncodeScanResult(2, 1, second))));

    OtherApList list;
    ASSERT_TRUE(m_store->QueryOtherApList(4, list, true));
    ASSERT_EQ(list.size(), 2u) << "the same BSSID is kept once";
    EXPECT_EQ(list[0].mac[5], 1);
    EXPECT_EQ(list[0].signal, -55) << "negative signals keep their sign";
    EXPECT_EQ(list[1].signal, -40);
    EXPECT_EQ(list[1].ssid_len, 32);
    EXPECT_EQ(list[1].bandwidth, 2);
    list.clear();
    ASSERT_TRUE(m_store->QueryOtherApList(4, list, false));
    EXPECT_EQ(list[0].mac[5], 2);
    EXPECT_FALSE(m_store->QueryOtherApList(5, list, true));

    config_otherwl_basic rec{};
    ASSERT_TRUE(m_store->QueryOtherApByMac("0a:00:00:00:00:01", rec));
    EXPECT_EQ(std::string(fd::FieldText(rec.ssid, 32, rec.ssid_len)), "one again");
    EXPECT_EQ(rec.channel, 1);
    config_otherwl_basic untouched = Neighbour(9, -1, "x");
    EXPECT_FALSE(m_store->QueryOtherApByMac("0a:00:00:00:00:07", untouched));
    EXPECT_EQ(untouched.mac[5], 9);

    // A packet that claims more records than it carries stores the ones it carries.
    auto body =
        fd::EncodeScanResult(1, 0, std::vector<config_otherwl_basic>{Neighbour(3, -1, "t")});
    body[2] = 5;
    ASSERT_TRUE(m_store->SaveOtherApList(fd::DecodeScanResult(body)));
    list.clear();
    m_store->QueryOtherApList(0, list, true);
    EXPECT_EQ(list.size(), 3u);

    ASSERT_TRUE(m_store->DeleteAllOtherAp());
    list.clear();
    ASSERT_TRUE(m_store->QueryOtherApList(0, list, true));
    EXPECT_TRUE(list.empty());
}

}  // namespace
