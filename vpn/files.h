#pragma once
// Whole-file access for the state files. Paths are UTF-8.

#include <string>

namespace vpn {

// Reads the whole file into `bytes`; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string& bytes);

// Writes `bytes` to a temporary file in the same directory, flushes it and renames it over
// `path`, so readers see the old content or the new, never a half-written file. On failure
// the temporary file is removed and `path` is unchanged.
bool writeFileAtomically(const std::string& path, const std::string& bytes);

// Deletes the file; true when it is gone afterwards (a missing file is no error).
bool removeFile(const std::string& path);

// True when `path` exists and is not a directory.
bool isRegularFile(const std::string& path);

}  // namespace vpn
