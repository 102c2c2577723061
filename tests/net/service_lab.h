#pragma once
// The real service in the machine of a RouterLab: the lab with the tool doubles and, signed in,
// the local account of its node 198.18.50.1; the pipe, which ORVIK_PIPE names while the test runs.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/environment.h"
#include "tests/support/netns_linux.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"

namespace net_test {

using orvik_test::kIdle;
using orvik_test::kUp;
using orvik_test::ServiceProcess;

class ServiceLab : public ::testing::Test {
protected:
    explicit ServiceLab(const std::vector<std::string>& nodes) : lab(nodes) {}
    void SetUp() override {
        if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_EQ(lab.error(), "");
        ASSERT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));
        orvik_test::LocalAccount{}.writeTo(lab);
    }
    // The service on the lab's runtime directory, once it serves.
    std::unique_ptr<ServiceProcess> launch(std::vector<std::string> arguments = {"--console"}) {
        arguments.insert(arguments.end(), {"--runtime", lab.root()});
        auto service = std::make_unique<ServiceProcess>(ORVIK_SERVICE_EXE, arguments, lab.root() + "/out.txt");
        EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << lab.read("out.txt");
        return service;
    }
    std::string ask(const std::string& message) { return orvik_test::request(pipe, message).value_or("no reply"); }

    orvik_test::RouterLab lab;
    std::string pipe = orvik_test::uniquePipeName(lab.root());
    orvik_test::ScopedEnvironment pipeVariable{"ORVIK_PIPE", pipe};
};

}  // namespace net_test
