// Running under the Service Control Manager, and installing and removing the service.
#include <windows.h>

#include <cstdio>
#include <string>

#include "service/service_context.h"
#include "vpn/text_win.h"

namespace service {
namespace {

constexpr const wchar_t* kServiceName = L"OrvikService";
constexpr const char* kDisplayName = "Velora连接服务";
constexpr const char* kDescription = "Velora数据通道：Xray + tun2socks。界面通过命名管道连接。";
constexpr DWORD kAcceptStopAndShutdown = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
constexpr int kStopPolls = 40;
constexpr DWORD kStopPollMs = 250;

// The SCM's callbacks carry no context of ours.
ServiceContext* scmContext = nullptr;
SERVICE_STATUS serviceStatus{};
SERVICE_STATUS_HANDLE statusHandle = nullptr;

void reportStatus(DWORD state, DWORD accepted, DWORD waitHint) {
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwControlsAccepted = accepted;
    serviceStatus.dwWin32ExitCode = NO_ERROR;
    serviceStatus.dwWaitHint = waitHint;
    SetServiceStatus(statusHandle, &serviceStatus);
}

DWORD WINAPI onServiceControl(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        reportStatus(SERVICE_STOP_PENDING, kAcceptStopAndShutdown, 4000);
        if (scmContext) requestStop(*scmContext);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, onServiceControl, nullptr);
    if (!statusHandle) return;
    reportStatus(SERVICE_START_PENDING, 0, 2000);
    ServiceContext& context = *scmContext;
    context.stopRequested = false;
    context.log.write("service running. runtime=" + context.runtimeDirectory);
    reportStatus(SERVICE_RUNNING, kAcceptStopAndShutdown, 0);
    serve(context);
    context.log.write("service stopped");
    reportStatus(SERVICE_STOPPED, kAcceptStopAndShutdown, 0);
}

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

std::wstring modulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

int createAndStart(SC_HANDLE manager, const std::wstring& commandLine) {
    SC_HANDLE created = CreateServiceW(manager, kServiceName, vpn::widen(kDisplayName).c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
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
    printOut("binPath " + vpn::narrow(commandLine) + "\n");
    return 0;
}

}  // namespace

std::string builtInRuntimeDirectory() { return "D:\\VPN\\tools\\phase-b\\local"; }

int runServiceMode(ServiceContext& context) {
    scmContext = &context;
    context.log.setEcho(false);
    context.shutdownEndsProcess = false;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), serviceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return 0;
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return runConsoleMode(context);
    return 1;
}

int installService(const std::string& runtimeDirectory) {
    const std::wstring commandLine = L"\"" + modulePath() + L"\" --runtime \"" + vpn::widen(runtimeDirectory) + L"\"";
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
        CloseServiceHandle(manager);
        printOut("Service not installed.\n");
        return 0;
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
