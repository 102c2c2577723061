#pragma once
// Whole-file access for the state files. Paths are UTF-8.

#include <cstddef>
#include <string>

namespace vpn {

// State files are small; anything larger is not one of ours.
inline constexpr size_t kMaxStateFileBytes = 1024 * 1024;

// Reads the whole file into `bytes`; false when it cannot be opened or read, and for anything
// but a regular file of at most kMaxStateFileBytes. A symbolic link (Linux) or reparse point
// (Windows) as the file itself is refused; the read never blocks on a FIFO or device.
bool readWholeFile(const std::string& path, std::string& bytes);

// Writes `bytes` to a temporary file in the same directory, flushes it and renames it over
// `path`, so readers see the old content or the new, never a half-written file. On failure
// the temporary file is removed and `path` is unchanged.
// With `ownerOnly` only the writing user may read it (Linux: mode 0600; Windows: the folder's
// inherited access, which for the installed runtime directory is the administrators').
bool writeFileAtomically(const std::string& path, const std::string& bytes, bool ownerOnly = false);

// Deletes the file; true when it is gone afterwards (a missing file is no error).
bool removeFile(const std::string& path);

// True when `path` exists and is not a directory.
bool isRegularFile(const std::string& path);

}  // namespace vpn
