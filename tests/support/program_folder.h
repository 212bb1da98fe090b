#pragma once
// A folder of its own for one program a test starts. The programs keep their scratch
// database and read their ini files, languages and skin beside themselves, so a program
// run from the build's bin/ would share those files with every other test running at the
// same time. Here the program is hard-linked into a fresh temporary folder (copied where
// the two lie on different filesystems: a link would be resolved back to bin/), the files
// it reads are linked in beside it, and everything it writes stays in the folder, which
// goes with the object.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fd::test {

inline std::string BuildBinDir() {
    const char* dir = std::getenv("FD_BIN_DIR");
    return dir && *dir ? dir : "bin";
}

class ProgramFolder {
public:
    // program: a file name in the build's bin/; beside: what it reads from its own folder;
    // as: the name it gets there. The programs stop FileServer by its name, whichever
    // copy it is, so a test whose FileServer must outlive another test's stop gives it a
    // name of its own.
    explicit ProgramFolder(const std::string& program,
                           const std::vector<std::string>& beside = {"Setting.ini", "Languages",
                                                                    "Skin", "FileServer"},
                           const std::string& as = {}) {
        namespace fs = std::filesystem;
        if (!m_dir.Ok()) return;
        const fs::path bin = BuildBinDir();
        std::error_code ec;
        m_program = m_dir.Path(as.empty() ? program : as);
        fs::create_hard_link(bin / program, m_program, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(bin / program, m_program, ec);
        }
        if (ec) {
            m_error = "cannot place " + (bin / program).string() + ": " + ec.message();
            return;
        }
        // Read-only things are shared through symbolic links; a copied ini file would do
        // as well, but the links keep the folder cheap to make.
        for (const std::string& name : beside) {
            if (!fs::exists(bin / name)) continue;
            fs::create_symlink(fs::absolute(bin / name), m_dir.Path(name), ec);
            if (ec) {
                m_error = "cannot link " + name + ": " + ec.message();
                return;
            }
        }
        m_ok = true;
    }

    bool Ok() const { return m_ok; }
    const std::string& Error() const { return m_error; }
    // The program's path; the folder it lives in, with a trailing '/'.
    const std::string& Program() const { return m_program; }
    std::string Dir() const { return m_dir.Dir(); }
    std::string Path(const std::string& name) const { return m_dir.Path(name); }

private:
    TempDir m_dir;
    std::string m_program;
    std::string m_error;
    bool m_ok = false;
};

}  // namespace fd::test
