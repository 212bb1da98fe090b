#include "fileserver/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>


namespace fd::tftp {

namespace {

struct CapSets {
    __user_cap_data_struct d[2]{};
};

bool GetCaps(CapSets& c) {
    __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &h, c.d) == 0;
}

bool ClearCaps() {
    __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
    CapSets none;
    return ::syscall(SYS_capset, &h, none.d) == 0;
}

bool AnyCap(const CapSets& c) {
    for (const auto& d : c.d)
        if (d.effective || d.permitted || d.inheritable) return true;
    return false;
}

std::optional<unsigned long> PositiveId(const char* text) {
    if (!text || !*text) return std::nullopt;
    std::string_view s(text);
    unsigned long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v == 0 || v >= 0xffffffffUL)
        return std::nullopt;
    return v;
}

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Ambient capabilities would survive the uid change; clear them (kernels without them say
// EINVAL, which means there is nothing to clear).
bool ClearAmbient(std::string& error) {
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
        error = Errno("cannot clear the ambient capabilities");
        return false;
    }
    return true;
}

}  // namespace

ServingUser ChooseServingUser() {
    ServingUser u;
    std::optional<unsigned long> uid = PositiveId(std::getenv("PKEXEC_UID"));
    std::optional<unsigned long> gid;
    if (!uid) {
        uid = PositiveId(std::getenv("SUDO_UID"));
        if (uid) gid = PositiveId(std::getenv("SUDO_GID"));
    }
    if (uid) {
        u.uid = static_cast<uid_t>(*uid);
        u.invoker = true;
        if (const passwd* pw = ::getpwuid(u.uid); pw && pw->pw_gid != 0)
            u.gid = pw->pw_gid;
        else if (gid)
            u.gid = static_cast<gid_t>(*gid);
    } else if (const passwd* pw = ::getpwnam("nobody")) {
        u.uid = pw->pw_uid;
        u.gid = pw->pw_gid;
    } else {
        u.uid = 65534;
    }
    if (u.gid == 0) {
        const group* g = ::getgrnam("nogroup");
        u.gid = g && g->gr_gid != 0 ? g->gr_gid : 65534;
    }
    return u;
}

bool DropRoot(const ServingUser& user, std::string& error) {
    if (user.uid == 0 || user.gid == 0) {
        error = "will not serve as root";
        return false;
    }
    // The bounding set first, while CAP_SETPCAP is still held: nothing run later could
    // gain a capability from a file.
    for (int cap = 0; cap < 64; ++cap) {
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) == 0) continue;
        if (errno == EINVAL) break;  // past the last capability this kernel knows
        error = Errno("cannot empty the capability bounding set");
        return false;
    }
    if (!ClearAmbient(error)) return false;
    if (::setgroups(0, nullptr) != 0) {
        error = Errno("cannot drop the supplementary groups");
        return false;
    }
    if (::setresgid(user.gid, user.gid, user.gid) != 0) {
        error = Errno(("cannot change to group " + std::to_string(user.gid)).c_str());
        return false;
    }
    if (::setresuid(user.uid, user.uid, user.uid) != 0) {
        error = Errno(("cannot change to user " + std::to_string(user.uid)).c_str());
        return false;
    }
    // Leaving uid 0 empties the permitted and effective sets; the inheritable one is ours.
    if (!ClearCaps()) {
        error = Errno("cannot clear the capabilities");
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = Errno("cannot forbid new privileges");
        return false;
    }

    // Trust nothing of the above without looking.
    uid_t r = 0, e = 0, s = 0;
    gid_t rg = 0, eg = 0, sg = 0;
    if (::getresuid(&r, &e, &s) != 0 || r != user.uid || e != user.uid || s != user.uid ||
        ::getresgid(&rg, &eg, &sg) != 0 || rg != user.gid || eg != user.gid || sg != user.gid) {
        error = "the user or group did not change";
        return false;
    }
    if (::getgroups(0, nullptr) != 0) {
        error = "supplementary groups are left";
        return false;
    }
    if (::setuid(0) == 0 || ::seteuid(0) == 0 || ::setgid(0) == 0) {
        error = "root can be taken back";
        return false;
    }
    if (HoldsCapabilities()) {
        error = "capabilities are left";
        return false;
    }
    for (int cap = 0; cap < 64; ++cap) {
        const int in = ::prctl(PR_CAPBSET_READ, cap, 0, 0, 0);
        if (in < 0) break;
        if (in > 0) {
            error = "the capability bounding set is not empty";
            return false;
        }
    }
    return true;
}

bool DropCapabilities(std::string& error) {
    if (!ClearAmbient(error)) return false;
    if (!ClearCaps() || HoldsCapabilities()) {
        error = Errno("cannot clear the capabilities");
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = Errno("cannot forbid new privileges");
        return false;
    }
    return true;
}

bool RootIsAnOrdinaryUserOutside(const std::string& uidMap) {
    std::ifstream map(uidMap);
    unsigned long inside = 0, outside = 0, count = 0;
    while (map >> inside >> outside >> count)
        if (inside == 0 && count > 0) return outside != 0;
    return false;
}

bool HoldsCapabilities() {
    CapSets c;
    return !GetCaps(c) || AnyCap(c);
}

}  // namespace fd::tftp
