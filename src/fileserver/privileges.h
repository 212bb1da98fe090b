#pragma once
// Giving up root once port 69 is bound. FileServer is started as root (through pkexec, sudo,
// or by root itself) only because of that port; everything after the bind — parsing what
// strangers send, opening files — runs as an ordinary user without capabilities.

#include <sys/types.h>

#include <optional>
#include <string>

namespace fd::tftp {

struct ServingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    bool invoker = false;  // the user who asked for the elevation, not a stand-in
};

// The user a root-started server serves as: the invoking user (PKEXEC_UID, else SUDO_UID
// with SUDO_GID) when that is not root, else "nobody" (65534 when the name is unknown).
ServingUser ChooseServingUser();

// Drops to `user` for good: supplementary groups, gid and uid (real, effective and saved),
// the capability bounding, ambient, inheritable, permitted and effective sets, and no new
// privileges through exec. Then checks that root and every capability are gone and cannot
// be taken back. False with the reason otherwise; the caller must then not serve.
bool DropRoot(const ServingUser& user, std::string& error);

// For a server started without root but with capabilities (a file capability such as
// cap_net_bind_service): clears every set once the port is bound.
bool DropCapabilities(std::string& error);

// Whether the effective or permitted set holds any capability.
bool HoldsCapabilities();

// Whether this process's uid 0 is root only inside a user namespace that maps it to an
// ordinary user of the namespace above (a rootless sandbox or container): such a root has
// no privilege outside and no other user to become, so only its capabilities are given up.
bool RootIsAnOrdinaryUserOutside(const std::string& uidMap = "/proc/self/uid_map");

}  // namespace fd::tftp
