// The state files on Windows: a save while a reader holds the file; devices and pipes refused.
// (A reparse point cannot be made under wine, whose CreateSymbolicLinkW creates nothing.)
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "vpn/files.h"
#include "vpn/text_win.h"

namespace {

TEST(FilesWin, SaveSucceedsWhileAReaderHoldsTheFile) {
    orvik_test::TempDir dir;
    dir.write("session.json", "old");
    const std::string target = dir.file("session.json");
    // Opened as readWholeFile and the client's own reads open it.
    const HANDLE reader = CreateFileW(vpn::widen(target).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(vpn::writeFileAtomically(target, "new"));
    EXPECT_EQ(dir.read("session.json"), "new");
    CloseHandle(reader);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(vpn::widen(dir.path())),
                            std::filesystem::directory_iterator{}),
              1) << "no temporary file left";
}

// A pipe with nothing in it would hold the reader for good.
TEST(FilesWin, ReaderRefusesDevicesAndPipes) {
    const std::wstring pipeName = L"\\\\.\\pipe\\orvik-files-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE pipe =
        CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    for (const std::string& path : {std::string("NUL"), vpn::narrow(pipeName)}) {
        std::string read = "kept";
        EXPECT_FALSE(vpn::readWholeFile(path, read)) << path;
        EXPECT_EQ(read, "kept") << path;
    }
    CloseHandle(pipe);
}

}  // namespace
