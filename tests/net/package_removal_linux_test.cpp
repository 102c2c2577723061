// The Debian package's removal script, inside a RouterLab machine, against services run from a
// copy of the program: it stops root's daemon and leaves another user's run of it alone.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/netns_linux.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"

namespace {

TEST(PackageRemoval, StopsRootsRunningServicesOfTheInstallationOnly) {
    if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
    orvik_test::RouterLab lab{{}};
    ASSERT_EQ(lab.error(), "");
    ASSERT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));  // and the lab's private files
    orvik_test::TempDir programs;
    const std::string program = programs.file("orvik_service");
    std::filesystem::copy_file(ORVIK_SERVICE_EXE, program);
    std::string prerm;
    ASSERT_TRUE(orvik_test::runProgram(
        {"sed", "-e", "s|@PROGRAMS@|" + programs.path() + "|g", "-e", "s|@UNIT@|orvik-test-absent.service|", ORVIK_PRERM}, &prerm));
    programs.write("prerm", prerm);
    ASSERT_EQ(::mkdir(programs.file("root").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(programs.file("user").c_str(), 0755), 0);
    ASSERT_EQ(::chown(programs.file("user").c_str(), 65534, 65534), 0);
    ASSERT_TRUE(lab.inMachine([&] {
        orvik_test::ServiceProcess daemon(program, {"--daemon", "--runtime", programs.file("root"), "--pipe",
                                                    programs.file("root/pipe")});
        orvik_test::ServiceProcess theirs("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", program,
                                                      "--console", "--runtime", programs.file("user"), "--pipe",
                                                      programs.file("user/pipe")});
        ASSERT_TRUE(orvik_test::waitForPipe(programs.file("root/pipe"), 20000));
        ASSERT_TRUE(orvik_test::waitForPipe(programs.file("user/pipe"), 20000));
        EXPECT_TRUE(orvik_test::runProgram({"sh", programs.file("prerm"), "remove"}));
        EXPECT_EQ(daemon.wait(0), 0) << "stopped by SIGTERM, and waited for";
        EXPECT_FALSE(theirs.wait(0));
    }, true)) << lab.error();
}

}  // namespace
