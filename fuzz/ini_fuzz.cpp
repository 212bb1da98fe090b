// The INI reader, writer and the language lookup over arbitrary file contents: no crash, no
// read past a buffer, values never longer than the caller's buffer, and a written key always
// reads back as written while the other lines stay untouched.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/ini_file.h"
#include "config/language.h"

namespace {

std::string WorkDir() {
    // tmpfs when there is one: every input is written and replaced on disk.
    static const std::string dir = [] {
        std::string templ = access("/dev/shm", W_OK) == 0 ? "/dev/shm/fd-ini-fuzz-XXXXXX"
                                                          : "/tmp/fd-ini-fuzz-XXXXXX";
        const char* made = mkdtemp(templ.data());
        if (!made) abort();
        return std::string(made) + "/";
    }();
    return dir;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = [] {
        const std::string folder = WorkDir() + "Languages";
        if (mkdir(folder.c_str(), 0700) != 0) abort();
        setenv("LANG", "C", 1);
        fd::InitLanguage(WorkDir());
        fd::SetLanguage("Fuzz");
        return true;
    }();
    (void)init;

    const std::string lng = WorkDir() + "Languages/Fuzz.lng";
    WriteFile(lng, data, size);

    // Keys taken from the input itself, so that lookups hit as well as miss.
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string key = text.substr(0, text.find_first_of("=\n"));
    if (key.size() > 64) key.resize(64);
    const std::size_t sizes[] = {0, 1, 2, 5, 128, 1024};
    for (std::size_t bufSize : sizes) {
        for (const char* section : {"ProgramOutStr", "", "LCID"}) {
            const std::string v = fd::ReadProfileString(lng, section, key, "default", bufSize);
            if (bufSize == 0 ? !v.empty() : v.size() > bufSize - 1) __builtin_trap();
        }
    }
    const std::string t = fd::GetLangText(key);
    // A translation holds at most 1023 characters and the escapes only ever shorten text.
    if (t.size() > std::max<std::size_t>(1023, key.size())) __builtin_trap();
    (void)fd::GetLangText("Online");

    // Writing one key: it reads back as written and every other key keeps its value.
    if (!text.empty() && (data[0] & 3) == 0) {
        const std::string before = fd::ReadProfileString(lng, "ProgramOutStr", "Other", "-", 1024);
        if (!fd::WriteProfileString(lng, "ProgramOutStr", "Fuzzed Key", "value 1"))
            __builtin_trap();
        if (fd::ReadProfileString(lng, "programoutstr", "FUZZED KEY", "-", 1024) != "value 1")
            __builtin_trap();
        if (fd::ReadProfileString(lng, "ProgramOutStr", "Other", "-", 1024) != before)
            __builtin_trap();
    }
    return 0;
}
