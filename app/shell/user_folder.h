#pragma once
// A folder that only the user running the client can reach, for what must not be shared with
// other users of the machine (the single-instance lock and socket).

#include <QString>

// Windows: the user's temporary directory. Linux: $XDG_RUNTIME_DIR when it is this user's and
// closed to others; else a folder "orvik-tessel" (made 0700 when missing) in the user's cache
// ($XDG_CACHE_HOME, else ~/.cache), else ".orvik-tessel" in the home directory. Never a
// shared folder such as /tmp. Empty, with `error` saying why, when there is none.
QString userOnlyFolder(QString& error);
