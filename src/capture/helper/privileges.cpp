#include "privileges.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The raw system calls: libcap would be one more library in a process that holds a privilege.
struct CapabilitySets
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
};

} // namespace

namespace Privileges {

bool dropAll()
{
    // Ambient capabilities would survive an exec; there is none here, but make sure.
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    CapabilitySets none;
    if (::syscall(SYS_capset, &none.header, none.data) != 0)
        return false;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    return noneHeld();
}

bool noneHeld()
{
    CapabilitySets held;
    if (::syscall(SYS_capget, &held.header, held.data) != 0)
        return false;
    for (const __user_cap_data_struct& d : held.data) {
        if (d.effective || d.permitted || d.inheritable)
            return false;
    }
    return true;
}

} // namespace Privileges
