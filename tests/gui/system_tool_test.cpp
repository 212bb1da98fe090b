#include <gtest/gtest.h>

#include <cstring>

#include "app/app_context.h"
#include "controls/grid_ctrl.h"
#include "controls/t_static.h"
#include "pages/system/system_tool_dlg.h"

namespace {

LocalAdapterInfo Adapter(const char* description, std::initializer_list<const char*> ips,
                         uint8_t lastMacByte) {
    LocalAdapterInfo a{};
    a.up = 1;
    const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x10, 0xab, lastMacByte};
    std::memcpy(a.hw_addr, mac, 6);
    std::strncpy(a.description, description, sizeof a.description - 1);
    for (const char* ip : ips) {
        std::strncpy(a.addrs[a.ip_count].ip, ip, 15);
        std::strncpy(a.addrs[a.ip_count].mask, "255.255.0.0", 15);
        ++a.ip_count;
    }
    return a;
}

class SystemToolTest : public ::testing::Test {
protected:
    void TearDown() override { fd::InstallServices({}); }
};

TEST_F(SystemToolTest, ListsAdaptersAndCountsThem) {
    std::vector<LocalAdapterInfo> adapters = {
        Adapter("veth-pc", {"198.18.0.1", "198.18.0.2"}, 0x01),
        Adapter("eth1", {"198.19.0.1"}, 0xfe)};
    fd::InstallServices({nullptr, nullptr, [&] { return adapters; }, {}});
    CSystemToolDlg page;
    CGridCtrl* grid = page.Grid();
    ASSERT_EQ(grid->GetRowCount(), 3);
    EXPECT_EQ(grid->GetItemText(0, 0), "ID");
    EXPECT_EQ(grid->GetItemText(0, 3), "IP");
    // Description is a wide column, ID a narrow one, whatever the page's width.
    EXPECT_GT(grid->columnWidth(1), 2 * grid->columnWidth(0));
    EXPECT_EQ(grid->GetItemText(1, 0), "1");
    EXPECT_EQ(grid->GetItemText(1, 1), "veth-pc");
    EXPECT_EQ(grid->GetItemText(1, 2), "02:00:5e:10:ab:01");
    EXPECT_EQ(grid->GetItemText(1, 3), "198.18.0.1--198.18.0.2");
    EXPECT_EQ(grid->GetItemText(2, 0), "2");
    EXPECT_EQ(grid->GetItemText(2, 2), "02:00:5e:10:ab:fe");
    EXPECT_EQ(grid->GetItemText(2, 3), "198.19.0.1");
    EXPECT_EQ(page.CountLabel()->text(), "Adapter count:2");

    // A pulled cable: the next reading still lists the adapter, marked.
    adapters.back().up = 0;
    adapters.back().unplugged = 1;
    page.FillGrid();
    EXPECT_EQ(grid->GetItemText(2, 1), "eth1 (Cable unplugged or no link)");
    EXPECT_EQ(grid->GetItemText(1, 1), "veth-pc");
    EXPECT_EQ(page.CountLabel()->text(), "Adapter count:2");

    // An adapter that is gone is no longer listed.
    adapters.pop_back();
    page.FillGrid();
    EXPECT_EQ(grid->GetRowCount(), 2);
    EXPECT_EQ(page.CountLabel()->text(), "Adapter count:1");

    adapters.clear();
    page.FillGrid();
    EXPECT_EQ(grid->GetRowCount(), 1);
    EXPECT_EQ(page.CountLabel()->text(), "Adapter count:0");
}

TEST_F(SystemToolTest, RecordTextsAreReadWithinTheirBuffers) {
    LocalAdapterInfo a = Adapter("", {"198.18.0.1"}, 1);
    std::memset(a.description, 'x', sizeof a.description);  // no terminating zero
    std::memset(a.addrs[0].ip, '9', sizeof a.addrs[0].ip);
    a.ip_count = 99;  // more than the record holds
    fd::InstallServices({nullptr, nullptr, [&] { return std::vector<LocalAdapterInfo>{a}; }, {}});
    CSystemToolDlg page;
    EXPECT_EQ(page.Grid()->GetItemText(1, 1), QString(132, 'x'));
    const QString ips = page.Grid()->GetItemText(1, 3);
    EXPECT_TRUE(ips.startsWith(QString(16, '9') + "--"));
    EXPECT_EQ(ips.split("--").size(), fd::kMaxAdapterAddresses);
}

TEST(FormatCount, FillsTheFirstPlaceholder) {
    EXPECT_EQ(fd::FormatCount("Adapter count:%d", 7), "Adapter count:7");
    EXPECT_EQ(fd::FormatCount("%d 个网卡", 3), "3 个网卡");
    EXPECT_EQ(fd::FormatCount("no number", 3), "no number");
}

}  // namespace
