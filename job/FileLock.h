// A lock that belongs to an open file, so that the system drops it when its
// holder ends, however it ends: a crash leaves nothing stale behind.
#pragma once

namespace zelmod {

#ifndef _WIN32
// Opens path (made at mode 0600 if missing, never through a link, never waiting for a pipe, kept
// from the programs this one starts) and takes an exclusive lock on it without waiting. The
// descriptor holds the lock until it is closed; -1 with errno set when the file cannot be opened or
// locked, EWOULDBLOCK when another holder has the lock.
int openLocked(const char* path);
#endif

} // namespace zelmod
