// The device list model over a real store on a scratch file and a recording engine.

#include "presentation/device_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "config/language.h"
#include "config/labels.h"
#include "store/sql_management.h"
#include "support/listed_devices.h"
#include "support/temp_dir.h"

namespace {

using fd::test::Device;
using fd::test::Discovered;

using fd::DeviceListModel;
using fd::test::TempDir;

class DeviceListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_store =
            std::make_unique<CSqlManagement>(m_dir.Path("data.mdb"), [](const std::string&) {});
        ASSERT_TRUE(m_store->IsOpen());
    }
    void AddStored(int count, int apType = 1, int workMode = fd::WORK_MODE_AP) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(m_store->SaveApInfo(Device(m_next++, apType, workMode)));
        }
    }
    void AddDiscovered(int count) {
        for (int i = 0; i < count; ++i) ASSERT_TRUE(m_store->SaveDiscoveredDevice(Discovered(i)));
    }
    static std::vector<std::string> Column(const fd::DeviceListPage& page, int column) {
        std::vector<std::string> out;
        for (const auto& r : page.rows) out.push_back(r.cells[static_cast<std::size_t>(column)]);
        return out;
    }

    TempDir m_dir;
    std::unique_ptr<CSqlManagement> m_store;
    int m_next = 0;
};

TEST_F(DeviceListTest, DiscoveredDevicesFollowTheOthersAcrossThePages) {
    AddStored(35);
    AddDiscovered(40);
    DeviceListModel list(*m_store, fd::StatusPageColumns());
    ASSERT_EQ(list.PageSize(), 30);

    const auto& first = list.Refresh(1);
    EXPECT_EQ(first.rows.size(), 30u);
    EXPECT_EQ(first.storedRows, 30);
    // Every row can be paged to; the count still counts the devices with information.
    EXPECT_EQ(first.pageCount, 3);
    EXPECT_EQ(first.rowCount, 35);
    EXPECT_EQ(first.countText, "Online device count:35");
    EXPECT_EQ(first.rows.front().cells[1], "1");

    const auto& second = list.Refresh(2);
    ASSERT_EQ(second.rows.size(), 30u);
    EXPECT_EQ(second.storedRows, 5);
    for (std::size_t i = 0; i < second.rows.size(); ++i) {
        EXPECT_EQ(second.rows[i].discoveredOnly, i >= 5) << i;
        EXPECT_EQ(second.rows[i].cells[1], std::to_string(31 + i));
    }
    // In the order they answered, whatever the sort.
    EXPECT_EQ(second.rows[5].ip, "10.9.0.1");
    EXPECT_EQ(second.rows[6].ip, "10.9.0.2");
    EXPECT_EQ(second.countText, "Online device count:35");
    EXPECT_EQ(second.pagerPage, 2);

    // The rest of them on the last page; the earlier list left them out.
    const auto& third = list.Refresh(3);
    ASSERT_EQ(third.rows.size(), 15u);
    EXPECT_EQ(third.rows.back().ip, "10.9.0.40");
    EXPECT_EQ(third.storedRows, 0);

    // A page beyond the end: the pager goes back to 1.
    const auto& beyond = list.Refresh(5);
    EXPECT_TRUE(beyond.rows.empty());
    EXPECT_EQ(beyond.pagerPage, 1);
    EXPECT_EQ(beyond.page, 5);
}

TEST_F(DeviceListTest, EmptyStoreShowsOnlyDiscoveredDevicesPageByPage) {
    AddDiscovered(40);
    DeviceListModel list(*m_store, fd::StatusPageColumns());
    ASSERT_TRUE(list.SetPageSize(15));
    EXPECT_FALSE(list.SetPageSize(20));
    EXPECT_EQ(list.PageSize(), 15);
    const auto& page = list.Refresh(1);
    EXPECT_EQ(page.rows.size(), 15u);
    EXPECT_EQ(page.pageCount, 3);
    EXPECT_EQ(page.rowCount, 0);
    EXPECT_EQ(page.countText, "Online device count:0");
    EXPECT_TRUE(std::all_of(page.rows.begin(), page.rows.end(),
                            [](const fd::DeviceRow& r) { return r.discoveredOnly; }));

    // The filter narrows the discovered devices too: by ip, mac or version text only.
    const auto& filtered = list.SetFilter("10.9.0.1");
    EXPECT_EQ(filtered.page, 1);
    EXPECT_EQ(filtered.rows.size(), 11u);  // .1 and .10 to .19
    for (const auto& r : filtered.rows) EXPECT_NE(r.ip.find("10.9.0.1"), std::string::npos);
    // A name is not searched in a discovered-only row (it is in a row with information).
    EXPECT_TRUE(list.SetFilter("dev499").rows.empty());
    AddStored(1);
    list.SetFilter("dev999");
    EXPECT_EQ(list.Current().rows.size(), 1u);
}

