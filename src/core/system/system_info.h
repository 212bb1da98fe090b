#pragma once
// Facts about the running program and the machine, and the starting and stopping of other
// programs (the firmware file server).

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace fd {

// The directory of the running executable, ending in '/'. Files that ship with the program
// (Setting.ini, Languages/, Skin/) are found relative to it. Falls back to the current
// directory when /proc is not available.
std::string GetExecutableDirectory();

// The same, computed once and then returned from memory.
const std::string& GetExecutableDirectoryCached();

// Where an installed program keeps its read-only files: <prefix>/lib/fielddesk/. For a
// program running from such a folder, the prefix ("/usr" for /usr/lib/fielddesk/); empty
// for any other folder (a build tree, a folder a test made). Symbolic links in the path
// are not resolved here: the caller hands the folder of the running executable.
std::string InstallPrefixOf(const std::string& programDir);

// Where a program puts what it writes while it runs (the scratch database, FileServer.ini):
// beside itself in a build tree or a folder of its own when that is writable, never into
// an installed lib/fielddesk/ (whoever runs it, root included): the runtime folder then.
// Ends in '/'; empty when no folder can be had.
std::string RunFilesDirectory(const std::string& programDir);

// This build's version in four numbers, "1.0.0.0".
std::string OwnFileVersionText();

// A folder for this user alone in $TMPDIR (or /tmp), without a trailing '/': fielddesk-UID,
// created 0700. The temporary folder is shared, so another user (or, inside a user
// namespace, another user mapped to the same number) may own that name already: then the
// first of fielddesk-UID-1 .. -9 that is ours. Empty when none is.
std::string PrivateTempDirectory();

}  // namespace fd

class COperateSystemInfo {
public:
    COperateSystemInfo() = default;
    virtual ~COperateSystemInfo() = default;

    // There is no 32-on-64 emulation layer to report here.
    bool IsWow64() const { return false; }
    // The code of a current system, one on which programs are started elevated.
    int GetOsVersionCode() const { return 13; }

    // "a.b.c.d" of a program of ours (every program built from this tree carries its version
    // mark); false and `text` untouched for any other file.
    static bool GetFileVersionText(const std::string& path, std::string& text);

    static std::string GetExecutableDirectory() { return fd::GetExecutableDirectoryCached(); }

    // Starts a program with its folder as working directory, standard input from /dev/null
    // (or stdinFd when given) and standard output to stdoutFd when given. verb "runas" asks for
    // elevation: through pkexec when this process is not root. With wait it returns whether the
    // program ran and exited 0 (pkexec's refusal or a missing program gives false); without,
    // whether it was started. *pid gets its id.
    static bool RunProcess(const std::string& path, const std::vector<std::string>& args, bool wait,
                           const std::string& verb = {}, pid_t* pid = nullptr, int stdinFd = -1,
                           int stdoutFd = -1);

    // The first process of the current user whose executable's file name is exactly `name`
    // (case-sensitive); 0 when none. Processes of other users are never considered: on a
    // shared machine their programs are none of ours.
    static pid_t FindProcessByName(const std::string& name);
    // Ends every such process of the current user: politely first, then by force. Gives up
    // after `patience`; true when none is left.
    static bool KillProcessesByName(const std::string& name,
                                    std::chrono::milliseconds patience = std::chrono::seconds(3));
    // The process ids FindProcessByName would choose from, in directory order. procRoot:
    // where the process table is read from (tests hand a made-up one).
    static std::vector<pid_t> ProcessesByName(const std::string& name,
                                              const std::string& procRoot = "/proc");
};
