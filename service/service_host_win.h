#pragma once
// The decisions of the Windows service host that do not need the service manager (Windows only).

#include <string>

namespace service {

// What a command prints and returns.
struct HostOutcome {
    int exitCode = 0;
    bool toStandardError = false;
    std::string text;
};

// --uninstall when OpenServiceW failed with `error`: only a service that does not exist is
// "not installed" (exit 0); anything else, such as access denied without administrator
// rights, is a failure with its code.
HostOutcome uninstallOpenFailure(unsigned long error);

// The command line the service manager starts the service with: the executable and
// "--runtime" with the directory, each quoted for the C runtime.
std::string serviceCommandLine(const std::string& executable, const std::string& runtimeDirectory);

// Gives the console back the output code page it had before prepareConsole (also done at
// exit); call before leaving a console that others keep using.
void restoreConsoleCodePage();

}  // namespace service
