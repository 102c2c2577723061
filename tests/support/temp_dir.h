#pragma once
// A fresh directory under the system's temporary directory, removed with its content when
// the object goes out of scope.

#include <string>

namespace orvik_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // UTF-8 path without a trailing separator.
    const std::string& path() const { return path_; }
    // path() joined with a relative name ("a/b" uses the platform's separator).
    std::string file(const std::string& relative) const;
    // Writes `bytes` to `relative`, creating parent directories.
    void write(const std::string& relative, const std::string& bytes) const;
    // The file's content; empty when it cannot be read.
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace orvik_test
