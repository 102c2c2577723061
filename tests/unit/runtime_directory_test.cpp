#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/environment.h"
#include "tests/support/session_file.h"
#include "tests/support/temp_dir.h"
#include "vpn/files.h"
#include "vpn/local_control_plane.h"
#include "vpn/runtime_directory.h"
#include "vpn/system.h"
#include "vpn/xboard_control_plane.h"

namespace {

namespace fs = std::filesystem;
using orvik_test::ScopedEnvironment;
using orvik_test::TempDir;
using orvik_test::setEnvironment;

constexpr const char* kProbeOutput = "ORVIK_TEST_PROBE_OUTPUT";

fs::path u8path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// "xray/xray" or "xray/xray.exe": the Xray executable inside a directory named xray.
std::string xrayInSubdirectory() { return std::string("xray/") + vpn::xrayExecutableName(); }

// Copies this test program to `relativeExe` inside `dir` and lets the copy report what it
// resolves, so the executable's own location is the one under test.
std::string resolveAsCopyAt(const TempDir& dir, const std::string& relativeExe) {
    const std::string self = orvik_test::currentExecutablePath();
    const std::string copy = dir.file(relativeExe + u8path(self).extension().string());
    fs::create_directories(u8path(copy).parent_path());
    fs::copy_file(u8path(self), u8path(copy));
    TempDir output;
    const ScopedEnvironment probe(kProbeOutput, output.file("resolved.txt"));
    const int code = orvik_test::runChildProcess(
        copy, {"--gtest_also_run_disabled_tests", "--gtest_brief=1",
               "--gtest_filter=RuntimeDirectoryProbe.DISABLED_ReportsResolvedDirectory"});
    EXPECT_EQ(code, 0);
    return output.read("resolved.txt");
}

// Runs only inside a copy made by resolveAsCopyAt.
TEST(RuntimeDirectoryProbe, DISABLED_ReportsResolvedDirectory) {
    const auto output = vpn::environmentVariable(kProbeOutput);
    ASSERT_TRUE(output);
    ASSERT_TRUE(vpn::writeFileAtomically(*output, vpn::resolveRuntimeDirectory()));
}

TEST(HasXray, FindsXrayInItsSubdirectoryOrBeside) {
    TempDir nested;
    nested.write(xrayInSubdirectory(), "");
    EXPECT_TRUE(vpn::hasXray(nested.path()));

    TempDir flat;
    flat.write(vpn::xrayExecutableName(), "");
    EXPECT_TRUE(vpn::hasXray(flat.path()));

    TempDir directoryOnly;
    directoryOnly.write(xrayInSubdirectory() + "/not-a-program", "");
    EXPECT_FALSE(vpn::hasXray(directoryOnly.path()));
    EXPECT_FALSE(vpn::hasXray(directoryOnly.file("missing")));
}

class RuntimeDirectoryTest : public ::testing::Test {
protected:
    // The developer's or the machine's own setting must not leak into a layout.
    ScopedEnvironment runtime{"ORVIK_RUNTIME", std::nullopt};
    TempDir dir;
};

TEST_F(RuntimeDirectoryTest, OverrideWithXrayIsReturnedUnnormalised) {
    dir.write("rt/" + xrayInSubdirectory(), "");
    const std::string value = vpn::joinPath(vpn::joinPath(dir.path(), "."), "rt");
    setEnvironment("ORVIK_RUNTIME", value);
    EXPECT_EQ(vpn::resolveRuntimeDirectory(), value);
}

TEST_F(RuntimeDirectoryTest, OverrideWithoutXrayIsIgnored) {
    const std::string fallback = vpn::resolveRuntimeDirectory();
    dir.write("rt/readme.txt", "");
    setEnvironment("ORVIK_RUNTIME", dir.file("rt"));
    EXPECT_EQ(vpn::resolveRuntimeDirectory(), fallback);
    setEnvironment("ORVIK_RUNTIME", "");
    EXPECT_EQ(vpn::resolveRuntimeDirectory(), fallback);
}

// The limit is 259 UTF-16 units: "é" is one unit (two bytes in UTF-8).
TEST_F(RuntimeDirectoryTest, OverrideLongerThan259UnitsIsIgnored) {
    const std::string fallback = vpn::resolveRuntimeDirectory();
    const size_t base = dir.path().size() + 1;  // ASCII temporary path and a separator
    ASSERT_LT(base + 20, 259u);
    const auto layoutOf = [&](size_t units) {
        std::string name;  // "é" names of at most 100 units (200 bytes), joined by '/'
        for (size_t left = units - base; left > 0;) {
            const size_t run = left > 101 ? 100 : left;
            for (size_t i = 0; i < run; ++i) name += "é";
            left -= run;
            if (left > 0) {
                name += "/";
                --left;
            }
        }
        std::error_code failed;
        fs::create_directories(u8path(dir.file(name + "/xray")), failed);
        if (!failed) dir.write(name + "/" + xrayInSubdirectory(), "");
        return dir.file(name);
    };
    const std::string fits = layoutOf(259);
    const std::string tooLong = layoutOf(260);
    if (!vpn::hasXray(fits) || !vpn::hasXray(tooLong)) GTEST_SKIP() << "paths this long are not supported here";

    setEnvironment("ORVIK_RUNTIME", fits);
    EXPECT_EQ(vpn::resolveRuntimeDirectory(), fits);
    setEnvironment("ORVIK_RUNTIME", tooLong);
    EXPECT_EQ(vpn::resolveRuntimeDirectory(), fallback);
}

TEST_F(RuntimeDirectoryTest, RuntimeBesideTheExecutable) {
    dir.write("app/runtime/" + xrayInSubdirectory(), "");
    EXPECT_EQ(resolveAsCopyAt(dir, "app/orvik"), dir.file("app/runtime"));
}

TEST_F(RuntimeDirectoryTest, XrayBesideTheExecutable) {
    dir.write(std::string("app/") + vpn::xrayExecutableName(), "");
    dir.write("app/runtime/readme.txt", "");
    EXPECT_EQ(resolveAsCopyAt(dir, "app/orvik"), dir.file("app"));
}

TEST_F(RuntimeDirectoryTest, RuntimeDirectoryWinsOverXrayBeside) {
    dir.write(std::string("app/") + vpn::xrayExecutableName(), "");
    dir.write(std::string("app/runtime/") + vpn::xrayExecutableName(), "");
    EXPECT_EQ(resolveAsCopyAt(dir, "app/orvik"), dir.file("app/runtime"));
}

TEST_F(RuntimeDirectoryTest, DeveloperTreeFourLevelsUp) {
    dir.write("tools/phase-b/local/" + xrayInSubdirectory(), "");
    EXPECT_EQ(resolveAsCopyAt(dir, "build/windows/tests/unit/orvik"), dir.file("tools/phase-b/local"));
}

TEST_F(RuntimeDirectoryTest, WithoutXrayTheRuntimeSubdirectoryIsChosenAnyway) {
    EXPECT_EQ(resolveAsCopyAt(dir, "app/orvik"), dir.file("app/runtime"));
    EXPECT_FALSE(dir.exists("app/runtime"));
}

TEST_F(RuntimeDirectoryTest, OverrideWithoutXrayLeavesTheLayoutToDecide) {
    TempDir elsewhere;
    setEnvironment("ORVIK_RUNTIME", elsewhere.path());
    dir.write("app/runtime/" + xrayInSubdirectory(), "");
    EXPECT_EQ(resolveAsCopyAt(dir, "app/orvik"), dir.file("app/runtime"));
}

class ControlPlaneChoiceTest : public ::testing::Test {
protected:
    ScopedEnvironment panelUrl{"ORVIK_XBOARD_URL", std::nullopt};
    TempDir runtime;
};

TEST_F(ControlPlaneChoiceTest, WithoutPanelTheFilesServe) {
    EXPECT_FALSE(vpn::hasRemotePanel(runtime.path()));
    const auto plane = vpn::createControlPlane(runtime.path());
    ASSERT_NE(dynamic_cast<vpn::LocalControlPlane*>(plane.get()), nullptr);

    // It works on this directory's account.json and this user's session file.
    runtime.write("account.json", R"({"email":"a@b.c","password":"p","expireAt":"2999-1-1"})");
    std::string error;
    ASSERT_TRUE(plane->login("a@b.c", "p", error)) << error;
    EXPECT_TRUE(runtime.exists(orvik_test::sessionFile()));
}

TEST_F(ControlPlaneChoiceTest, PanelSettingsNameApiAndDeviceService) {
    runtime.write("panel.json", R"({"apiBase":"https://panel.example/", "deviceApi":"https://devices.example/v1\\/"})");
    runtime.write(orvik_test::sessionFile(), R"({"email":"a@b.c","auth_data":"Bearer T"})");
    EXPECT_TRUE(vpn::hasRemotePanel(runtime.path()));
    const auto plane = vpn::createControlPlane(runtime.path());
    const auto* panel = dynamic_cast<vpn::XboardControlPlane*>(plane.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->apiBase(), "https://panel.example");
    EXPECT_EQ(panel->deviceApi(), "https://devices.example/v1");
    EXPECT_EQ(panel->token(), "Bearer T");  // this user's session file
}

TEST_F(ControlPlaneChoiceTest, VariableNamesPanelWithoutDeviceService) {
    runtime.write("panel.json", R"({"deviceApi":"https://devices.example"})");
    setEnvironment("ORVIK_XBOARD_URL", "http://127.0.0.1:9//");
    EXPECT_TRUE(vpn::hasRemotePanel(runtime.path()));
    const auto plane = vpn::createControlPlane(runtime.path());
    const auto* panel = dynamic_cast<vpn::XboardControlPlane*>(plane.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->apiBase(), "http://127.0.0.1:9");
    EXPECT_EQ(panel->deviceApi(), "");
}

TEST_F(ControlPlaneChoiceTest, PanelSettingsWinOverTheVariable) {
    runtime.write("panel.json", R"({"apiBase":"https://panel.example"})");
    setEnvironment("ORVIK_XBOARD_URL", "https://other.example");
    const auto plane = vpn::createControlPlane(runtime.path());
    const auto* panel = dynamic_cast<vpn::XboardControlPlane*>(plane.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->apiBase(), "https://panel.example");
}

TEST_F(ControlPlaneChoiceTest, EmptyAddressesMeanNoPanel) {
    runtime.write("panel.json", R"({"apiBase":"/"})");
    for (const char* value : {"", "//"}) {
        setEnvironment("ORVIK_XBOARD_URL", value);
        EXPECT_FALSE(vpn::hasRemotePanel(runtime.path())) << value;
        const auto plane = vpn::createControlPlane(runtime.path());
        EXPECT_NE(dynamic_cast<vpn::LocalControlPlane*>(plane.get()), nullptr) << value;
    }
}

}  // namespace
