// What a device list costs on every reload of a large LAN: the store's page plus the row
// texts, with and without a filter, and the comparison that spares unchanged cells.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "presentation/device_list.h"
#include "store/sql_management.h"

namespace {

constexpr int kDevices = 4000;

ap_info_stu Device(int id) {
    ap_info_stu rec{};
    const uint8_t mac[6] = {
        0x00, 0x1b, 0x2c, 0x00, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    fd::SetRecordMac(rec, mac);
    rec.ap_type = static_cast<uint16_t>(1 + id % 11);
    rec.ap_status = fd::AP_STATUS_ONLINE;
    rec.work_mode = static_cast<uint8_t>(1 + id % 7);
    rec.up_time = static_cast<uint32_t>(id * 37);
    const uint8_t ip[4] = {10, 0, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    std::memcpy(rec.ip, ip, 4);
    rec.channel = static_cast<uint8_t>(id % 13);
    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len,
                     "site-" + std::to_string(id));
    fd::SetFieldText(rec.version, sizeof rec.version, rec.version_len, "V2.1.7");
    fd::SetFieldText(rec.ssid, sizeof rec.ssid, rec.ssid_len, "ssid" + std::to_string(id % 50));
    return rec;
}

struct Fixture {
    std::string dir;
    std::unique_ptr<CSqlManagement> store;
    Fixture() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/fd-bench-XXXXXX";
        if (char* made = ::mkdtemp(templ.data())) dir = made;
        store = std::make_unique<CSqlManagement>(dir + "/data.mdb", [](const std::string&) {});
        for (int i = 0; i < kDevices; ++i) store->SaveApInfo(Device(i));
    }
    ~Fixture() {
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

// state.range(0): rows per page; state.range(1): 1 with the filter "site-12".
void BM_Reload(benchmark::State& state) {
    fd::DeviceListModel list(*Shared().store, fd::StatusPageColumns());
    list.SetPageSize(static_cast<int>(state.range(0)));
    const std::string filter = state.range(1) != 0 ? "site-12" : "";
    for (auto _ : state) {
        const auto& page = list.Reload(1, false, fd::kDefaultSortColumn, filter);
        benchmark::DoNotOptimize(page.rows.data());
    }
    state.counters["rows"] = static_cast<double>(list.Current().rows.size());
}
BENCHMARK(BM_Reload)->Args({30, 0})->Args({100, 0})->Args({100, 1})->Unit(benchmark::kMillisecond);

void BM_DiffUnchanged(benchmark::State& state) {
    fd::DeviceListModel list(*Shared().store, fd::StatusPageColumns());
    list.SetPageSize(100);
    const auto rows = list.Refresh(1).rows;
    for (auto _ : state) {
        auto diff = fd::DiffRows(rows, rows);
        benchmark::DoNotOptimize(diff.cells.data());
    }
}
BENCHMARK(BM_DiffUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace
