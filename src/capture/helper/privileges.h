#pragma once

// The helper's right to capture is needed only to open the socket. It starts with no effective
// capability (cap_net_raw is installed permitted only, "=p"; root's are lowered at once), raises
// cap_net_raw just around the opening and then gives up every capability and, if it runs as
// root, the user id as well, for good: libpcap's listing, filter compiler and optimiser and
// every packet after them run without a right to open raw sockets.
namespace Privileges {

// Clears the effective set, keeping the permitted one for raiseForOpening(); root also looks up
// the user it will become. False if the kernel refused.
bool lowerAll();

// Raises what opening the adapter needs (cap_net_raw, and for root the right to change user
// afterwards) from the permitted set into the effective one. False if any is not permitted.
bool raiseForOpening();

// Root leaves uid 0 for an unprivileged user (nobody), groups first; others keep their ids.
// Then clears the effective, permitted, inheritable and ambient sets and forbids regaining any
// through exec. False if the kernel refused any step.
bool dropAll();

// True when the effective, permitted and inheritable sets are all empty.
bool noneHeld();

} // namespace Privileges
