// A plan applied to many devices over real sockets: fielddesk-devsim with 500 and 2000
// emulated devices in a network lab made for the run, `fielddesk-cli plan export` of all
// of them, every row given a new name, SSID, channel, VLAN id and address, then `plan
// apply` timed from its start to every device verified by read-back.
//
// Needs root (it makes its own lab with scripts/netlab and removes it at the end); every
// socket lives in the lab's namespaces. Run for example:
//   scripts/netlab shell --private-tmp -- build/bin/plan_lab_bench [--sizes=500,2000]
//                                        [--parallel=256] [--restart-seconds=3]
// It prints one line per size: devices verified, wall time of the apply, devices per
// minute, the sending and read-back phases, the share of the wall time the program spent
// waiting (1 - its CPU time / wall time), the peak of commands in flight, the program's CPU
// time; and the verdict for 500 devices (target: under 5 minutes).

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/labels.h"
#include "lab_devices.h"
#include "presentation/plan_file.h"
#include "rules/vlan_reboot_settings.h"

using namespace fd::bench;

namespace {

// Runs a program with stdout and stderr to files, bounded in time; its exit code or -1.
int RunTo(const std::vector<std::string>& args, const std::string& out, const std::string& err,
          std::chrono::seconds limit) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGINT);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(50000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Set(fd::PlanRow& row, const char* column, const std::string& value) {
    for (auto& c : row.cells)
        if (c.column == column) {
            c.value = value;
            return;
        }
    row.cells.push_back({column, value, 0, 0});
}

std::string Get(const fd::PlanRow& row, const char* column) {
    const fd::PlanCell* c = row.Find(column);
    return c ? c->value : "";
}

struct Figures {
    int devices = 0, verified = 0, exitCode = -1, peak = 0;
    double wall = 0, sending = 0, readBack = 0, cpu = 0;
    std::string summary;
};

Figures RunOne(int n, int parallel, int restartSeconds) {
    Figures f;
    f.devices = n;
    LabWithDevices lab(n, {"--restart-seconds", std::to_string(restartSeconds)});
    std::string error;
    if (!lab.Open(error)) {
        std::fprintf(stderr, "%d devices: %s\n", n, error.c_str());
        return f;
    }
    char dirTemplate[] = "/tmp/fd-plan-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string cli = BinDir() + "/fielddesk-cli";
    const int exported = RunTo({cli, "plan", "export", "--seconds", "60"}, dir + "/site.csv",
                               dir + "/export.err", std::chrono::seconds(120));
    fd::PlanFile plan = fd::ReadPlan(Read(dir + "/site.csv"));
    if (exported != 0 || static_cast<int>(plan.rows.size()) != n) {
        std::fprintf(stderr, "%d devices: the export found %zu: %s\n", n, plan.rows.size(),
                     Read(dir + "/export.err").c_str());
    }
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
        fd::PlanRow& row = plan.rows[i];
        const int k = static_cast<int>(i);
        Set(row, "name", "bench-" + std::to_string(k));
        Set(row, "ssid", "bench-ssid");
        const std::string mode = Get(row, "mode");
        const bool five = mode == "11a" || mode == "11n" || mode == "11a/n" || mode == "11ac";
        Set(row, "channel", five ? "149" : "11");
        Set(row, "vlan", std::to_string(100 + k % 3000));
        Set(row, "vlan-wlan", "200");
        const fd::VlanFields v = fd::VlanFieldsOf(fd::GetModelCode(Get(row, "model")));
        if (v.pvid) {
            Set(row, "pvid", "300");
            Set(row, "lan", "301");
        }
        if (v.lanPorts == 3) {
            Set(row, "lan3", "302");
            Set(row, "lan4", "303");
        }
        Set(row, "ip",
            "198.18." + std::to_string(100 + k / 250) + "." + std::to_string(k % 250 + 1));
    }
    {
        std::ofstream out(dir + "/new.csv", std::ios::binary);
        out << fd::WritePlanCsv(plan.rows, true);
    }
    const auto start = Clock::now();
    f.exitCode =
        RunTo({cli, "plan", "apply", dir + "/new.csv", "--parallel", std::to_string(parallel),
               "--seconds", "60", "--report", dir + "/report.csv"},
              dir + "/apply.out", dir + "/apply.err", std::chrono::seconds(900));
    f.wall = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string err = Read(dir + "/apply.err");
    std::smatch m;
    if (std::regex_search(err, m, std::regex(R"((\d+) verified)"))) f.verified = std::stoi(m[1]);
    if (std::regex_search(err, m, std::regex(R"(sending ([\d.]+) s \(at most (\d+) commands)"))) {
        f.sending = std::stod(m[1]);
        f.peak = std::stoi(m[2]);
    }
    if (std::regex_search(err, m, std::regex(R"(reading back ([\d.]+) s)")))
        f.readBack = std::stod(m[1]);
    if (std::regex_search(err, m, std::regex(R"(CPU ([\d.]+) s)"))) f.cpu = std::stod(m[1]);
    const auto last = err.rfind("fielddesk-cli: ");
    f.summary = last == std::string::npos ? err : err.substr(last);
    if (f.exitCode != 0) {
        std::fprintf(stderr, "%d devices: apply exit %d; first lines of its output:\n", n,
                     f.exitCode);
        std::istringstream lines(Read(dir + "/apply.out"));
        std::string line;
        for (int k = 0; k < 10 && std::getline(lines, line); ++k)
            std::fprintf(stderr, "  %s\n", line.c_str());
    }
    lab.Close();
    std::filesystem::remove_all(dir);
    return f;
}

