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
// anything else.
class FlatJsonReader {
public:
    using Object = std::map<std::string, std::string>;

    static std::optional<std::vector<Object>> Parse(const std::string& text) {
        FlatJsonReader r(text);
        std::vector<Object> out;
        if (!r.Take('[')) return std::nullopt;
        if (r.Peek() == ']') {
            r.Take(']');
            return r.AtEnd() ? std::optional(out) : std::nullopt;
        }
        do {
            Object o;
            if (!r.Take('{')) return std::nullopt;
            do {
                auto key = r.String();
                if (!key || !r.Take(':')) return std::nullopt;
                std::optional<std::string> value;
                if (r.Peek() == '"')
                    value = r.String();
                else
                    value = r.Word();
                if (!value || o.count(*key)) return std::nullopt;
                o[*key] = *value;
            } while (r.Take(','));
            if (!r.Take('}')) return std::nullopt;
            out.push_back(std::move(o));
        } while (r.Take(','));
        if (!r.Take(']') || !r.AtEnd()) return std::nullopt;
        return out;
    }

private:
    explicit FlatJsonReader(const std::string& t) : m_t(t) {}
    void Skip() {
        while (m_i < m_t.size() &&
               (m_t[m_i] == ' ' || m_t[m_i] == '\n' || m_t[m_i] == '\r' || m_t[m_i] == '\t'))
            ++m_i;
    }
    char Peek() {
        Skip();
        return m_i < m_t.size() ? m_t[m_i] : '\0';
    }
    bool Take(char c) {
        if (Peek() != c) return false;
        ++m_i;
        return true;
    }
    bool AtEnd() {
        Skip();
        return m_i == m_t.size();
    }
    std::optional<std::string> Word() {
        Skip();
        for (const char* w : {"true", "false"})
            if (m_t.compare(m_i, std::string(w).size(), w) == 0) {
                m_i += std::string(w).size();
                return std::string(w);
            }
        // Integers, kept as their text.
        std::size_t end = m_i + (m_i < m_t.size() && m_t[m_i] == '-' ? 1 : 0);
        const std::size_t digits = end;
        while (end < m_t.size() && m_t[end] >= '0' && m_t[end] <= '9') ++end;
        if (end == digits) return std::nullopt;
        if (end + 1 < m_t.size() && m_t[end] == '.' && m_t[end + 1] >= '0' && m_t[end + 1] <= '9') {
            ++end;  // a fraction, kept as its text too
            while (end < m_t.size() && m_t[end] >= '0' && m_t[end] <= '9') ++end;
        }
        std::string number = m_t.substr(m_i, end - m_i);
        m_i = end;
        return number;
    }
    std::optional<std::string> String() {
        if (!Take('"')) return std::nullopt;
        std::string s;
        while (m_i < m_t.size()) {
            const unsigned char c = static_cast<unsigned char>(m_t[m_i++]);
            if (c == '"') return s;
            if (c < 0x20) return std::nullopt;  // raw control characters are not JSON
            if (c != '\\') {
                s += static_cast<char>(c);
                continue;
            }
            if (m_i >= m_t.size()) return std::nullopt;
            const char e = m_t[m_i++];
            switch (e) {
                case '"':
                    s += '"';
                    break;
                case '\\':
                    s += '\\';
                    break;
                case '/':
                    s += '/';
                    break;
                case 'n':
                    s += '\n';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case 'u': {
                    if (m_i + 4 > m_t.size()) return std::nullopt;
                    const unsigned cp =
                        static_cast<unsigned>(std::stoul(m_t.substr(m_i, 4), nullptr, 16));
                    m_i += 4;
                    if (cp < 0x80) {
                        s += static_cast<char>(cp);
                    } else if (cp < 0x800) {
                        s += static_cast<char>(0xC0 | (cp >> 6));
                        s += static_cast<char>(0x80 | (cp & 0x3F));
                    } else {
                        s += static_cast<char>(0xE0 | (cp >> 12));
                        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                        s += static_cast<char>(0x80 | (cp & 0x3F));
                    }
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    const std::string& m_t;
    std::size_t m_i = 0;
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
