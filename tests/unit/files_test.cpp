#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/support/temp_dir.h"
#include "vpn/files.h"
#include "vpn/system.h"

namespace {

namespace fs = std::filesystem;
using orvik_test::TempDir;

fs::path u8path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// Names in a directory, so a test can see that no temporary file was left behind.
std::set<std::string> namesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(u8path(directory))) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace(name.begin(), name.end());
    }
    return names;
}

TEST(Files, ReadReturnsBytesUnchangedOrFailsWithoutTouchingTheOutput) {
    TempDir dir;
    const std::string bytes("\xEF\xBB\xBF{\"a\":1}\r\n\0tail", 17);
    dir.write("data.bin", bytes);
    dir.write("empty", "");
    std::string read = "old";
    ASSERT_TRUE(vpn::readWholeFile(dir.file("data.bin"), read));
    EXPECT_EQ(read, bytes);
    ASSERT_TRUE(vpn::readWholeFile(dir.file("empty"), read));
    EXPECT_EQ(read, "");
    read = "kept";
    EXPECT_FALSE(vpn::readWholeFile(dir.file("missing.json"), read));
    EXPECT_FALSE(vpn::readWholeFile(dir.path(), read));
    EXPECT_EQ(read, "kept");
}

TEST(Files, AtomicWriteCreatesAndReplacesWithoutLeftovers) {
    TempDir dir;
    const std::string target = dir.file("session.json");
    ASSERT_TRUE(vpn::writeFileAtomically(target, "a much longer first content\n"));
    EXPECT_EQ(dir.read("session.json"), "a much longer first content\n");

    ASSERT_TRUE(vpn::writeFileAtomically(target, "short\n"));
    EXPECT_EQ(dir.read("session.json"), "short\n");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"session.json"});
}

TEST(Files, AtomicWriteHandlesUtf8PathsAndBinaryContent) {
    TempDir dir;
    dir.write("状态 目录/keep", "");
    const std::string target = dir.file("状态 目录/会话.json");
    const std::string bytes("\x00\xFF\r\n", 4);
    ASSERT_TRUE(vpn::writeFileAtomically(target, bytes));
    std::string read;
    ASSERT_TRUE(vpn::readWholeFile(target, read));
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(namesIn(dir.file("状态 目录")), (std::set<std::string>{"keep", "会话.json"}));
}

TEST(Files, FailedAtomicWriteLeavesTargetAndNoTemporaryFile) {
    TempDir dir;
    // A directory in the target's place cannot be replaced by a file.
    dir.write("target/inside", "x");
    EXPECT_FALSE(vpn::writeFileAtomically(dir.file("target"), "new"));
    EXPECT_EQ(dir.read("target/inside"), "x");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"target"});

    // No directory to write into.
    EXPECT_FALSE(vpn::writeFileAtomically(dir.file("missing/session.json"), "new"));
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"target"});
}

TEST(Files, RemoveTreatsMissingFileAsDone) {
    TempDir dir;
    dir.write("session.json", "x");
    EXPECT_TRUE(vpn::removeFile(dir.file("session.json")));
    EXPECT_FALSE(dir.exists("session.json"));
    EXPECT_TRUE(vpn::removeFile(dir.file("session.json")));
    EXPECT_TRUE(vpn::removeFile(dir.file("missing/session.json")));
}

TEST(Files, RegularFileIsAnythingButADirectory) {
    TempDir dir;
    dir.write("xray/xray", "");
    EXPECT_TRUE(vpn::isRegularFile(dir.file("xray/xray")));
    EXPECT_FALSE(vpn::isRegularFile(dir.file("xray")));
    EXPECT_FALSE(vpn::isRegularFile(dir.file("missing")));
}

TEST(System, MachineDeviceIdIsNotEmpty) {
    const std::string id = vpn::machineDeviceId();
    EXPECT_FALSE(id.empty());
    EXPECT_EQ(id.find_first_of(" \t\r\n"), std::string::npos);
    EXPECT_EQ(id, vpn::machineDeviceId());  // stable
}

TEST(System, ExecutableDirectoryHoldsTheRunningProgram) {
    const std::string directory = vpn::executableDirectory();
    ASSERT_NE(directory, ".");
    EXPECT_TRUE(fs::is_directory(u8path(directory)));
    EXPECT_TRUE(directory.back() != '/' && directory.back() != '\\');
}

TEST(System, FullPathNameIsLexicalAndAbsolute) {
    TempDir dir;
    const std::string base = dir.path();
    // Neither "a" nor "b" need exist.
    EXPECT_EQ(vpn::fullPathName(vpn::joinPath(vpn::joinPath(vpn::joinPath(base, "a"), ".."), "b")), dir.file("b"));
    EXPECT_EQ(vpn::fullPathName(vpn::joinPath(vpn::joinPath(base, "."), "c")), dir.file("c"));
    EXPECT_FALSE(vpn::fullPathName(""));
    const auto relative = vpn::fullPathName("some-name");
    ASSERT_TRUE(relative);
    EXPECT_EQ(u8path(*relative), fs::current_path() / "some-name");
}

}  // namespace
