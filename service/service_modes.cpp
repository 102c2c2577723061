// Console and daemon modes, and the pieces every running mode shares.
#include "service/service_context.h"

#include "vpn/system.h"

namespace service {

void requestStop(ServiceContext& context) {
    context.stopRequested.exchange(true);
    if (context.listener) context.listener->wake();
}

void setRuntimeDirectory(ServiceContext& context, const std::string& directory) {
    if (directory.empty()) return;
    context.runtimeDirectory = directory;
    context.log.setPath(vpn::joinPath(directory, "orvik-service.log"));
}

bool serve(ServiceContext& context) {
    RequestContext requests{context.log, *context.engine, context.stopRequested, context.shutdownEndsProcess};
    if (runPipeServer(context.runtimeDirectory, *context.listener, requests)) return true;
    context.log.write("pipe " + context.pipeName +
                      " is held by another process or lies in a folder others can change; not serving");
    return false;
}

int runConsoleMode(ServiceContext& context) {
    prepareConsole();
    context.log.setEcho(true);
    context.stopRequested = false;
    context.shutdownEndsProcess = true;
    const std::unique_ptr<StopWatch> consoleStop = watchConsoleStop(context);
    context.log.write("OrvikService console mode. Pipe " + context.pipeName);
    context.log.write("Runtime " + context.runtimeDirectory);
    context.log.write("Ctrl+C to stop.");
    if (!serve(context)) return 1;
    context.log.write("stopped.");
    return 0;
}

int runDaemonMode(ServiceContext& context) {
    context.log.setEcho(false);
    context.stopRequested = false;
    context.shutdownEndsProcess = true;
    const std::unique_ptr<StopWatch> detached = detachFromConsole(context);
    context.log.write("daemon mode. runtime=" + context.runtimeDirectory);
    std::unique_ptr<StopWatch> owner;
    if (context.ownerPid != 0) owner = watchOwner(context);
    if (!serve(context)) return 1;
    context.log.write("daemon stopped");
    return 0;
}

}  // namespace service
