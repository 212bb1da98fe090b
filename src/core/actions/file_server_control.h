#pragma once
// The real file server for an upgrade: our FileServer program beside this one, its
// FileServer.ini, started (elevated when it needs to be) and ended by name.

#include <sys/types.h>

#include <cstdint>
#include <chrono>
#include <string>
#include <vector>

#include "actions/upgrade_session.h"

namespace fd {

class CFileServerControl final : public IUpgradeFileServer {
public:
    struct Options {
        std::string program;  // default: FileServer beside this executable
        std::string iniPath;  // default: beside the program, or the runtime folder when
                              // that folder is not writable
        uint16_t port = 69;
        std::vector<std::string> extraArgs;
        // How long a stop waits for the server to leave by itself (it watches the pipe on
        // its standard input) before it is killed.
        std::chrono::milliseconds stopWait{2000};
    };
    CFileServerControl();
    explicit CFileServerControl(Options options);
    ~CFileServerControl() override;
    CFileServerControl(const CFileServerControl&) = delete;
    CFileServerControl& operator=(const CFileServerControl&) = delete;

    bool WriteDirectory(const std::string& folder) override;
    void Start() override;
    bool IsRunning() override;
    void Stop() override;

    const std::string& Program() const { return m_options.program; }
    const std::string& IniPath() const { return m_options.iniPath; }
    // Whether starting it asks for elevation: not root, a privileged port, and the program
    // lacks the capability to bind it.
    bool NeedsElevation() const;

private:
    std::string ProcessName() const;
    void Release();
    Options m_options;
    // The server started last: its id, and our end of the pipe on its standard input. An
    // elevated server cannot be signalled by us; closing the pipe stops it all the same.
    pid_t m_pid = 0;
    int m_stopFd = -1;
};

}  // namespace fd
