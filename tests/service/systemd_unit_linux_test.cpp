// Installing and removing the systemd unit, with the unit directory in a temporary
// directory and systemctl recorded instead of run.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "service/systemd_unit_linux.h"
#include "tests/support/recording_runner.h"
#include "tests/support/temp_dir.h"

namespace {

class SystemdUnit : public ::testing::Test {
protected:
    service::SystemdSettings settings() const { return {units.path(), "/usr/bin/systemctl"}; }
    std::string unit() const { return units.read(service::kUnitName); }

    orvik_test::TempDir units;
    orvik_test::RecordingRunner runner;
};

TEST_F(SystemdUnit, InstallWritesEnablesAndStartsTheUnit) {
    const auto report = service::installUnit(settings(), runner, "/opt/orvik/orvik_service", "/opt/orvik/运行 时");
    EXPECT_EQ(report.exitCode, 0);
    const std::string line = "\"/opt/orvik/orvik_service\" --runtime \"/opt/orvik/运行 时\"";
    EXPECT_EQ(report.out, "Installed and started OrvikService\nbinPath " + line + "\n");
    EXPECT_EQ(report.err, "");
    EXPECT_NE(unit().find("\nExecStart=" + line + "\n"), std::string::npos) << unit();
    EXPECT_NE(unit().find("\nDescription=Velora连接服务\n"), std::string::npos);
    EXPECT_NE(unit().find("\nWantedBy=multi-user.target\n"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::stat(units.file(service::kUnitName).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(runner.lines(), (std::vector<std::string>{"/usr/bin/systemctl daemon-reload",
                                                        "/usr/bin/systemctl enable OrvikService.service",
                                                        "/usr/bin/systemctl start OrvikService.service"}));
}

TEST_F(SystemdUnit, InstallingOverAnInstalledUnitStopsItAndWritesItAnew) {
    units.write(service::kUnitName, "old");
    const auto report = service::installUnit(settings(), runner, "/usr/lib/orvik/orvik_service", "/srv/new");
    EXPECT_EQ(report.exitCode, 0);
    EXPECT_EQ(runner.lines().front(), "/usr/bin/systemctl stop OrvikService.service");
    EXPECT_NE(unit().find("--runtime \"/srv/new\""), std::string::npos);
}

TEST_F(SystemdUnit, PathsAreEscapedForSystemdOrRefused) {
    std::string line, error;
    ASSERT_TRUE(service::unitCommandLine("/opt/100%/svc", "/srv/$HOME", line, error));
    EXPECT_EQ(line, "\"/opt/100%%/svc\" --runtime \"/srv/$$HOME\"");
    for (const std::string& bad : {std::string("/srv/a\"b"), std::string("/srv/a\\b"), std::string("/srv/a\nExecStartPre=/bin/sh"),
                                   std::string("relative"), std::string()}) {
        EXPECT_FALSE(service::unitCommandLine("/opt/orvik/orvik_service", bad, line, error)) << bad;
        const auto report = service::installUnit(settings(), runner, "/opt/orvik/orvik_service", bad);
        EXPECT_EQ(report.exitCode, 1);
        EXPECT_EQ(report.err.rfind("install failed: ", 0), 0u) << report.err;
    }
    EXPECT_FALSE(units.exists(service::kUnitName));
    EXPECT_TRUE(runner.commands.empty());
}

TEST_F(SystemdUnit, InstallFailuresAreReportedWithExitCodeOne) {
    runner.succeed = false;
    const auto report = service::installUnit(settings(), runner, "/opt/orvik/orvik_service", "/srv/rt");
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_EQ(report.err, "systemctl daemon-reload failed: command exit 1: (recorded)\n");
    EXPECT_EQ(report.out, "");

    const auto unwritable = service::installUnit({units.file("missing/dir"), "systemctl"}, runner,
                                                 "/opt/orvik/orvik_service", "/srv/rt");
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_EQ(unwritable.err.rfind("cannot write " + units.file("missing/dir"), 0), 0u) << unwritable.err;
}

TEST_F(SystemdUnit, UninstallStopsDisablesAndRemoves) {
    units.write(service::kUnitName, "unit");
    const auto report = service::uninstallUnit(settings(), runner);
    EXPECT_EQ(report.exitCode, 0);
    EXPECT_EQ(report.out, "Uninstalled OrvikService\n");
    EXPECT_FALSE(units.exists(service::kUnitName));
    EXPECT_EQ(runner.lines(), (std::vector<std::string>{"/usr/bin/systemctl stop OrvikService.service",
                                                        "/usr/bin/systemctl disable OrvikService.service",
                                                        "/usr/bin/systemctl daemon-reload"}));
}

TEST_F(SystemdUnit, UninstallWithoutAUnitSaysSoAndSucceeds) {
    const auto report = service::uninstallUnit(settings(), runner);
    EXPECT_EQ(report.exitCode, 0);
    EXPECT_EQ(report.out, "Service not installed.\n");
    EXPECT_TRUE(runner.commands.empty());
}

}  // namespace
