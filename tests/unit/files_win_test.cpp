// The state files on Windows: a save while readers hold the file, and what the reader refuses
// (devices, pipes, files over the cap). A reparse point cannot be made under wine, whose
// CreateSymbolicLinkW creates nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "vpn/files.h"
#include "vpn/text_win.h"

namespace {

using orvik_test::TempDir;

HANDLE openShared(const std::string& path) {
    return CreateFileW(vpn::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(FilesWin, SaveSucceedsWhileAReaderHoldsTheFile) {
    TempDir dir;
    dir.write("session.json", "old");
    const std::string target = dir.file("session.json");
    const HANDLE reader = openShared(target);  // as readWholeFile and the client's own reads open it
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(vpn::writeFileAtomically(target, "new"));
    std::string read;
    EXPECT_TRUE(vpn::readWholeFile(target, read));
    EXPECT_EQ(read, "new");
    CloseHandle(reader);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(vpn::widen(dir.path())),
                            std::filesystem::directory_iterator{}),
              1) << "no temporary file left";
}

TEST(FilesWin, ReaderTakesOnlyRegularFilesWithinTheCap) {
    TempDir dir;
    dir.write("largest.json", std::string(vpn::kMaxStateFileBytes, 'x'));
    dir.write("oversized.json", std::string(vpn::kMaxStateFileBytes + 1, 'x'));
    const std::wstring pipeName = L"\\\\.\\pipe\\orvik-files-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

    std::string read;
    EXPECT_TRUE(vpn::readWholeFile(dir.file("largest.json"), read));
    EXPECT_EQ(read.size(), vpn::kMaxStateFileBytes);
    // A pipe with nothing in it would hold the reader for good.
    for (const std::string& path : {dir.file("oversized.json"), std::string("NUL"), vpn::narrow(pipeName)}) {
        SCOPED_TRACE(path);
        read = "kept";
        EXPECT_FALSE(vpn::readWholeFile(path, read));
        EXPECT_EQ(read, "kept");
    }
    CloseHandle(pipe);
}

}  // namespace
