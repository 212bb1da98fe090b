// FileServer as a program on loopback: what it refuses, and transfers that go wrong on the
// way (lost and duplicate packets, strangers, files that change, a silent client).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "fileserver/tftp_client.h"
#include "fileserver/tftp_protocol.h"
#include "support/program_folder.h"
#include "support/temp_dir.h"

extern char** environ;

using namespace fd::tftp;
namespace fs = std::filesystem;

namespace {

// FileServer under a name of this test program's own: the programs stop every process
// named FileServer when an upgrade ends, and a test running beside this one may be doing
// just that.
fd::test::ProgramFolder OwnServer() {
    return fd::test::ProgramFolder("FileServer", {}, "FileServer-fs" + std::to_string(::getpid()));
}

uint16_t FreeUdpPort() {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

std::string Pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    std::mt19937 rng(seed);
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// How long a test waits for an answer the server owes it. Nothing is lost on loopback, but
// a loaded machine may not run the server for a while; waiting long costs nothing when
// the answer comes at once.
constexpr int kAnswerMs = 15000;

std::string AsText(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

// The server program, serving folder srv/ of a fresh temporary folder.
class Server {
public:
    explicit Server(std::vector<std::string> extra = {}) {
        fs::create_directories(m_tmp.Path("srv"));
        m_tmp.Write("FileServer.ini", "[SERVER]\r\nDirectory=" + Dir() + "\r\n");
        m_port = FreeUdpPort();
        std::vector<std::string> args = {m_program.Program(),
                                         "--ini",
                                         m_tmp.Path("FileServer.ini"),
                                         "--bind",
                                         "127.0.0.1",
                                         "--port",
                                         std::to_string(m_port),
                                         "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) m_pid = -1;
        // Ready once it answers (a missing file is refused with error 1); a cold start may
        // take seconds, a server that ended will not answer at all.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            FetchOptions o;
            o.wait = std::chrono::milliseconds(100);
            o.retries = 0;
            if (Fetch("127.0.0.1", m_port, "no-such-file", o).errorCode == ERR_NOT_FOUND) {
                m_ready = true;
                break;
            }
        }
    }
    ~Server() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int st = 0;
            ::waitpid(m_pid, &st, 0);
        }
    }
    bool Ready() const { return m_ready; }
    uint16_t Port() const { return m_port; }
    std::string Dir() const { return m_tmp.Path("srv"); }
    std::string Put(const std::string& name, const std::string& bytes) const {
        return m_tmp.Write("srv/" + name, bytes);
    }
    std::string Outside(const std::string& name, const std::string& bytes) const {
        return m_tmp.Write(name, bytes);
    }
    // The client resends its last packet every second and gives up only after the
    // server's own resends (5 s apart by default) had their chance several times over.
    FetchResult Get(const std::string& name, FetchOptions o = {}) const {
        o.retries = std::max(o.retries, 30);
        return Fetch("127.0.0.1", m_port, name, o);
    }

private:
    fd::test::TempDir m_tmp;
    fd::test::ProgramFolder m_program = OwnServer();
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    bool m_ready = false;
};

// A hand-driven client socket for the packet-level cases.
class Raw {
public:
    Raw() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~Raw() { ::close(m_fd); }
    void Send(const std::vector<uint8_t>& bytes, uint16_t port) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // The next datagram within ms milliseconds; its source port in *from.
    std::optional<std::vector<uint8_t>> Receive(int ms, uint16_t* from = nullptr) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return std::nullopt;
        std::vector<uint8_t> buf(70000);
        sockaddr_in src{};
        socklen_t len = sizeof src;
        ssize_t n =
            ::recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&src), &len);
        if (n < 0) return std::nullopt;
        buf.resize(static_cast<std::size_t>(n));
        if (from) *from = ntohs(src.sin_port);
        return buf;
    }

private:
    int m_fd = -1;
};

uint16_t Op(const std::vector<uint8_t>& p) {
    return p.size() >= 2 ? static_cast<uint16_t>((p[0] << 8) | p[1]) : 0;
}
uint16_t Num(const std::vector<uint8_t>& p) {
    return p.size() >= 4 ? static_cast<uint16_t>((p[2] << 8) | p[3]) : 0;
}

// The error code the server answers a raw request with (-1: no error packet).
int RefusalOf(const Server& s, const std::vector<uint8_t>& request) {
    Raw c;
    c.Send(request, s.Port());
    auto r = c.Receive(kAnswerMs);
    if (!r || Op(*r) != OP_ERROR) return -1;
    return Num(*r);
}