// A device that answered a search and then sent its information is one row throughout: it
// moves from the discovered-only tail into the ordered part, and a later search reply does
// not turn it back.
TEST_F(DeviceListTest, DiscoveredRowBecomesAnOrdinaryRow) {
    AddStored(2);
    ap_info_stu found = Discovered(0);
    fd::SetFieldText(found.version, sizeof found.version, found.version_len, "V2.1\nbuild 77");
    ASSERT_TRUE(m_store->SaveDiscoveredDevice(found));
    DeviceListModel list(*m_store, fd::StatusPageColumns());
    const int versionCol = list.ColumnOf(fd::ColumnContent::Version);
    auto page = list.Refresh(1);
    ASSERT_EQ(page.rows.size(), 3u);
    EXPECT_TRUE(page.rows[2].discoveredOnly);
    EXPECT_EQ(page.rows[2].cells[static_cast<std::size_t>(versionCol)], "V2.1");  // first line
    EXPECT_EQ(list.SetFilter("build 77").rows.size(), 1u);  // the filter sees the whole text
    EXPECT_TRUE(list.SetFilter("BUILD 77").rows.empty());   // case counts here
    list.SetFilter("");

    ap_info_stu info = found;
    info.ap_status = 0;
    fd::IpFromText("10.0.0.100", info.ip);
    ASSERT_TRUE(m_store->SaveApInfo(info));
    ASSERT_TRUE(m_store->SaveDiscoveredDevice(found));  // a late search reply
    page = list.Refresh(1);
    ASSERT_EQ(page.rows.size(), 3u);
    EXPECT_EQ(page.rowCount, 3);
    EXPECT_FALSE(page.rows[0].discoveredOnly);
    EXPECT_EQ(page.rows[0].ip, "10.0.0.100");  // IP descending: first
    EXPECT_EQ(page.rows[0].status, fd::AP_STATUS_ONLINE);

    // Forgetting the discovered devices leaves the ordinary rows.
    ASSERT_TRUE(m_store->SaveDiscoveredDevice(Discovered(5)));
    EXPECT_EQ(list.Refresh(1).rows.size(), 4u);
    ASSERT_TRUE(m_store->DeleteDiscoveredDevices());
    EXPECT_EQ(list.Refresh(1).rows.size(), 3u);
}

TEST_F(DeviceListTest, RebootPageShowsTheStatusLabel) {
    AddStored(3);
    DeviceListModel list(*m_store, fd::RebootPageColumns());
    const auto& page = list.Refresh(1);
    EXPECT_EQ(page.rows.size(), 3u);
    // The reboot page's own columns: Status is the last one.
    EXPECT_EQ(page.rows[0].cells.size(), 11u);
    EXPECT_EQ(page.rows[0].cells[10], fd::GetStatusLabel(fd::AP_STATUS_ONLINE));
}

