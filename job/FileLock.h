// A lock that belongs to an open file, so that the system drops it when its
// holder ends, however it ends: a crash leaves nothing stale behind.
#pragma once

namespace zelmod {

#ifndef _WIN32
// Takes an exclusive lock, without waiting, on a file at path made afresh (O_EXCL, never through
// a link, mode 0600, kept from the programs this one starts). A file a holder left there when it
// ended is removed first, if it is this user's regular file; any other thing at path is left as
// it is. The descriptor holds the lock until it is closed, and is the file under the name when
// returned. -1 with errno set otherwise: EWOULDBLOCK when another holder has the lock, EEXIST
// when what is at path is not this user's lock file.
int openLocked(const char* path);
#endif

} // namespace zelmod
