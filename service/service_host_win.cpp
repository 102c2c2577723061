// Running under the Service Control Manager, and installing and removing the service.
#include "service/service_host_win.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/service_context.h"
#include "service/service_status_win.h"
#include "service/tunnel/tool_trust.h"
#include "vpn/command_line_quote.h"
#include "vpn/text_win.h"

namespace service {
namespace {

constexpr const wchar_t* kServiceName = L"OrvikService";
constexpr const char* kDisplayName = "Velora连接服务";
constexpr const char* kDescription = "Velora数据通道：Xray + tun2socks。界面通过命名管道连接。";
// Power events: a resume from sleep may find another network (or none).
constexpr DWORD kAcceptStopAndShutdown = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT;
constexpr DWORD kStopWaitHintMs = 4000;
constexpr std::chrono::seconds kStopProgressInterval{1};
constexpr int kStopPolls = 40;
constexpr DWORD kStopPollMs = 250;

// The SCM's callbacks carry no context of ours.
ServiceContext* scmContext = nullptr;
ServiceStatusReporter* statusReporter = nullptr;
SERVICE_STATUS_HANDLE statusHandle = nullptr;

DWORD WINAPI onServiceControl(DWORD control, DWORD eventType, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_POWEREVENT && eventType == PBT_APMRESUMEAUTOMATIC && scmContext &&
        scmContext->resumed) {
        scmContext->resumed();
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        statusReporter->stopPending(kAcceptStopAndShutdown, kStopWaitHintMs);
        if (scmContext) requestStop(*scmContext);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, onServiceControl, nullptr);
    if (!statusHandle) return;
    statusReporter->report(SERVICE_START_PENDING, 0, 2000);
    ServiceContext& context = *scmContext;
    context.stopRequested = false;
    context.log.write("service running. runtime=" + context.runtimeDirectory);
    statusReporter->report(SERVICE_RUNNING, kAcceptStopAndShutdown, 0);
    const bool served = serve(context);
    context.log.write("service stopped");
    // Another process holding the pipe's name shows in the service manager as busy pipes.
    statusReporter->report(SERVICE_STOPPED, kAcceptStopAndShutdown, 0, served ? NO_ERROR : ERROR_PIPE_BUSY);
}

void print(const HostOutcome& outcome) { std::fputs(outcome.text.c_str(), outcome.toStandardError ? stderr : stdout); }
void printOut(const std::string& text) { std::fputs(text.c_str(), stdout); }
void printError(const std::string& text) { std::fputs(text.c_str(), stderr); }
std::string lastErrorText() { return std::to_string(GetLastError()); }

// Asks the installed service to stop and waits up to 10 s; callers delete it either way.
void stopInstalled(SC_HANDLE serviceHandle) {
    SERVICE_STATUS status{};
    ControlService(serviceHandle, SERVICE_CONTROL_STOP, &status);
    for (int poll = 0; poll < kStopPolls; ++poll) {
        if (!QueryServiceStatus(serviceHandle, &status)) return;
        if (status.dwCurrentState == SERVICE_STOPPED) return;
        Sleep(kStopPollMs);
    }
}

std::string modulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return vpn::narrow(path);
}

int createAndStart(SC_HANDLE manager, const std::string& commandLine) {
    SC_HANDLE created = CreateServiceW(manager, kServiceName, vpn::widen(kDisplayName).c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       vpn::widen(commandLine).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!created) {
        printError("CreateService failed err=" + lastErrorText() + "\n");
        return 1;
    }
    std::wstring description = vpn::widen(kDescription);
    SERVICE_DESCRIPTIONW config{description.data()};
    ChangeServiceConfig2W(created, SERVICE_CONFIG_DESCRIPTION, &config);
    if (!StartServiceW(created, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        printError("StartService failed err=" + lastErrorText() + "\n");
        CloseServiceHandle(created);
        return 1;
    }
    CloseServiceHandle(created);
    printOut("Installed and started " + vpn::narrow(kServiceName) + "\n");
    printOut("binPath " + commandLine + "\n");
    return 0;
}

// The console's own code page, given back at exit: the console outlives us and the programs
// that print to it after us expect their code page, not ours. 0: nothing to give back.
UINT consoleCodePageBefore = 0;

}  // namespace

HostOutcome uninstallOpenFailure(unsigned long error) {
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return {0, false, "Service not installed.\n"};
    return {1, true, "OpenService failed err=" + std::to_string(error) + "\n"};
}

std::string serviceCommandLine(const std::string& executable, const std::string& runtimeDirectory) {
    return vpn::quotedArgument(executable) + " --runtime " + vpn::quotedArgument(runtimeDirectory);
}

void prepareConsole() {
    static const bool saved = [] {
        consoleCodePageBefore = GetConsoleOutputCP();  // 0 without a console
        std::atexit(restoreConsoleCodePage);
        return true;
    }();
    (void)saved;
    SetConsoleOutputCP(CP_UTF8);
}

void restoreConsoleCodePage() {
    if (consoleCodePageBefore != 0) SetConsoleOutputCP(consoleCodePageBefore);
    consoleCodePageBefore = 0;
}

bool toolsMustBeTrusted(Mode mode) { return mode == Mode::service; }

std::string builtInRuntimeDirectory() { return "D:\\VPN\\tools\\phase-b\\local"; }

int runServiceMode(ServiceContext& context) {
    ServiceStatusReporter reporter([](const SERVICE_STATUS& status) {
        SERVICE_STATUS copy = status;
        SetServiceStatus(statusHandle, &copy);
    }, kStopProgressInterval);
    scmContext = &context;
    statusReporter = &reporter;
    context.log.setEcho(false);
    context.shutdownEndsProcess = false;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), serviceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return 0;
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return runConsoleMode(context);
    return 1;
}

int installService(const std::string& runtimeDirectory) {
    // The service runs this file as SYSTEM: nobody else may be able to replace it.
    const std::string executable = modulePath();
    std::string untrusted;
    if (!tunnel::onlyAdministratorsCanChange(executable, untrusted)) {
        printError("Install refused: " + untrusted + "\n");
        return 1;
    }
    const std::string commandLine = serviceCommandLine(executable, runtimeDirectory);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        printError("OpenSCManager failed err=" + lastErrorText() + " (need Administrator)\n");
        return 1;
    }
    if (SC_HANDLE existing = OpenServiceW(manager, kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS)) {
        stopInstalled(existing);
        DeleteService(existing);
        CloseServiceHandle(existing);
        Sleep(400);
    }
    const int code = createAndStart(manager, commandLine);
    CloseServiceHandle(manager);
    return code;
}

int uninstallService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        printError("OpenSCManager failed err=" + lastErrorText() + " (need Administrator)\n");
        return 1;
    }
    SC_HANDLE existing = OpenServiceW(manager, kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!existing) {
        const HostOutcome outcome = uninstallOpenFailure(GetLastError());
        CloseServiceHandle(manager);
        print(outcome);
        return outcome.exitCode;
    }
    stopInstalled(existing);
    int code = 0;
    if (DeleteService(existing)) {
        printOut("Uninstalled " + vpn::narrow(kServiceName) + "\n");
    } else {
        printError("DeleteService failed err=" + lastErrorText() + "\n");
        code = 1;
    }
    CloseServiceHandle(existing);
    CloseServiceHandle(manager);
    return code;
}

}  // namespace service
