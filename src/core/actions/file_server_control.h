#pragma once
// The real file server for an upgrade: our FileServer program beside this one, its
// FileServer.ini, started (elevated when it needs to be) and ended by name. It is given a
// private folder that holds the image alone, told to serve that one name, and bound to the
// adapters that reach the devices, so nothing else of the PC is offered to any network.

#include <sys/types.h>

#include <cstdint>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "actions/upgrade_session.h"

namespace fd {

class CFileServerControl final : public IUpgradeFileServer {
public:
    struct Options {
        std::string program;  // default: FileServer beside this executable
        std::string iniPath;  // default: beside the program in a build tree, else (an
                              // installed or read-only folder) in the runtime folder
        uint16_t port = 69;
        std::vector<std::string> extraArgs;
        // How long a stop waits for the server to leave by itself (it watches the pipe on
        // its standard input) before it is killed.
        std::chrono::milliseconds stopWait{2000};
        // Where the private image folders are made; default: the runtime folder.
        std::string workDirectory;
    };
    CFileServerControl();
    explicit CFileServerControl(Options options);
    ~CFileServerControl() override;
    CFileServerControl(const CFileServerControl&) = delete;
    CFileServerControl& operator=(const CFileServerControl&) = delete;

    // Writes the folder into FileServer.ini, [SERVER] Directory.
    bool WriteDirectory(const std::string& folder);
    // Makes a private folder (0700) holding only the image — a hard link where the file
    // system allows, else a copy, of the file the path resolves to — under the image's own
    // name, and points FileServer.ini at it. The folder goes when the server stops.
    bool ServeImage(const std::string& imagePath,
                    const std::vector<std::string>& addresses) override;
    // Starts the server on the image ServeImage prepared; without one it starts nothing
    // and Failure() says why.
    void Start() override;
    bool IsRunning() override;
    void Stop() override;
    std::string Failure() override;
    std::optional<bool> HeardFrom(const std::string& ip) override;

    const std::string& Program() const { return m_options.program; }
    const std::string& IniPath() const { return m_options.iniPath; }
    // The private folder of the image being served; "" when none.
    const std::string& ServedFolder() const { return m_folder; }
    // Whether starting it asks for elevation: not root, a privileged port, and the program
    // lacks the capability to bind it.
    bool NeedsElevation() const;
    // Why the server cannot have its port here, or "" when it can (the port is not
    // privileged, we are root, the program holds the capability, or pkexec can ask for
    // it). The text names the three ways to give it the right.
    std::string ElevationProblem() const;
    std::string StartProblem() override { return ElevationProblem(); }

private:
    std::string ProcessName() const;
    void Release();
    void RemoveFolder();
    // Reads what the server reported on its standard output so far.
    void ReadReport();
    Options m_options;
    // The server started last: its id, and our end of the pipe on its standard input. An
    // elevated server cannot be signalled by us; closing the pipe stops it all the same.
    pid_t m_pid = 0;
    int m_stopFd = -1;
    // Our end of its standard output ("listening ...", "client ADDRESS", "error ...").
    int m_reportFd = -1;
    std::string m_reportBuffer;
    bool m_listening = false, m_started = false;
    std::string m_failure;
    std::set<std::string> m_heard;
    // What ServeImage prepared.
    std::string m_folder, m_name;
    std::vector<std::string> m_addresses;
};

}  // namespace fd
