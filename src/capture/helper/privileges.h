#pragma once

// The helper's right to capture is needed only to open the socket: once it is open, every
// capability goes, for good.
namespace Privileges {

// Clears the effective, permitted, inheritable and ambient sets and forbids regaining any
// through exec. Returns false if the kernel refused.
bool dropAll();

// True when the effective, permitted and inheritable sets are all empty.
bool noneHeld();

} // namespace Privileges