std::vector<uint8_t> Rrq(const std::string& name,
                         std::vector<std::pair<std::string, std::string>> opts = {},
                         const std::string& mode = "octet") {
    return EncodeRequest(OP_RRQ, name, mode, opts);
}

}  // namespace

TEST(FileServer, RefusesWhatItMustNotServe) {
    Server s;
    ASSERT_TRUE(s.Ready());
    s.Put("image.bin", "firmware");
    s.Outside("secret", "not for devices");
    fs::create_symlink("../secret", s.Dir() + "/escape");
    fs::create_symlink(s.Dir() + "/../secret", s.Dir() + "/absolute-escape");
    fs::create_symlink("image.bin", s.Dir() + "/alias.bin");
    fs::create_directories(s.Dir() + "/sub");
    s.Put("sub/inner.bin", "inner");

    // Writing is never allowed, whatever the name.
    EXPECT_EQ(RefusalOf(s, EncodeRequest(OP_WRQ, "image.bin", "octet", {})), ERR_ACCESS);
    // Names that could leave the folder or are not plain names.
    for (const std::string& name :
         std::vector<std::string>{"/etc/passwd", "../secret", "..", ".", "sub/inner.bin", "a\\b",
                                  std::string("im\x01"
                                              "age.bin"),
                                  "image.bin\x7f", ""})
        EXPECT_EQ(RefusalOf(s, Rrq(name)), ERR_ACCESS) << name;
    // A symlink out of the folder is refused, one inside it is followed; a folder is no file.
    EXPECT_EQ(RefusalOf(s, Rrq("escape")), ERR_ACCESS);
    EXPECT_EQ(RefusalOf(s, Rrq("absolute-escape")), ERR_ACCESS);
    EXPECT_EQ(RefusalOf(s, Rrq("sub")), ERR_ACCESS);
    EXPECT_EQ(AsText(s.Get("alias.bin").data), "firmware");
    EXPECT_EQ(RefusalOf(s, Rrq("missing.bin")), ERR_NOT_FOUND);

    // A request whose last field runs to the end of the datagram without its NUL.
    auto cut = Rrq("image.bin");
    cut.pop_back();
    EXPECT_EQ(RefusalOf(s, cut), ERR_ILLEGAL);
    EXPECT_EQ(RefusalOf(s, {0, 1, 'a'}), ERR_ILLEGAL);
    EXPECT_EQ(RefusalOf(s, Rrq("image.bin", {}, "netascii")), ERR_ILLEGAL);
    EXPECT_EQ(RefusalOf(s, Rrq("image.bin", {}, "morse")), ERR_ILLEGAL);

    // Option values out of range or not numbers, options twice, options that overflow the
    // 512-byte request.
    for (auto [k, v] :
         std::vector<std::pair<std::string, std::string>>{{"blksize", "7"},
                                                          {"blksize", "65465"},
                                                          {"blksize", "-512"},
                                                          {"blksize", "1e3"},
                                                          {"blksize", ""},
                                                          {"timeout", "0"},
                                                          {"timeout", "256"},
                                                          {"timeout", "99999999999999999999999"},
                                                          {"tsize", "x"}})
        EXPECT_EQ(RefusalOf(s, Rrq("image.bin", {{k, v}})), ERR_OPTION) << k << "=" << v;
    EXPECT_EQ(RefusalOf(s, Rrq("image.bin", {{"blksize", "1024"}, {"BLKSIZE", "512"}})),
              ERR_OPTION);
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 60; ++i) many.emplace_back("x-option-" + std::to_string(i), "1");
    EXPECT_EQ(RefusalOf(s, Rrq("image.bin", many)), ERR_OPTION);
    // An option name without its value.
    auto odd = Rrq("image.bin");
    for (char c : std::string("blksize")) odd.push_back(static_cast<uint8_t>(c));
    odd.push_back(0);
    EXPECT_EQ(RefusalOf(s, odd), ERR_OPTION);

    // The edges of the ranges are served, unknown options ignored, and the file still
    // arrives after all that.
    FetchOptions o;
    o.blockSize = 8;
    o.askSize = true;
    EXPECT_EQ(AsText(s.Get("image.bin", o).data), "firmware");
    EXPECT_EQ(RefusalOf(s, Rrq("image.bin",
                               {{"blksize", "65464"}, {"timeout", "255"}, {"colour", "red"}})),
              -1);
}

