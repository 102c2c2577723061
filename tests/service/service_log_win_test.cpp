// The service log on Windows takes lines only in a plain file: a device or a pipe put in the
// log's place (the name is all the service has) gets nothing and holds nothing up.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "service/service_log.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ServiceLogWin, OnlyAPlainFileTakesLines) {
    orvik_test::TempDir dir;
    EXPECT_TRUE(service::appendLogLine(dir.file("orvik-service.log"), "ipc op=status"));
    EXPECT_EQ(dir.read("orvik-service.log"), "ipc op=status\n");
    EXPECT_FALSE(service::appendLogLine("NUL", "ipc op=status"));

    const std::string pipe = "\\\\.\\pipe\\orvik-test-log-" + std::to_string(GetCurrentProcessId());
    const std::wstring widePipe(pipe.begin(), pipe.end());
    HANDLE server = CreateNamedPipeW(widePipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(service::appendLogLine(pipe, "ipc op=status"));
    DWORD waiting = 0;
    PeekNamedPipe(server, nullptr, 0, nullptr, &waiting, nullptr);
    EXPECT_EQ(waiting, 0u) << "nothing was written into the pipe";
    CloseHandle(server);
}

}  // namespace
