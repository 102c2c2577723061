// Installing and removing the systemd unit, with the unit directory in a temporary
// directory and systemctl recorded instead of run.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "service/systemd_unit_linux.h"
#include "tests/support/fake_machine.h"
#include "tests/support/temp_dir.h"

namespace {

class SystemdUnit : public ::testing::Test {
protected:
    service::SystemdSettings settings() const { return {units.path(), "/usr/bin/systemctl"}; }
    service::InstallReport install(const std::string& runtime) {
        return service::installUnit(settings(), runner, "/opt/orvik/orvik_service", runtime);
    }
    std::string unit() const { return units.read(service::kUnitName); }

    orvik_test::TempDir units;
    orvik_test::FakeMachine runner;
};

TEST_F(SystemdUnit, InstallWritesEnablesAndStartsTheUnitAndUninstallTakesItAway) {
    units.write(service::kUnitName, "old");  // an installed unit is stopped and written anew
    const auto report = install("/opt/orvik/运行 时");
    EXPECT_EQ(report.exitCode, 0);
    const std::string line = "\"/opt/orvik/orvik_service\" --runtime \"/opt/orvik/运行 时\"";
    EXPECT_EQ(report.out, "Installed and started OrvikService\nbinPath " + line + "\n");
    EXPECT_NE(unit().find("\nExecStart=" + line + "\n"), std::string::npos) << unit();
    EXPECT_NE(unit().find("\nWantedBy=multi-user.target\n"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::stat(units.file(service::kUnitName).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    const auto removed = service::uninstallUnit(settings(), runner);
    EXPECT_EQ(removed.out, "Uninstalled OrvikService\n");
    EXPECT_FALSE(units.exists(service::kUnitName));
    const std::vector<std::string> lines = runner.lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 4),
              (std::vector<std::string>{"/usr/bin/systemctl enable OrvikService.service",
                                        "/usr/bin/systemctl start OrvikService.service"}))
        << "enabled and started once the unit is read in";
    EXPECT_EQ(service::uninstallUnit(settings(), runner).out, "Service not installed.\n");
}

TEST_F(SystemdUnit, PathsAreEscapedForSystemdOrRefusedBeforeAnythingIsWrittenAndFailuresExitOne) {
    std::string line, error;
    ASSERT_TRUE(service::unitCommandLine("/opt/100%/svc", "/srv/$HOME", line, error));
    EXPECT_EQ(line, "\"/opt/100%%/svc\" --runtime \"/srv/$$HOME\"");
    for (const std::string& bad : {std::string("/srv/a\"b"), std::string("/srv/a\\b"),
                                   std::string("/srv/a\nExecStartPre=/bin/sh"), std::string("relative"), std::string()}) {
        const auto report = install(bad);
        EXPECT_EQ(report.exitCode, 1) << bad;
        EXPECT_EQ(report.err.rfind("install failed: ", 0), 0u) << report.err;
    }
    EXPECT_FALSE(units.exists(service::kUnitName));
    EXPECT_TRUE(runner.commands.empty());
    runner.succeed = false;
    EXPECT_EQ(install("/srv/rt").exitCode, 1);
    EXPECT_EQ(service::installUnit({units.file("missing/dir"), "systemctl"}, runner, "/opt/o", "/srv/rt").exitCode, 1);
}

}  // namespace
