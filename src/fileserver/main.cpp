// FileServer: the read-only TFTP server from which devices fetch a firmware image. It serves
// the regular files directly inside the folder named by [SERVER] Directory of FileServer.ini
// beside the program (or the file given with --ini), on UDP port 69 unless told otherwise.

#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "config/ini_file.h"
#include "fileserver/tftp_server.h"
#include "system/system_info.h"

namespace {

const char* kUsage =
    "usage: FileServer [--port N] [--ini FILE] [--directory DIR] [--bind ADDRESS]\n"
    "                  [--max-transfers N] [--timeout-ms MS] [--retries N]\n"
    "                  [--stop-with-stdin] [--quiet]\n"
    "Serves the files directly inside one folder over TFTP, read only.\n"
    "  --port N           UDP port (default 69; below 1024 needs root or\n"
    "                     cap_net_bind_service)\n"
    "  --ini FILE         settings file (default: FileServer.ini beside the program);\n"
    "                     the folder is [SERVER] Directory\n"
    "  --directory DIR    serve DIR instead of the folder named in the settings file\n"
    "  --bind ADDRESS     listen on this IPv4 address only (default 0.0.0.0)\n"
    "  --max-transfers N  transfers at once; more are refused as busy (default 32)\n"
    "  --timeout-ms MS    wait for an acknowledgement before resending (default 5000;\n"
    "                     a client's timeout option overrides it)\n"
    "  --retries N        resends of one packet before a transfer is abandoned (default 5)\n"
    "  --stop-with-stdin  stop when standard input reaches its end (the starting program\n"
    "                     holds the other end of a pipe: it stops the server by closing it,\n"
    "                     even when the server runs with more rights than it has)\n"
    "  --quiet            no log lines on standard error\n";

std::atomic<bool> g_stop{false};
void OnSignal(int) {
    g_stop = true;
}

bool Number(std::string_view s, long lo, long hi, long& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
    // From the first instruction: a stop asked for at any moment ends the run normally.
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    fd::tftp::ServerOptions o;
    std::string ini = fd::GetExecutableDirectory() + "FileServer.ini";
    std::string directory;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        auto value = [&](std::string_view& v) {
            if (i + 1 >= argc) return false;
            v = argv[++i];
            return true;
        };
        std::string_view v;
        long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--stop-with-stdin") {
            o.stopFd = 0;
        } else if (a == "--port" && value(v) && Number(v, 0, 65535, n)) {
            o.port = static_cast<uint16_t>(n);
        } else if (a == "--ini" && value(v)) {
            ini = v;
        } else if (a == "--directory" && value(v)) {
            directory = v;
        } else if (a == "--bind" && value(v)) {
            o.bindAddress = v;
        } else if (a == "--max-transfers" && value(v) && Number(v, 1, 1024, n)) {
            o.maxTransfers = static_cast<int>(n);
        } else if (a == "--timeout-ms" && value(v) && Number(v, 10, 255000, n)) {
            o.timeout = std::chrono::milliseconds(n);
        } else if (a == "--retries" && value(v) && Number(v, 0, 100, n)) {
            o.maxRetries = static_cast<int>(n);
        } else {
            std::fprintf(stderr, "FileServer: bad argument: %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (directory.empty()) directory = fd::ReadProfileString(ini, "SERVER", "Directory", "", 4096);
    if (directory.empty()) {
        std::fprintf(stderr, "FileServer: no folder to serve: [SERVER] Directory missing in %s\n",
                     ini.c_str());
        return 2;
    }
    o.directory = directory;
    if (!quiet)
        o.log = [](const std::string& line) {
            std::fprintf(stderr, "FileServer: %s\n", line.c_str());
        };


    fd::tftp::TftpServer server(o);
    std::string error;
    if (!server.Open(error)) {
        std::fprintf(stderr, "FileServer: %s\n", error.c_str());
        return 3;
    }
    if (!quiet)
        std::fprintf(stderr, "FileServer: serving %s on port %u\n", directory.c_str(),
                     server.Port());
    server.Run(g_stop);
    return 0;
}
