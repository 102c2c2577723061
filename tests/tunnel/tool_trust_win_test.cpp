// Who can change a tool on Windows: the decision over an owner and a DACL (written as SDDL),
// the paths that are checked, and the check of real files.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include "service/tunnel/tool_trust.h"
#include "service/tunnel/tool_trust_win.h"
#include "tests/support/service_process.h"
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

class ToolTrustDescriptor : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(ToolTrustDescriptor, OnlyTheAdministrationMayChangeWhatIsTrusted) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(GetParam().sddl, SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_EQ(onlyAdministratorsHold(owner, present ? dacl : nullptr, changingRights(false)), GetParam().toolTrusted);
    EXPECT_EQ(onlyAdministratorsHold(owner, present ? dacl : nullptr, changingRights(true)),
              GetParam().furtherUpTrusted);
    LocalFree(descriptor);
}

INSTANTIATE_TEST_SUITE_P(Table, ToolTrustDescriptor, ::testing::ValuesIn(kDescriptors),
                         [](const auto& entry) { return std::string(entry.param.name); });

TEST(ToolTrustPaths, TheFileAndEveryDirectoryUpToTheRoot) {
    using Paths = std::vector<std::string>;
    EXPECT_EQ(pathAndDirectoriesAbove(R"(C:\a\b\xray.exe)"),
              (Paths{R"(C:\a\b\xray.exe)", R"(C:\a\b)", R"(C:\a)", R"(C:\)"}));
    EXPECT_EQ(pathAndDirectoriesAbove(R"(C:\xray.exe)"), (Paths{R"(C:\xray.exe)", R"(C:\)"}));
    EXPECT_EQ(pathAndDirectoriesAbove(R"(C:\a\b\)"), (Paths{R"(C:\a\b)", R"(C:\a)", R"(C:\)"}));
    EXPECT_EQ(pathAndDirectoriesAbove(R"(\\srv\share\t\x.exe)"),
              (Paths{R"(\\srv\share\t\x.exe)", R"(\\srv\share\t)", R"(\\srv\share\)"}));
    EXPECT_EQ(pathAndDirectoriesAbove(R"(\\?\C:\a\x.exe)"), (Paths{R"(\\?\C:\a\x.exe)", R"(\\?\C:\a)", R"(\\?\C:\)"}));
    EXPECT_EQ(pathAndDirectoriesAbove(R"(\\?\UNC\srv\share\x.exe)"),
              (Paths{R"(\\?\UNC\srv\share\x.exe)", R"(\\?\UNC\srv\share\)"}));
    for (const char* rootless : {"xray.exe", R"(\\srv)", R"(\\srv\share)", "C:", R"(\\\share\x)"})
        EXPECT_TRUE(pathAndDirectoriesAbove(rootless).empty()) << rootless;
}

TEST(ToolTrustFiles, AFileUsersCanChangeOrThatIsMissingIsNamed) {
    orvik_test::TempDir dir;
    dir.write("xray/xray.exe", "MZ");  // ours, and we are no administrator to the check
    std::string error;
    EXPECT_FALSE(onlyAdministratorsCanChange(dir.file("xray/xray.exe"), error));
    EXPECT_EQ(error, *vpn::fullPathName(dir.file("xray/xray.exe")) + kUntrusted);
    EXPECT_FALSE(onlyAdministratorsCanChange(dir.file("xray/missing.exe"), error));
    EXPECT_EQ(error, *vpn::fullPathName(dir.file("xray/missing.exe")) + kUntrusted);
}

TEST(ToolTrustFiles, TheSystemsOwnProgramsPass) {
    if (orvik_test::underWine()) GTEST_SKIP() << "wine gives every file to the user";
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    std::string error;
    EXPECT_TRUE(onlyAdministratorsCanChange(vpn::narrow(system) + "\\cmd.exe", error)) << error;
}

}  // namespace