std::vector<int> ListArg(int argc, char** argv, const char* name, std::vector<int> fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind(prefix, 0) != 0) continue;
        std::vector<int> out;
        std::stringstream s(a.substr(prefix.size()));
        std::string item;
        while (std::getline(s, item, ','))
            if (const int v = std::atoi(item.c_str()); v > 0 && v <= 10000) out.push_back(v);
        if (!out.empty()) return out;
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<int> sizes = ListArg(argc, argv, "sizes", {500, 2000});
    const int parallel = ListArg(argc, argv, "parallel", {256}).front();
    // How long a device is silent after the VLAN change restarts it (the simulator's default
    // is 3 s; real devices take about a minute).
    const int restart = ListArg(argc, argv, "restart-seconds", {3}).front();
    std::vector<Figures> all;
    for (int n : sizes) all.push_back(RunOne(n, parallel, restart));
    std::printf(
        "\nplan apply, --parallel %d, devices silent %d s after the VLAN change: name, SSID, "
        "channel, VLAN id and address per device\n",
        parallel, restart);
    std::printf("%8s %9s %8s %11s %9s %10s %8s %8s %7s\n", "devices", "verified", "wall_s",
                "devices/min", "sending_s", "readback_s", "waiting", "peak_cmd", "cpu_s");
    bool ok = true;
    for (const Figures& f : all) {
        const double waiting = f.wall > 0 ? 1.0 - f.cpu / f.wall : 0;
        std::printf("%8d %9d %8.1f %11.0f %9.1f %10.1f %7.1f%% %8d %7.2f\n", f.devices, f.verified,
                    f.wall, f.wall > 0 ? f.verified * 60.0 / f.wall : 0, f.sending, f.readBack,
                    100 * waiting, f.peak, f.cpu);
        if (f.devices == 500)
            std::printf("500 devices verified in %.1f s (target < 300 s): %s\n", f.wall,
                        f.verified == 500 && f.wall < 300 ? "met" : "MISSED");
        ok = ok && f.exitCode == 0 && f.verified == f.devices;
    }
    for (const Figures& f : all) std::printf("%d: %s", f.devices, f.summary.c_str());
    return ok ? 0 : 1;
}
