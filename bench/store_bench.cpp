// The device store on a real scratch file: inserting a large LAN's devices, and the page
// query the device lists run on every reload.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "store/sql_management.h"

namespace {

constexpr int kDevices = 4000;

ap_info_stu Device(int id) {
    ap_info_stu rec{};
    const uint8_t mac[6] = {
        0x00, 0x1b, 0x2c, 0x00, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    fd::SetRecordMac(rec, mac);
    rec.ap_type = static_cast<uint16_t>(1 + id % 11);
    rec.work_mode = static_cast<uint8_t>(1 + id % 7);
    rec.up_time = static_cast<uint32_t>(id * 37);
    const uint8_t ip[4] = {10, static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8),
                           static_cast<uint8_t>(id)};
    std::memcpy(rec.ip, ip, 4);
    rec.channel = static_cast<uint8_t>(1 + id % 13);
    rec.tx_power = static_cast<uint8_t>(10 + id % 20);
    rec.secure_mode = static_cast<uint8_t>(id % 7);
    fd::SetFieldText(rec.ap_name, sizeof rec.ap_name, rec.ap_name_len,
                     "site-" + std::to_string(id));
    fd::SetFieldText(rec.version, sizeof rec.version, rec.version_len, "V2.1.7");
    fd::SetFieldText(rec.ssid, sizeof rec.ssid, rec.ssid_len, "ssid" + std::to_string(id % 50));
    return rec;
}

// A private folder for the scratch file, removed with it.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/fd-bench-XXXXXX";
        if (char* made = ::mkdtemp(templ.data())) path = made;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// 4000 distinct devices into an empty table, timed as one batch.
void BM_SaveApInfo4000(benchmark::State& state) {
    ScratchDir dir;
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<CSqlManagement>(dir.path + "/data.mdb");
        state.ResumeTiming();
        for (int i = 0; i < kDevices; ++i) {
            if (!store->SaveApInfo(Device(i))) state.SkipWithError("SaveApInfo failed");
        }
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kDevices);
}
BENCHMARK(BM_SaveApInfo4000)->Unit(benchmark::kMillisecond);

// Updating rows that already exist (the steady state of repeated searches).
void BM_SaveApInfoUpdate(benchmark::State& state) {
    ScratchDir dir;
    CSqlManagement store(dir.path + "/data.mdb");
    for (int i = 0; i < kDevices; ++i) store.SaveApInfo(Device(i));
    int i = 0;
    for (auto _ : state) {
        if (!store.SaveApInfo(Device(i++ % kDevices))) state.SkipWithError("SaveApInfo failed");
    }
}
BENCHMARK(BM_SaveApInfoUpdate)->Unit(benchmark::kMicrosecond);

// Page 1 of 100 rows sorted by ip_num. Arguments: the rows in the store, 1 for a filter
// ("site-1": about a ninth of the rows), and 1 for a store in the middle of a search, a
// tenth of its rows devices that have only answered it (status 10).
void BM_QueryApPage(benchmark::State& state) {
    ScratchDir dir;
    CSqlManagement store(dir.path + "/data.mdb");
    const int devices = static_cast<int>(state.range(0));
    const bool searching = state.range(2) != 0;
    store.BeginWriteBatch();
    for (int i = 0; i < devices; ++i) {
        if (searching && i % 10 == 0) {
            ap_info_stu rec = Device(i);
            rec.ap_status = fd::AP_STATUS_DISCOVERED;
            store.SaveDiscoveredDevice(rec);
        } else {
            store.SaveApInfo(Device(i));
        }
    }
    store.EndWriteBatch();
    const std::string filter = state.range(1) ? "site-1" : "";
    int rows = 0;
    for (auto _ : state) {
        ApInfoList list;
        int pages = 0;
        rows = 0;
        if (!store.QueryApPage(1, list, pages, rows, 100, 1, true, filter)) {
            state.SkipWithError("QueryApPage failed");
        }
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_QueryApPage)
    ->ArgNames({"rows", "filter", "searching"})
    ->Args({4000, 0, 0})
    ->Args({4000, 1, 0})
    ->Args({10000, 0, 0})
    ->Args({10000, 1, 0})
    ->Args({10000, 0, 1})
    ->Args({10000, 1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
