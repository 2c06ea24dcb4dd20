#pragma once

#include <string>

namespace busdesk::sim {

// Both ends of a pseudo-terminal. The simulator keeps a slave descriptor of
// its own open: with no slave open a master reports hang-up on every poll,
// which would make the bus spin while the tool has its port closed.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;  // of the slave side, what the tool opens
};

// Opens a pseudo-terminal in raw mode with a non-blocking master. Returns
// false and sets `error` when the system refuses.
bool OpenPty(Pty& pty, std::string& error);
void ClosePty(Pty& pty);

// A tool takes flock() and then TIOCEXCL on its side. On a pty the exclusive
// flag belongs to the terminal, not to the tool's descriptor, so it outlives a
// tool that was killed and turns away every later open but root's. When the
// flag is set and nobody holds the flock any more, the bus clears the flag
// through its own slave descriptor. True when it did.
bool ReleaseStaleLock(Pty& pty);

}  // namespace busdesk::sim
