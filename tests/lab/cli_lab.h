#pragma once
// Running the real fielddesk-cli from a lab test, and reading its --json output.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/language.h"
#include "devsim/device_peer.h"
#include "presentation/json_text.h"
#include "support/lab.h"
#include "support/program_folder.h"

namespace fd::test {

struct CliRun {
    int exitCode = -1;  // -1: did not finish in time (it was killed) or could not start
    std::string out;
    std::string err;
};

inline std::string CliPath() {
    const char* dir = std::getenv("FD_BIN_DIR");
    return std::string(dir ? dir : ".") + "/fielddesk-cli";
}

// Runs fielddesk-cli with args in the calling thread's network namespace (a child starts
// in the namespace of the thread that forks it).
inline CliRun RunCli(const std::vector<std::string>& args,
                     std::chrono::seconds timeout = std::chrono::seconds(60)) {
    CliRun run;
    // A folder of its own per run: what the tool writes beside itself (the file server's
    // ini file for an upgrade) is never shared with another run.
    const ProgramFolder folder("fielddesk-cli");
    if (!folder.Ok()) {
        run.err = folder.Error();
        return run;
    }
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return run;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]), close(outPipe[1]);
        return run;
    }
    const std::string path = folder.Program();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]), close(errPipe[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    bool timedOut = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!timedOut && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

// The JSON fielddesk-cli prints: an array of flat objects whose values are strings,
// booleans or numbers (read as their text: "true", "-52", "0.5"). nullopt when the text is
// anything else. Read by the program's own flat-JSON reader.
class FlatJsonReader {
public:
    using Object = std::map<std::string, std::string>;

    static std::optional<std::vector<Object>> Parse(const std::string& text) {
        const fd::JsonFlatArray read = fd::ReadJsonFlatArray(text);
        if (!read.error.empty()) return std::nullopt;
        std::vector<Object> out;
        for (const fd::JsonFlatObject& o : read.objects) {
            Object& row = out.emplace_back();
            for (const fd::JsonMember& m : o.members) row[m.key] = m.value;
        }
        return out;
    }
};

// A lab whose devices' side holds one emulated-device peer, and the texts the CLI child reads
// the way this process does. A test adds its devices, then starts the peer.
class CliPeerLabTest : public LabTest {
protected:
    void SetUp() override {
        LabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        setenv("LC_ALL", "C", 1);
        const char* bin = std::getenv("FD_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        InitLanguage(std::string(bin) + "/");
        devsim::PeerOptions po;
        po.netns = m_lab.DevNamespace();
        m_peer = std::make_unique<devsim::DevicePeer>(po);
    }
    void TearDown() override {
        m_peer.reset();
        LabTest::TearDown();
    }

    std::unique_ptr<devsim::DevicePeer> m_peer;
};

}  // namespace fd::test