TEST_F(DeviceListTest, SortOrderFollowsTheToggle) {
    AddStored(6);
    DeviceListModel list(*m_store, fd::StatusPageColumns());
    const int ipCol = 4, nameCol = 2, macCol = 5;

    // Before any header click: by IP, descending.
    auto page = list.Refresh(1);
    EXPECT_EQ(page.sortColumn, ipCol);
    EXPECT_FALSE(page.ascending);
    auto ips = Column(page, ipCol);
    EXPECT_EQ(ips.front(), "10.0.0.6");
    EXPECT_EQ(ips.back(), "10.0.0.1");

    // First click: ascending by that column, page 1.
    list.Refresh(1);
    ASSERT_TRUE(list.HeaderClick(nameCol));
    page = list.Current();
    EXPECT_EQ(page.sortColumn, nameCol);
    EXPECT_TRUE(page.ascending);
    EXPECT_EQ(page.page, 1);
    auto names = Column(page, nameCol);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    // Other reloads keep the order of the last click.
    EXPECT_TRUE(list.Refresh(1).ascending);
    EXPECT_TRUE(list.SetFilter("").ascending);

    // The next click, on any header, sorts descending.
    ASSERT_TRUE(list.HeaderClick(macCol));
    page = list.Current();
    EXPECT_FALSE(page.ascending);
    auto macs = Column(page, macCol);
    EXPECT_TRUE(std::is_sorted(macs.rbegin(), macs.rend()));
    EXPECT_FALSE(list.Refresh(1).ascending);

    // And the one after that ascending again.
    ASSERT_TRUE(list.HeaderClick(macCol));
    EXPECT_TRUE(list.Current().ascending);

    // A page's own reload with another column is remembered for the next refresh.
    list.Reload(1, true, nameCol, "");
    EXPECT_EQ(list.Refresh(1).sortColumn, nameCol);
}

TEST_F(DeviceListTest, HeaderClicksOnSerialOperateAndTickDoNothing) {
    AddStored(2);
    DeviceListModel list(*m_store, fd::StatusPageColumns());
    list.Refresh(1);
    const bool toggle = list.Sort().Toggle();
    // A device arriving afterwards shows only if something reloads.
    AddStored(1);
    for (int col : {0, 1, 13, 14, -1}) {
        EXPECT_FALSE(list.HeaderClick(col)) << col;
        EXPECT_EQ(list.Sort().SortColumn(), 4);
        EXPECT_EQ(list.Sort().Toggle(), toggle);
        EXPECT_EQ(list.Current().rows.size(), 2u);
    }
    // The reboot page's Status column sorts (by ap_status).
    DeviceListModel reboot(*m_store, fd::RebootPageColumns());
    EXPECT_TRUE(reboot.HeaderClick(reboot.ColumnOf(fd::ColumnContent::Status)));
    EXPECT_EQ(reboot.Current().rows.size(), 3u);
}

// A change the device acknowledged shows in the list at once, marked pending, until the
// device's own report holds it.
TEST_F(DeviceListTest, AcknowledgedChangesShowAsPendingUntilReported) {
    AddStored(2);
    fd::CommandLog commands;
    DeviceListModel list(*m_store, fd::StatusPageColumns(), &commands);
    const int nameCol = list.ColumnOf(fd::ColumnContent::Location);
    const int ipCol = list.ColumnOf(fd::ColumnContent::Ip);
    ap_info_stu dev = Device(1);
    const std::string mac = dev.mac;

    DeviceNameBlock name{};
    fd::SetFieldText(name.ap_name, sizeof name.ap_name, name.ap_name_len, "mast-7");
    IpConfigBlock ip = fd::GetIpBlock(dev);
    fd::IpFromText("10.0.0.77", ip.ip);
    commands.RecordSent(mac, "10.0.0.2", fd::CMD_SET_NAME, &name, sizeof name);
    commands.RecordSent(mac, "10.0.0.2", fd::CMD_SET_IP, &ip, sizeof ip);
    // Sent but not answered: the list shows what the device reports.
    auto page = list.Refresh(1);
    EXPECT_FALSE(page.rows[0].changePending);
    EXPECT_EQ(page.rows[0].cells[static_cast<std::size_t>(nameCol)], "dev998");

    ASSERT_TRUE(commands.RecordAnswer(mac, fd::CMD_SET_NAME, 0));
    ASSERT_TRUE(commands.RecordAnswer(mac, fd::CMD_SET_IP, 0));
    const auto before = page.rows;
    page = list.Refresh(1);
    ASSERT_TRUE(page.rows[0].changePending);
    EXPECT_EQ(page.rows[0].cells[static_cast<std::size_t>(nameCol)], "mast-7");
    EXPECT_EQ(page.rows[0].cells[static_cast<std::size_t>(ipCol)], "10.0.0.77");
    EXPECT_FALSE(page.rows[1].changePending);
    EXPECT_EQ(fd::DiffRows(before, page.rows).restyledRows, std::vector<int>{0});

    // The report with the new name confirms the rename; the address stays pending.
    fd::SetFieldText(dev.ap_name, sizeof dev.ap_name, dev.ap_name_len, "mast-7");
    commands.RecordReport(dev);
    ASSERT_EQ(commands.PendingChanges(mac).size(), 1u);
    EXPECT_EQ(commands.PendingChanges(mac)[0].command, fd::CMD_SET_IP);
    std::memcpy(dev.ip, ip.ip, 4);
    commands.RecordReport(dev);
    EXPECT_TRUE(commands.PendingChanges(mac).empty());
    EXPECT_FALSE(list.Refresh(1).rows[0].changePending);
}

