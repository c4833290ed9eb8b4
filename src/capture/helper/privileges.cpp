#include "privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The raw system calls: libcap would be one more library in a process that holds a privilege.
struct CapabilitySets
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};

    bool get() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool set() { return ::syscall(SYS_capset, &header, data) == 0; }
    void addEffective(int capability)
    {
        data[capability / 32].effective |= 1u << (capability % 32);
    }
};

// tcpdump's choice: the account that owns nothing. Looked up in the password database, not in
// the environment (the helper has none); 65534 where the database has no such entry.
constexpr uid_t NobodyFallback = 65534;

uid_t g_nobodyUid = NobodyFallback;
gid_t g_nobodyGid = NobodyFallback;

bool leaveRoot()
{
    const uid_t uid = g_nobodyUid;
    const gid_t gid = g_nobodyGid;
    if (uid == 0)
        return false;
    return ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, gid) == 0 &&
           ::setresuid(uid, uid, uid) == 0 && ::getuid() == uid && ::geteuid() == uid;
}

} // namespace

namespace Privileges {

bool lowerAll()
{
    // Looked up now, while no capability is effective: the lookup may load name-service modules.
    if (::geteuid() == 0) {
        if (const passwd* nobody = ::getpwnam("nobody")) {
            g_nobodyUid = nobody->pw_uid;
            g_nobodyGid = nobody->pw_gid;
        }
    }
    CapabilitySets sets;
    if (!sets.get())
        return false;
    for (__user_cap_data_struct& d : sets.data) {
        d.effective = 0;
        d.inheritable = 0;
    }
    return sets.set();
}

bool raiseForOpening()
{
    CapabilitySets sets;
    if (!sets.get())
        return false;
    sets.addEffective(CAP_NET_RAW);
    if (::geteuid() == 0) {
        sets.addEffective(CAP_SETUID);
        sets.addEffective(CAP_SETGID);
    }
    return sets.set();
}

bool dropAll()
{
    if (::geteuid() == 0 && !leaveRoot())
        return false;
    // Ambient capabilities would survive an exec; there is none here, but make sure.
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    CapabilitySets none;
    if (!none.set())
        return false;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    return noneHeld();
}

bool noneHeld()
{
    CapabilitySets held;
    if (!held.get())
        return false;
    for (const __user_cap_data_struct& d : held.data) {
        if (d.effective || d.permitted || d.inheritable)
            return false;
    }
    return true;
}

} // namespace Privileges