TEST(FileServer, LargeImageAtSmallBlocksWrapsTheBlockNumber) {
    Server s;
    ASSERT_TRUE(s.Ready());
    // 40 MB in 512-byte blocks is 81920 blocks: the block number passes 65535 and wraps.
    const std::string image = Pattern(40u * 1024 * 1024 + 123, 7);
    s.Put("big.bin", image);
    FetchOptions o;
    o.askSize = true;
    o.blockSize = 512;
    auto r = s.Get("big.bin", o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.tsize, image.size());
    ASSERT_EQ(r.data.size(), image.size());
    EXPECT_TRUE(AsText(r.data) == image);
}

TEST(FileServer, ExactMultipleOfTheBlockEndsWithAnEmptyBlock) {
    Server s;
    ASSERT_TRUE(s.Ready());
    const std::string image = Pattern(4096, 3);
    s.Put("even.bin", image);
    auto r = s.Get("even.bin");  // no options: 512 bytes, data straight away
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(AsText(r.data) == image);
    s.Put("empty.bin", "");
    auto e = s.Get("empty.bin");
    EXPECT_TRUE(e.ok);
    EXPECT_TRUE(e.data.empty());
}

TEST(FileServer, TenClientsAtOnce) {
    Server s;
    ASSERT_TRUE(s.Ready());
    const std::string image = Pattern(3 * 1024 * 1024 + 77, 11);
    s.Put("image.bin", image);
    std::vector<FetchResult> results(10);
    std::vector<std::thread> clients;
    for (int i = 0; i < 10; ++i)
        clients.emplace_back([&, i] {
            FetchOptions o;
            o.blockSize = static_cast<uint16_t>(i % 2 ? 1468 : 512 + 100 * i);
            o.askSize = i % 3 == 0;
            results[i] = s.Get("image.bin", o);
        });
    for (auto& t : clients) t.join();
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(results[i].ok) << i << ": " << results[i].error;
        EXPECT_TRUE(AsText(results[i].data) == image) << i;
    }
}

TEST(FileServer, StrangerGetsUnknownTidAndTheTransferGoesOn) {
    Server s;
    ASSERT_TRUE(s.Ready());
    const std::string image = Pattern(2000, 5);
    s.Put("image.bin", image);
    Raw client, stranger;
    client.Send(Rrq("image.bin"), s.Port());
    uint16_t tid = 0;
    auto d1 = client.Receive(kAnswerMs, &tid);
    ASSERT_TRUE(d1);
    ASSERT_EQ(Op(*d1), OP_DATA);
    ASSERT_EQ(Num(*d1), 1);

    stranger.Send(EncodeAck(1), tid);
    auto err = stranger.Receive(kAnswerMs);
    ASSERT_TRUE(err);
    EXPECT_EQ(Op(*err), OP_ERROR);
    EXPECT_EQ(Num(*err), ERR_UNKNOWN_TID);

    // The stranger's acknowledgement did not move the transfer on.
    EXPECT_FALSE(client.Receive(150));
    std::string got(d1->begin() + 4, d1->end());
    for (uint16_t block = 1;; ++block) {
        client.Send(EncodeAck(block), tid);
        auto d = client.Receive(kAnswerMs);
        ASSERT_TRUE(d);
        ASSERT_EQ(Num(*d), block + 1);
        got.append(d->begin() + 4, d->end());
        if (d->size() < 516) {
            client.Send(EncodeAck(block + 1), tid);
            break;
        }
    }
    EXPECT_TRUE(got == image);
}

TEST(FileServer, DuplicateAckDoesNotResendButATimeoutDoes) {
    Server s({"--timeout-ms", "5000"});
    ASSERT_TRUE(s.Ready());
    s.Put("image.bin", Pattern(4000, 9));
    Raw c;
    // The client's timeout (3 s) is long enough that a late delivery of block 2 cannot
    // make its timed resend look like one caused by the duplicate.
    c.Send(Rrq("image.bin", {{"timeout", "3"}}), s.Port());
    uint16_t tid = 0;
    auto oack = c.Receive(kAnswerMs, &tid);
    ASSERT_TRUE(oack);
    ASSERT_EQ(Op(*oack), OP_OACK);
    c.Send(EncodeAck(0), tid);
    auto d1 = c.Receive(kAnswerMs);
    ASSERT_TRUE(d1);
    ASSERT_EQ(Num(*d1), 1);
    // Block 1 acknowledged twice: block 2 goes out once; the duplicate changes nothing.
    c.Send(EncodeAck(1), tid);
    c.Send(EncodeAck(1), tid);
    c.Send(EncodeAck(0), tid);
    auto d2 = c.Receive(kAnswerMs);
    ASSERT_TRUE(d2);
    EXPECT_EQ(Num(*d2), 2);
    EXPECT_FALSE(c.Receive(600)) << "a duplicate acknowledgement caused a resend";
    // Silence past the client's timeout: block 2 again.
    auto again = c.Receive(kAnswerMs);
    ASSERT_TRUE(again);
    EXPECT_EQ(Op(*again), OP_DATA);
    EXPECT_EQ(Num(*again), 2);
}