TEST(HeaderTickState, Alternates) {
    fd::HeaderTickState tick;
    EXPECT_TRUE(tick.Click());
    EXPECT_FALSE(tick.Click());
    EXPECT_TRUE(tick.Click());
}

TEST(DiffRows, ReportsOnlyWhatChanged) {
    const auto cols = fd::StatusPageColumns();
    std::vector<fd::DeviceRow> before{fd::MakeDeviceRow(Device(1), cols, 1),
                                      fd::MakeDeviceRow(Device(2), cols, 2),
                                      fd::MakeDeviceRow(Device(3), cols, 3)};
    auto diff = fd::DiffRows(before, before);
    EXPECT_TRUE(diff.cells.empty());
    EXPECT_TRUE(diff.restyledRows.empty());
    EXPECT_FALSE(diff.removeRows);

    auto after = before;
    after.pop_back();
    ap_info_stu renamed = Device(2);
    fd::SetFieldText(renamed.ap_name, sizeof renamed.ap_name, renamed.ap_name_len, "new");
    renamed.ap_status = fd::AP_STATUS_DISCOVERED;
    after[1] = fd::MakeDeviceRow(renamed, cols, 2);
    diff = fd::DiffRows(before, after);
    ASSERT_EQ(diff.cells.size(), 1u);
    EXPECT_EQ(diff.cells[0].row, 1);
    EXPECT_EQ(diff.cells[0].column, 2);
    EXPECT_EQ(diff.restyledRows, std::vector<int>{1});
    EXPECT_TRUE(diff.removeRows);
    EXPECT_EQ(diff.removeFrom, 2u);

    // Rows beyond the previous list are new: every cell is written.
    diff = fd::DiffRows({}, before);
    EXPECT_EQ(diff.cells.size(), before.size() * cols.size());
}

TEST(DecideRename, SameNameUnchangedAndRulesByModel) {
    EXPECT_EQ(fd::DecideRename("dev1", "dev1", 1).outcome, fd::RenameOutcome::Unchanged);

    auto strict = fd::DecideRename("my dev", "dev1", 4);
    EXPECT_EQ(strict.outcome, fd::RenameOutcome::Refused);
    EXPECT_EQ(strict.message,
              "Device name maximum allowed 32 bytes, only support combination of Chinese, "
              "lowercase letters, 0-9 numbers");
    EXPECT_EQ(fd::DecideRename("my dev", "dev1", 1).outcome, fd::RenameOutcome::Accepted);

    std::string cjk10, cjk11;
    for (int i = 0; i < 10; ++i) cjk10 += "\xE4\xB8\xAD";  // U+4E2D
    cjk11 = cjk10 + "\xE4\xB8\xAD";
    auto ok = fd::DecideRename(cjk10, "dev1", 1);
    EXPECT_EQ(ok.outcome, fd::RenameOutcome::Accepted);
    EXPECT_EQ(ok.name, cjk10);
    auto longName = fd::DecideRename(cjk11, "dev1", 1);
    EXPECT_EQ(longName.outcome, fd::RenameOutcome::Refused);
    EXPECT_EQ(longName.message,
              "Device name maximum allowed 32 bytes, only support combination of Chinese, ASCII "
              "characters");
    // Emptying the cell does not leave the device nameless.
    EXPECT_EQ(fd::DecideRename("", "dev1", 1).outcome, fd::RenameOutcome::Refused);
}

