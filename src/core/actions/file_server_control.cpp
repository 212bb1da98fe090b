#include "actions/file_server_control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "config/ini_file.h"
#include "system/single_instance.h"
#include "system/system_info.h"

namespace fd {

CFileServerControl::CFileServerControl() : CFileServerControl(Options{}) {}

CFileServerControl::CFileServerControl(Options options) : m_options(std::move(options)) {
    const std::string dir = GetExecutableDirectoryCached();
    if (m_options.program.empty()) m_options.program = dir + "FileServer";
    if (m_options.iniPath.empty()) {
        const auto slash = m_options.program.rfind('/');
        const std::string progDir =
            slash == std::string::npos ? "./" : m_options.program.substr(0, slash + 1);
        std::string dir = progDir;
        if (::access(progDir.c_str(), W_OK) != 0) {
            const std::string runtime = RuntimeDirectory();
            if (!runtime.empty()) dir = runtime + "/";
        }
        m_options.iniPath = dir + "FileServer.ini";
    }
}

std::string CFileServerControl::ProcessName() const {
    const auto slash = m_options.program.rfind('/');
    return slash == std::string::npos ? m_options.program : m_options.program.substr(slash + 1);
}

bool CFileServerControl::WriteDirectory(const std::string& folder) {
    return WriteProfileString(m_options.iniPath, "SERVER", "Directory", folder);
}

bool CFileServerControl::NeedsElevation() const {
    if (::geteuid() == 0 || m_options.port >= 1024) return false;
    return ::getxattr(m_options.program.c_str(), "security.capability", nullptr, 0) <= 0;
}

CFileServerControl::~CFileServerControl() {
    Release();
}

void CFileServerControl::Release() {
    if (m_stopFd >= 0) ::close(m_stopFd);
    m_stopFd = -1;
    if (m_pid <= 0) return;
    // Give it a moment to leave so that its port is free for the next start.
    const auto deadline = std::chrono::steady_clock::now() + m_options.stopWait;
    for (;;) {
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = 0;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, WNOHANG);
    m_pid = 0;
}

void CFileServerControl::Start() {
    Release();
    std::vector<std::string> args = {"--ini", m_options.iniPath, "--port",
                                     std::to_string(m_options.port), "--stop-with-stdin"};
    args.insert(args.end(), m_options.extraArgs.begin(), m_options.extraArgs.end());
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    // The result is not waited for: the upgrade looks for the running process instead.
    pid_t pid = 0;
    if (COperateSystemInfo::RunProcess(m_options.program, args, false,
                                       NeedsElevation() ? "runas" : "", &pid, fds[0])) {
        m_pid = pid;
        m_stopFd = fds[1];
    } else {
        ::close(fds[1]);
    }
    ::close(fds[0]);
}

bool CFileServerControl::IsRunning() {
    return COperateSystemInfo::FindProcessByName(ProcessName()) != 0;
}

void CFileServerControl::Stop() {
    Release();
    COperateSystemInfo::KillProcessesByName(ProcessName());
}

}  // namespace fd
