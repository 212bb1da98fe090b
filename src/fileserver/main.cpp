// FileServer: the read-only TFTP server from which devices fetch a firmware image. It serves
// the regular files directly inside the folder named by [SERVER] Directory of FileServer.ini
// beside the program (or the file given with --ini), on UDP port 69 unless told otherwise.
// Started as root, it binds the port and then serves as an ordinary user.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "config/ini_file.h"
#include "fielddesk_version.h"
#include "fileserver/privileges.h"
#include "fileserver/tftp_server.h"
#include "system/system_info.h"

namespace {

const char* kUsage =
    "usage: FileServer [--port N] [--ini FILE] [--directory DIR] [--only NAME]...\n"
    "                  [--bind ADDRESS]... [--max-transfers N] [--max-per-client N]\n"
    "                  [--timeout-ms MS] [--retries N] [--stop-with-stdin] [--report]\n"
    "                  [--quiet] | --help | --version\n"
    "Serves the files directly inside one folder over TFTP, read only. Started as root\n"
    "(directly, through pkexec or sudo) it binds the port, then gives up root for good:\n"
    "to the invoking user (PKEXEC_UID, SUDO_UID) or else to nobody, with no capabilities\n"
    "left; it does not serve when that fails.\n"
    "  --port N           UDP port (default 69; below 1024 needs root or\n"
    "                     cap_net_bind_service)\n"
    "  --ini FILE         settings file (default: FileServer.ini beside the program);\n"
    "                     the folder is [SERVER] Directory\n"
    "  --directory DIR    serve DIR instead of the folder named in the settings file\n"
    "  --only NAME        serve the file NAME of the folder and nothing else (may be\n"
    "                     given more than once); it is opened at the start\n"
    "  --bind ADDRESS     listen on this IPv4 address (may be given more than once;\n"
    "                     default: every address)\n"
    "  --max-transfers N  transfers at once; more are refused as busy (default 32)\n"
    "  --max-per-client N transfers at once for one client address (default 3)\n"
    "  --timeout-ms MS    wait for an acknowledgement before resending (default 5000;\n"
    "                     a client's timeout option of up to 5 s overrides it)\n"
    "  --retries N        resends of one packet before a transfer is abandoned (default 5)\n"
    "  --stop-with-stdin  stop when standard input reaches its end (the starting program\n"
    "                     holds the other end of a pipe: it stops the server by closing it,\n"
    "                     even when the server runs with more rights than it has)\n"
    "  --report           one line on standard output when listening (\"listening\n"
    "                     ADDRESS:PORT\") and for the first datagram of each client\n"
    "                     (\"client ADDRESS\"), for the program that started it\n"
    "  --quiet            no log lines on standard error\n"
    "  -h, --help         print this help and exit\n"
    "  --version          print the version and exit\n";

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
    bool quiet = false, report = false;
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
        } else if (a == "--version") {
            std::printf("FileServer %s\n", FIELDDESK_VERSION);
            return 0;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--report") {
            report = true;
        } else if (a == "--stop-with-stdin") {
            o.stopFd = 0;
        } else if (a == "--port" && value(v) && Number(v, 0, 65535, n)) {
            o.port = static_cast<uint16_t>(n);
        } else if (a == "--ini" && value(v)) {
            ini = v;
        } else if (a == "--directory" && value(v)) {
            directory = v;
        } else if (a == "--bind" && value(v)) {
            o.bindAddresses.emplace_back(v);
        } else if (a == "--only" && value(v)) {
            o.only.emplace_back(v);
        } else if (a == "--max-per-client" && value(v) && Number(v, 1, 1024, n)) {
            o.maxPerClient = static_cast<int>(n);
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
    if (!quiet)
        o.log = [](const std::string& line) {
            std::fprintf(stderr, "FileServer: %s\n", line.c_str());
        };
    if (report) {
        setvbuf(stdout, nullptr, _IOLBF, 0);
        o.clientSeen = [](const std::string& address) {
            std::printf("client %s\n", address.c_str());
        };
    }


    auto fail = [report](int code, const std::string& why) {
        std::fprintf(stderr, "FileServer: %s\n", why.c_str());
        if (report) std::printf("error %s\n", why.c_str());
        return code;
    };
    fd::tftp::TftpServer server(o);
    std::string error;
    // Root of a rootless sandbox is an ordinary user outside it: it keeps its user and gives
    // up its capabilities, as a server started with a file capability does.
    const bool root = (::getuid() == 0 || ::geteuid() == 0) && !fd::tftp::RootIsAnOrdinaryUserOutside();
    // As root: the port first, then root goes. The invoking user's settings file and
    // folder are read as that user (root must not read for them what they may not); a
    // server root started for itself opens its files before it becomes nobody.
    std::optional<fd::tftp::ServingUser> dropTo;
    if (root) {
        if (!server.Bind(error)) return fail(3, error);
        dropTo = fd::tftp::ChooseServingUser();
        if (dropTo->invoker) {
            if (!fd::tftp::DropRoot(*dropTo, error))
                return fail(4, "not serving: cannot give up root: " + error);
            dropTo.reset();
        }
    }
    if (directory.empty()) directory = fd::ReadProfileString(ini, "SERVER", "Directory", "", 4096);
    if (directory.empty())
        return fail(2, "no folder to serve: [SERVER] Directory missing in " + ini);
    server.SetDirectory(directory);
    if (root) {
        if (!server.OpenFolder(error)) return fail(3, error);
        if (dropTo && !fd::tftp::DropRoot(*dropTo, error))
            return fail(4, "not serving: cannot give up root: " + error);
    } else {
        if (!server.Open(error)) return fail(3, error);
        // A capability granted to the program file is only for the bind.
        if (fd::tftp::HoldsCapabilities() && !fd::tftp::DropCapabilities(error))
            return fail(4, "not serving: cannot give up the capabilities: " + error);
    }
    if (!quiet)
        std::fprintf(stderr, "FileServer: serving %s on port %u as uid %u\n", directory.c_str(),
                     server.Port(), static_cast<unsigned>(::geteuid()));
    if (report)
        for (const auto& e : server.Endpoints()) std::printf("listening %s\n", e.c_str());
    server.Run(g_stop);
    return 0;
}