TEST_F(DeviceListTest, SelectionRulesAndSettingBlock) {
    // Two devices without a transparent bridge (model 4), one without AirSlot (model 1),
    // one with both (model 6).
    ap_info_stu noBridgeA = Device(1, 4), noBridgeB = Device(2, 4);
    ap_info_stu plain = Device(3, 1);
    ap_info_stu full = Device(4, 6);
    plain.bridge_transparent = 1;
    full.bridge_transparent = 0;
    full.tdmaEn = 1;
    for (auto* rec : {&noBridgeA, &noBridgeB, &plain, &full})
        ASSERT_TRUE(m_store->SaveApInfo(*rec));
    const auto cols = fd::StatusPageColumns();
    std::vector<fd::DeviceRow> rows{
        fd::MakeDeviceRow(noBridgeA, cols, 1), fd::MakeDeviceRow(noBridgeB, cols, 2),
        fd::MakeDeviceRow(plain, cols, 3), fd::MakeDeviceRow(full, cols, 4)};
    ASSERT_EQ(rows[0].cells[10], "N/A");

    auto none = fd::CollectSelection(rows, {false, false, false, false}, fd::BulkAction::AllTicked,
                                     m_store.get());
    EXPECT_FALSE(none.ok());
    EXPECT_EQ(none.messageKey, "Please select the devices!");
    EXPECT_EQ(none.message, "Please select the devices!");

    auto onlyNA = fd::CollectSelection(rows, {true, true}, fd::BulkAction::Bridge, m_store.get());
    EXPECT_FALSE(onlyNA.ok());
    EXPECT_EQ(onlyNA.messageKey, "Please select configurable devices!");

    auto bridge =
        fd::CollectSelection(rows, {true, true, true, true}, fd::BulkAction::Bridge, m_store.get());
    ASSERT_EQ(bridge.devices.size(), 2u);
    EXPECT_EQ(bridge.devices[0].mac, std::string(plain.mac));
    EXPECT_EQ(bridge.devices[0].ip, "10.0.0.4");
    EXPECT_EQ(bridge.settingBlock, (fd::SettingBlock{1}));
    fd::SetSettingChoice(bridge.settingBlock, fd::BulkAction::Bridge, 0);
    EXPECT_EQ(bridge.settingBlock, fd::SettingBlock{});

    auto air = fd::CollectSelection(rows, {true, true, true, true}, fd::BulkAction::AirSlot,
                                    m_store.get());
    ASSERT_EQ(air.devices.size(), 1u);
    EXPECT_EQ(air.devices[0].modelCode, 6);
    EXPECT_EQ(air.settingBlock, (fd::SettingBlock{0, 1}));

    auto all = fd::CollectSelection(rows, {false, true, false, true}, fd::BulkAction::AllTicked,
                                    m_store.get());
    ASSERT_EQ(all.devices.size(), 2u);
    EXPECT_EQ(all.devices[1].mac, std::string(full.mac));
    // The first selected device's stored record gives the dialog its starting values.
    EXPECT_EQ(fd::IpToText(all.first.ip), "10.0.0.3");
    EXPECT_EQ(all.settingBlock, fd::SettingBlock{});
}

TEST(OnlineCountText, TranslatedFormatIsNeverHandedToPrintf) {
    EXPECT_EQ(fd::OnlineCountText(7), "Online device count:7");
    TempDir dir;
    dir.Write("Languages/Test.lng",
              "[ProgramOutStr]\nOnline device count:%d=%s%n devices: %d, %d\n");
    fd::InitLanguage(dir.Dir());
    fd::SetLanguage("Test");
    const std::string text = fd::OnlineCountText(7);
    // Back to the keys for the other tests of this process.
    fd::SetLanguage("");
    EXPECT_EQ(text, "%s%n devices: 7, %d");
}

}  // namespace
