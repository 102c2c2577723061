// The Windows tool locator and who can change a tool: the decision over an owner and a DACL
// (as SDDL), the paths checked, real files, and the text for each missing piece in order.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "service/tunnel/tool_trust.h"
#include "service/tunnel/tool_trust_win.h"
#include "service/tunnel/tunnel_tools.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"
#include "vpn/text_win.h"

using namespace tunnel;

namespace {

const std::string kUntrusted = " can be changed by users other than the administrators";

struct DescriptorCase {
    const char* name;
    const wchar_t* sddl;
    bool toolTrusted;       // as the tool or the directory that holds it
    bool furtherUpTrusted;  // as a directory above that
};

const DescriptorCase kDescriptors[] = {
    {"AdministratorsAndSystemOnly", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true, true},
    {"OwnedByTrustedInstaller",
     L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)(A;;0x1200a9;;;BU)", true, true},
    {"OwnedBySystem", L"O:SYD:(A;;FA;;;SY)", true, true},
    {"OwnedByUsers", L"O:BUD:(A;;FA;;;BA)", false, false},
    {"UsersMayWrite", L"O:BAD:(A;;FA;;;BA)(A;;FW;;;BU)", false, false},
    {"EveryoneMayWriteAttributes", L"O:BAD:(A;;FA;;;BA)(A;;0x100;;;WD)", false, false},
    {"UsersMayDelete", L"O:BAD:(A;;SD;;;AU)", false, false},
    {"UsersMayChangeThePermissions", L"O:BAD:(A;;WD;;;AU)", false, false},
    {"UsersMayTakeOwnership", L"O:BAD:(A;;WO;;;AU)", false, false},
    {"UsersMayDeleteEntries", L"O:BAD:(A;;0x40;;;AU)", false, false},
    {"UsersHoldGenericWrite", L"O:BAD:(A;;GW;;;BU)", false, false},
    {"UsersHoldGenericAll", L"O:BAD:(A;;GA;;;BU)", false, false},
    // The system drive's root: users may create folders there.
    {"UsersMayOnlyAddFolders", L"O:SYD:(A;;FA;;;SY)(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)", false, true},
    {"UsersMayOnlyAddFiles", L"O:BAD:(A;;0x2;;;AU)", false, true},
    {"InheritOnlyEntriesDoNotCount", L"O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICIIO;FA;;;BU)", true, true},
    {"DenyEntriesChangeNothing", L"O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)", true, true},
    {"EmptyDacl", L"O:BAD:", true, true},
    {"NoDacl", L"O:BA", false, false},  // everyone may do anything
};

TEST(ToolTrustDescriptor, OnlyTheAdministrationMayChangeWhatIsTrusted) {
    for (const DescriptorCase& row : kDescriptors) {
        SCOPED_TRACE(row.name);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(
            ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1, &descriptor, nullptr));
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL defaulted = FALSE, present = FALSE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        EXPECT_EQ(onlyAdministratorsHold(owner, present ? dacl : nullptr, changingRights(false)), row.toolTrusted);
        EXPECT_EQ(onlyAdministratorsHold(owner, present ? dacl : nullptr, changingRights(true)), row.furtherUpTrusted);
        LocalFree(descriptor);
    }
}

// The file and every directory above it up to the root, for each form of root; nothing
// without a root.
TEST(ToolTrustPaths, TheFileAndEveryDirectoryUpToTheRoot) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {R"(C:\a\b\xray.exe)", {R"(C:\a\b\xray.exe)", R"(C:\a\b)", R"(C:\a)", R"(C:\)"}},
        {R"(C:\a\b\)", {R"(C:\a\b)", R"(C:\a)", R"(C:\)"}},
        {R"(\\srv\share\t\x.exe)", {R"(\\srv\share\t\x.exe)", R"(\\srv\share\t)", R"(\\srv\share\)"}},
        {R"(\\?\C:\a\x.exe)", {R"(\\?\C:\a\x.exe)", R"(\\?\C:\a)", R"(\\?\C:\)"}},
        {R"(\\?\UNC\srv\share\x.exe)", {R"(\\?\UNC\srv\share\x.exe)", R"(\\?\UNC\srv\share\)"}},
        {"xray.exe", {}}, {R"(\\srv)", {}}, {R"(\\srv\share)", {}}, {"C:", {}}, {R"(\\\share\x)", {}},
    };
    for (const auto& [path, chain] : cases) EXPECT_EQ(pathAndDirectoriesAbove(path), chain) << path;
}

// The tools are ours, and we are no administrator to the trust check: with it they are refused.
TEST(ToolLocatorWinTest, FindsTheToolsOrNamesTheMissingPieceAndRefusesToolsUsersCanReplace) {
    orvik_test::TempDir runtime;
    for (const char* file : {"xray/xray.exe", "tun2socks/tun2socks-windows-amd64.exe", "tun2socks/wintun.dll"})
        runtime.write(file, "MZ");
    runtime.write("session.json.xray.json", "{}\n");
    const std::string xrayDir = runtime.file("xray"), tun2socksDir = runtime.file("tun2socks");
    TunnelTools tools;
    std::string error;
    auto locate = [&](bool trusted) {
        const bool found =
            makeToolLocator(trusted)->locate(xrayDir, tun2socksDir, runtime.file("session.json.xray.json"), tools, error);
        EXPECT_EQ(found, error.empty()) << error;
        return found ? "" : error;
    };
    ASSERT_EQ(locate(false), "");
    EXPECT_EQ(tools.xrayExecutable, xrayDir + "\\xray.exe");
    EXPECT_EQ(tools.tun2socksExecutable, tun2socksDir + "\\tun2socks-windows-amd64.exe");
    EXPECT_EQ(locate(true), *vpn::fullPathName(xrayDir + "\\xray.exe") + kUntrusted);
    EXPECT_FALSE(onlyAdministratorsCanChange(runtime.file("xray/missing.exe"), error));
    EXPECT_EQ(error, *vpn::fullPathName(runtime.file("xray/missing.exe")) + kUntrusted);

    runtime.write("tun2socks/tun2socks.txt", "not a program");
    runtime.write("tun2socks/my-tun2socks.exe", "MZ");
    const std::pair<const char*, const char*> steps[] = {
        {"session.json.xray.json", "config not found"},
        {"tun2socks/wintun.dll", "wintun.dll not found next to tun2socks"},
        {"tun2socks/tun2socks-windows-amd64.exe", "tun2socks exe not found"},
        {"xray/xray.exe", "xray.exe not found"}};
    for (const auto& [removed, text] : steps) {
        std::filesystem::remove(runtime.file(removed));
        EXPECT_EQ(locate(false), text);
    }
}

}  // namespace
