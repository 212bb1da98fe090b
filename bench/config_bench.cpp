// Costs of the per-text language lookup (one stat() and a hash lookup when the file is
// cached) and of the device-text repair done for every name and SSID received.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/ini_file.h"
#include "config/language.h"
#include "wire/device_text.h"

namespace {

// A language file of realistic size (about 250 keys) in a temporary base directory.
class LanguageFixture {
public:
    LanguageFixture() {
        std::string templ = "/tmp/fd-config-bench-XXXXXX";
        m_dir = mkdtemp(templ.data());
        std::filesystem::create_directories(m_dir + "/Languages");
        std::ofstream lng(m_dir + "/Languages/Bench.lng");
        lng << "[ProgramOutStr]\n";
        for (int i = 0; i < 250; ++i) lng << "Message number " << i << "=消息 " << i << "\n";
        lng << "Online=在线\n";
        lng.close();
        setenv("LANG", "C", 1);
        fd::InitLanguage(m_dir + "/");
        fd::SetLanguage("Bench");
    }
    ~LanguageFixture() { std::filesystem::remove_all(m_dir); }

private:
    std::string m_dir;
};

LanguageFixture& Lang() {
    static LanguageFixture f;
    return f;
}

void BM_GetLangTextHit(benchmark::State& state) {
    Lang();
    for (auto _ : state) benchmark::DoNotOptimize(fd::GetLangText("online"));
}
BENCHMARK(BM_GetLangTextHit)->ThreadRange(1, 2);

void BM_GetLangTextMiss(benchmark::State& state) {
    Lang();
    for (auto _ : state) benchmark::DoNotOptimize(fd::GetLangText("Not translated at all"));
}
BENCHMARK(BM_GetLangTextMiss);

void BM_DeviceTextAscii(benchmark::State& state) {
    const std::string name = "Roof-CPE-North-Building-7";
    for (auto _ : state) benchmark::DoNotOptimize(fd::DeviceTextToLocal(name));
}
BENCHMARK(BM_DeviceTextAscii);

void BM_DeviceTextCjkCutShort(benchmark::State& state) {
    std::string name;
    for (int i = 0; i < 11; ++i) name += "顶";
    name.resize(32);
    for (auto _ : state) benchmark::DoNotOptimize(fd::DeviceTextToLocal(name));
}
BENCHMARK(BM_DeviceTextCjkCutShort);

}  // namespace
