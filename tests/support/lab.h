#pragma once
// Helpers for tests that need real sockets: a network lab made by scripts/netlab (a PC
// namespace and a devices namespace joined by a veth pair, 198.18.0.0/15 only), created
// per test and destroyed again even when the test fails.
//
//   class MyLabTest : public fd::test::LabTest {};
//   TEST_F(MyLabTest, Works) { ... this thread is in the PC namespace here ... }

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace fd::test {

// scripts/netlab, found through FD_SOURCE_DIR (set by ctest); empty when missing.
std::string NetlabPath();

// Runs netlab with the arguments; its exit code (-1 when it could not run). stdinText, when
// not empty, is fed to its standard input. Output goes to *output when given.
int RunNetlab(const std::vector<std::string>& args, std::string* output = nullptr,
              const std::string& stdinText = {});

// One lab with a name unique to this process. Create() returns false with a reason in
// Error() when the lab cannot be made (not root, no netlab, no namespaces).
class Lab {
public:
    Lab();
    ~Lab();  // destroys the lab if it still exists
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    bool Create();
    bool Destroy();
    bool Exists() const { return m_created; }
    const std::string& Name() const { return m_name; }
    std::string PcNamespace() const { return m_name + "-pc"; }
    std::string DevNamespace() const { return m_name + "-dev"; }
    const std::string& Error() const { return m_error; }

    // /16 addresses on the devices' veth (dev0), or on the PC's (pc0) with AddPcAddresses.
    bool AddDeviceAddresses(const std::vector<std::string>& ips);
    bool AddPcAddresses(const std::vector<std::string>& ips);
    // A further veth pair pcIDX <-> devIDX, with pcIp/16 on the PC's end when given.
    bool AddLink(int index, const std::string& pcIp = {});
    // Runs a command in one side ("pc" or "dev"); its exit code.
    int Exec(const std::string& side, const std::vector<std::string>& command,
             std::string* output = nullptr);

private:
    std::string m_name;
    std::string m_error;
    bool m_created = false;
};

// The calling thread enters a namespace for the lifetime of the object and returns to
// where it was afterwards.
class NamespaceScope {
public:
    explicit NamespaceScope(const std::string& nsName);
    ~NamespaceScope();
    NamespaceScope(const NamespaceScope&) = delete;
    NamespaceScope& operator=(const NamespaceScope&) = delete;
    bool Ok() const { return m_ok; }
    const std::string& Error() const { return m_error; }

private:
    int m_saved = -1;
    bool m_ok = false;
    std::string m_error;
};

// Fixture: a fresh lab per test, and the test's thread inside its PC namespace, so that
// everything the test starts (engine threads, sockets) lives there. Skips the test when
// not root or when the lab cannot be made.
class LabTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Lab m_lab;

private:
    int m_savedNs = -1;
};

// Polls pred every few milliseconds until it holds or the time is up; its last value.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

}  // namespace fd::test
