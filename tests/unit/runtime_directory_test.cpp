// Where the program finds its runtime directory, and which account back end that gets.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/environment.h"
#include "tests/support/service_process.h"
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

// Copies this test program to `relativeExe` inside `dir` and lets the copy report what it
// resolves, so the executable's own location is the one under test.
std::string resolveAsCopyAt(const TempDir& dir, const std::string& relativeExe) {
    const std::string self = orvik_test::currentExecutablePath();
    const std::string copy = dir.file(relativeExe + u8path(self).extension().string());
    fs::create_directories(u8path(copy).parent_path());
    fs::copy_file(u8path(self), u8path(copy));
    TempDir output;
    const ScopedEnvironment probe(kProbeOutput, output.file("resolved.txt"));
    const int code = orvik_test::runCaptured(
        copy, {"--gtest_also_run_disabled_tests", "--gtest_brief=1",
               "--gtest_filter=RuntimeDirectoryProbe.DISABLED_ReportsResolvedDirectory"}).exitCode;
    EXPECT_EQ(code, 0);
    return output.read("resolved.txt");
}

// Runs only inside a copy made by resolveAsCopyAt.
TEST(RuntimeDirectoryProbe, DISABLED_ReportsResolvedDirectory) {
    const auto output = vpn::environmentVariable(kProbeOutput);
    ASSERT_TRUE(output);
    ASSERT_TRUE(vpn::writeFileAtomically(*output, vpn::resolveRuntimeDirectory()));
}

class RuntimeDirectoryTest : public ::testing::Test {
protected:
    // The developer's or the machine's own setting must not leak into a layout.
    ScopedEnvironment runtime{"ORVIK_RUNTIME", std::nullopt};
    TempDir dir;
};

// Where the program finds its runtime, from the files around a copy of it at app/orvik
// (or deep in a developer's build tree).
struct Layout {
    const char* name;
    std::vector<std::string> files;  // "XRAY" stands for the executable's name
    const char* exe;
    const char* expected;
};

class RuntimeLayoutTest : public RuntimeDirectoryTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(RuntimeLayoutTest, ResolvesTheExpectedDirectory) {
    for (std::string file : GetParam().files) {
        const size_t at = file.find("XRAY");
        if (at != std::string::npos) file.replace(at, 4, vpn::xrayExecutableName());
        dir.write(file, "");
    }
    TempDir elsewhere;  // an override without Xray leaves the layout to decide
    setEnvironment("ORVIK_RUNTIME", elsewhere.path());
    EXPECT_EQ(resolveAsCopyAt(dir, GetParam().exe), dir.file(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RuntimeLayoutTest,
    ::testing::Values(
        Layout{"RuntimeBeside", {"app/runtime/xray/XRAY"}, "app/orvik", "app/runtime"},
        // A folder by Xray's name is no program.
        Layout{"XrayBeside", {"app/XRAY", "app/runtime/xray/XRAY/readme.txt"}, "app/orvik", "app"},
        Layout{"RuntimeWinsOverXrayBeside", {"app/XRAY", "app/runtime/XRAY"}, "app/orvik", "app/runtime"},
        Layout{"DeveloperTree", {"tools/phase-b/local/xray/XRAY"}, "build/windows/tests/unit/orvik",
               "tools/phase-b/local"},
        Layout{"NothingAnywhere", {}, "app/orvik", "app/runtime"}),
    [](const auto& row) { return std::string(row.param.name); });

// Which account back end a runtime directory gets: panel.json, then the variable, else the
// local account files, each with this user's session file.
TEST(ControlPlaneChoice, ChoosesTheBackEndForTheRuntimeDirectory) {
    const struct {
        const char* panelJson;  // nullptr: no panel.json
        std::optional<std::string> variable;
        const char* apiBase;    // nullptr: the local account files serve
        const char* deviceApi;
    } cases[] = {
        {nullptr, std::nullopt, nullptr, ""},
        {R"({"apiBase":"https://panel.example/", "deviceApi":"https://devices.example/v1\\/"})", std::nullopt,
         "https://panel.example", "https://devices.example/v1"},
        {R"({"deviceApi":"https://devices.example"})", "http://127.0.0.1:9//", "http://127.0.0.1:9", ""},
        {R"({"apiBase":"https://panel.example"})", "https://other.example", "https://panel.example", ""},
        {R"({"apiBase":"/"})", "//", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.panelJson ? c.panelJson : "no panel.json");
        TempDir runtime;
        const ScopedEnvironment panelUrl{"ORVIK_XBOARD_URL", c.variable};
        if (c.panelJson) runtime.write("panel.json", c.panelJson);
        runtime.write(orvik_test::sessionFile(), R"({"email":"a@b.c","auth_data":"Bearer T"})");
        runtime.write("account.json", R"({"email":"a@b.c","password":"p","expireAt":"2999-1-1"})");
        EXPECT_EQ(vpn::hasRemotePanel(runtime.path()), c.apiBase != nullptr);
        const auto plane = vpn::createControlPlane(runtime.path());
        const auto* panel = dynamic_cast<vpn::XboardControlPlane*>(plane.get());
        if (c.apiBase) {
            ASSERT_NE(panel, nullptr);
            EXPECT_EQ(panel->apiBase() + " " + panel->deviceApi() + " " + panel->token(),
                      std::string(c.apiBase) + " " + c.deviceApi + " Bearer T");  // this user's session file
            continue;
        }
        ASSERT_NE(dynamic_cast<vpn::LocalControlPlane*>(plane.get()), nullptr);
        std::string error;
        EXPECT_TRUE(plane->login("a@b.c", "p", error)) << error;
        EXPECT_EQ(runtime.read(orvik_test::sessionFile()), R"({"email":"a@b.c","expireAt":"2999-1-1"})" "\n");
    }
}

}  // namespace
