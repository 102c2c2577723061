// The Windows service host as far as it can be tried without changing the machine:
// removing a service that is not installed.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ServiceHostWin, UninstallingAServiceThatIsNotInstalledSaysSoAndSucceeds) {
    orvik_test::TempDir output;
    orvik_test::ServiceProcess uninstall(ORVIK_SERVICE_EXE, {"--uninstall", "--console"}, output.file("out.txt"));
    ASSERT_TRUE(uninstall.started());
    EXPECT_EQ(uninstall.wait(30000), 0);
    std::string printed = output.read("out.txt");
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    EXPECT_EQ(printed, "Service not installed.\n");
}

}  // namespace
