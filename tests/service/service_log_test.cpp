// The service log's bounds: its size, with one older file, and each user's allowance of lines.
#include <gtest/gtest.h>

#include "service/service_log.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ServiceLogFile, GrowsToItsBoundThenMakesWayForANewFileKeepingOneOld) {
    orvik_test::TempDir dir;
    const std::string log = dir.file("orvik-service.log");
    const std::string line(29, 'x');  // 30 bytes with its line feed: three fit in 100
    for (char mark = 'a'; mark <= 'g'; ++mark) ASSERT_TRUE(service::appendLogLine(log, mark + line, 100));
    // a b c filled the first file, d e f the second, which then became the old one.
    EXPECT_EQ(dir.read("orvik-service.log"), "g" + line + "\n");
    EXPECT_EQ(dir.read("orvik-service.log.1"), "d" + line + "\ne" + line + "\nf" + line + "\n");
    EXPECT_FALSE(dir.exists("orvik-service.log.2"));
}

TEST(ServiceLogAllowance, EachUserHasABurstThenOneLineASecondAndHearsWhatWasDropped) {
    orvik_test::TempDir dir;
    auto now = service::ServiceLog::Clock::now();
    service::ServiceLog log([&now] { return now; });
    log.setPath(dir.file("orvik-service.log"));
    for (int i = 0; i < 100; ++i) log.writeFor(1000, "ipc op=connect " + std::to_string(i));
    log.writeFor(1001, "ipc op=status");  // another user's line still goes in
    now += 3 * service::kUserLineInterval;
    for (int i = 100; i < 110; ++i) log.writeFor(1000, "ipc op=connect " + std::to_string(i));
    std::string expected;
    for (int i = 0; i < service::kUserLineBurst; ++i) expected += "ipc op=connect " + std::to_string(i) + "\n";
    expected += "ipc op=status\n(" + std::to_string(100 - service::kUserLineBurst) + " lines of user 1000 dropped)\n";
    expected += "ipc op=connect 100\nipc op=connect 101\nipc op=connect 102\n";
    EXPECT_EQ(dir.read("orvik-service.log"), expected);
}

}  // namespace