TEST(FileServer, SilentClientIsAbandonedAfterItsRetriesAndFreesTheSlot) {
    Server s({"--max-transfers", "1", "--timeout-ms", "200", "--retries", "3"});
    ASSERT_TRUE(s.Ready());
    s.Put("image.bin", Pattern(100000, 2));
    Raw silent;
    silent.Send(Rrq("image.bin"), s.Port());
    int data = 0;
    std::optional<std::vector<uint8_t>> p;
    while ((p = silent.Receive(kAnswerMs)) && Op(*p) == OP_DATA) {
        EXPECT_EQ(Num(*p), 1);
        ++data;
    }
    // The first send and three resends, then the server gives up and says so.
    EXPECT_EQ(data, 4);
    ASSERT_TRUE(p);
    EXPECT_EQ(Op(*p), OP_ERROR);
    // The single slot is free again.
    auto r = s.Get("image.bin");
    EXPECT_TRUE(r.ok) << r.error;
}

TEST(FileServer, TransfersBeyondTheCapAreRefusedAsBusy) {
    // The holder's transfer lasts through one resend 5 s after block 1, long enough for the
    // refusal to be seen first even on a slow machine.
    Server s({"--max-transfers", "1", "--timeout-ms", "5000", "--retries", "1"});
    ASSERT_TRUE(s.Ready());
    s.Put("image.bin", Pattern(10000, 2));
    Raw holder;
    holder.Send(Rrq("image.bin"), s.Port());
    ASSERT_TRUE(holder.Receive(kAnswerMs));
    // One request, no resends: the refusal is the answer.
    FetchOptions o;
    o.retries = 0;
    o.wait = std::chrono::milliseconds(kAnswerMs);
    auto r = Fetch("127.0.0.1", s.Port(), "image.bin", o);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorCode, ERR_UNDEFINED);
    EXPECT_NE(r.error.find("busy"), std::string::npos) << r.error;
    // The holder's repeated request is not a second transfer: it gets block 1 again only
    // through the resend, and no error.
    holder.Send(Rrq("image.bin"), s.Port());
    auto p = holder.Receive(kAnswerMs);
    ASSERT_TRUE(p);
    EXPECT_EQ(Op(*p), OP_DATA);
}

TEST(FileServer, ImageReplacedDuringTheTransfer) {
    Server s;
    ASSERT_TRUE(s.Ready());
    const std::string oldImage = Pattern(200000, 21), newImage = Pattern(150000, 22);
    const std::string path = s.Put("image.bin", oldImage);

    // Replaced by a new file under the same name (how images are saved): the transfer that
    // began keeps sending the file it opened, whole.
    FetchOptions o;
    bool replaced = false;
    o.progress = [&](uint64_t got) {
        if (!replaced && got > 10000) {
            std::ofstream(path + ".new", std::ios::binary)
                .write(newImage.data(), std::streamsize(newImage.size()));
            fs::rename(path + ".new", path);
            replaced = true;
        }
        return true;
    };
    auto r = s.Get("image.bin", o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(replaced);
    EXPECT_TRUE(AsText(r.data) == oldImage);
    EXPECT_TRUE(AsText(s.Get("image.bin").data) == newImage);

    // Cut short in place: the client must not get a shorter image that looks complete.
    bool cut = false;
    o.progress = [&](uint64_t got) {
        if (!cut && got > 10000) {
            fs::resize_file(path, 20000);
            cut = true;
        }
        return true;
    };
    auto c = s.Get("image.bin", o);
    EXPECT_TRUE(cut);
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.error.find("changed"), std::string::npos) << c.error;
}

TEST(FileServer, ProgramOptions) {
    const auto program = OwnServer();
    ASSERT_TRUE(program.Ok()) << program.Error();
    int st = std::system((program.Program() + " --help > /dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(st), 0);
    st = std::system((program.Program() + " --port 70000 2> /dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(st), 2);
    // No folder named anywhere: it says so instead of serving something else.
    fd::test::TempDir tmp;
    tmp.Write("FileServer.ini", "[SERVER]\n");
    st = std::system(
        (program.Program() + " --port 0 --ini " + tmp.Path("FileServer.ini") + " 2> /dev/null")
            .c_str());
    EXPECT_EQ(WEXITSTATUS(st), 2);
}
