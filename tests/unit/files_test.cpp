// The state files: whole reads within the cap, atomic saves that leave nothing half done.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "vpn/files.h"

namespace {

namespace fs = std::filesystem;
using orvik_test::TempDir;

fs::path u8path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

TEST(Files, ReadTakesRegularFilesWithinTheCapAndOtherwiseLeavesTheOutput) {
    TempDir dir;
    const std::string bytes("\xEF\xBB\xBF{\"a\":1}\r\n\0tail", 17);
    const std::string largest(vpn::kMaxStateFileBytes, 'x');
    dir.write("data.bin", bytes);
    dir.write("empty", "");
    dir.write("largest", largest);
    dir.write("oversized", largest + "x");
    const std::pair<std::string, std::string> cases[] = {
        {"data.bin", bytes}, {"empty", ""}, {"largest", largest},
        {"oversized", "kept"}, {"missing.json", "kept"}, {".", "kept"},
    };
    for (const auto& [name, expected] : cases) {
        std::string read = "kept";
        EXPECT_EQ(vpn::readWholeFile(dir.file(name), read), expected != "kept") << name;
        EXPECT_EQ(read, expected) << name;
    }
}

TEST(Files, WritesWhollyOrNotAtAllAndRemovesIdempotently) {
    TempDir dir;
    dir.write("状态 目录/target/inside", "x");  // a directory in the target's place cannot be replaced
    const std::string file = dir.file("状态 目录/会话.json");
    const std::string contents[] = {"a much longer first content\n", std::string("\0\xFF\r\n", 4)};
    for (const std::string& bytes : contents) {
        ASSERT_TRUE(vpn::writeFileAtomically(file, bytes));
        std::string read;
        ASSERT_TRUE(vpn::readWholeFile(file, read));
        EXPECT_EQ(read, bytes);
    }
    EXPECT_FALSE(vpn::writeFileAtomically(dir.file("状态 目录/target"), "new"));
    EXPECT_FALSE(vpn::writeFileAtomically(dir.file("状态 目录/missing/session.json"), "new"));
    EXPECT_EQ(dir.read("状态 目录/target/inside"), "x");
    // Nothing else beside the two: no temporary file was left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(u8path(dir.file("状态 目录"))), fs::directory_iterator{}), 2);
    // Removing counts a missing file as done; only directories are not regular files.
    EXPECT_TRUE(vpn::isRegularFile(file) && !vpn::isRegularFile(dir.file("状态 目录/target")));
    EXPECT_TRUE(vpn::removeFile(file) && !vpn::isRegularFile(file) && vpn::removeFile(file));
    EXPECT_TRUE(vpn::removeFile(dir.file("missing/session.json")));
}

}  // namespace
