// Reply handling writes while pages read: one store shared by writer and reader threads.
// Meant to run under ThreadSanitizer as well (-DFD_SANITIZE=thread).

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "store/sql_management.h"
#include "support/temp_dir.h"

namespace {

constexpr int kDevices = 40;
constexpr int kRounds = 150;

ap_info_stu Device(int id) {
    ap_info_stu rec{};
    const uint8_t mac[6] = {0x00, 0x1b, 0x2c, 0x00, 0x00, static_cast<uint8_t>(id)};
    fd::SetRecordMac(rec, mac);
    rec.ap_type = 1;
    rec.work_mode = static_cast<uint8_t>(1 + id % 2);
    rec.channel = static_cast<uint8_t>(id % 12);
    const uint8_t ip[4] = {192, 168, 0, static_cast<uint8_t>(id)};
    std::memcpy(rec.ip, ip, 4);
    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len,
                     "node " + std::to_string(id));
    return rec;
}

TEST(StoreConcurrencyTest, WritersAndReadersShareOneStore) {
    fd::test::TempDir dir;
    ASSERT_TRUE(dir.Ok());
    CSqlManagement store(dir.Path("data.mdb"));
    ASSERT_TRUE(store.IsOpen());

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    // Replies arriving: insert-or-update, then status and uptime changes, and the liveness
    // sweep deleting devices that went quiet.
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kRounds; ++i) {
                int id = (i * 7 + w * 13) % kDevices;
                if (!store.SaveApInfo(Device(id))) ++failures;
                store.SetApStatus(Device(id).mac, 2 + i % 8);
                store.UpdateApUpTime("192.168.1." + std::to_string(id), Device(id).mac,
                                     static_cast<uint32_t>(i * 1000));
                if (i % 5 == 4) store.DeleteApByMac(Device((id + 3) % kDevices).mac);
            }
        });
    }
    // Pages reloading with and without filters, sorted different ways.
    const char* filters[] = {"", "node 1", "5", "Online", "%", "192.168"};
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&, r] {
            for (int i = 0; i < kRounds; ++i) {
                ApInfoList list;
                int pages = 0, rows = 0;
                const char* filter = filters[(i + r) % 6];
                if (!store.QueryApPage(i % 14, list, pages, rows, 10, 1 + i % 3, i % 2 == 0,
                                       filter)) {
                    ++failures;
                }
                if (rows > kDevices || list.size() > 10u) ++failures;
                std::set<std::string> seen;
                for (const auto& rec : list) {
                    if (!seen.insert(rec.mac).second) ++failures;
                }
                store.GetApStatus(Device(i % kDevices).mac);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);

    std::vector<std::string> macs;
    ASSERT_TRUE(store.QueryApMacList(macs));
    std::set<std::string> distinct(macs.begin(), macs.end());
    EXPECT_EQ(distinct.size(), macs.size()) << "never two rows for one device";
    EXPECT_LE(macs.size(), static_cast<std::size_t>(kDevices));
}

}  // namespace
