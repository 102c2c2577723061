// Who can change a program on Linux: its owner, and whoever may write a directory above it
// (a rename puts another file or folder in its place). Only root may be either.
#include "service/tunnel/tool_trust.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace tunnel {
namespace {

bool fail(const std::string& path, std::string& error) {
    error = path + " can be changed by users other than the administrators";
    return false;
}

bool writableByOthers(const struct stat& info) { return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

// In a sticky directory only root and an entry's owner may rename or remove the entry, so
// other users' write access there leaves root's entries alone.
bool protectsRootEntries(const struct stat& info) { return S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0; }

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

}  // namespace

bool onlyAdministratorsCanChange(const std::string& path, std::string& error) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return fail(path, error);
    std::string current = resolved.get();
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != 0 || writableByOthers(info))
        return fail(current, error);
    // Every entry on the way is root's (checked below); each directory may let others write
    // only when it is sticky.
    while (current != "/") {
        current = parentOf(current);
        if (::lstat(current.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0 ||
            (writableByOthers(info) && !protectsRootEntries(info)))
            return fail(current, error);
    }
    return true;
}

}  // namespace tunnel
