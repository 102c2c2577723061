#pragma once
// Fixture for the panel client: the scripted panel, session.json's directory, clients, the last error.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fake_panel.h"
#include "tests/support/temp_dir.h"
#include "vpn/xboard_control_plane.h"

namespace orvik_test {

class XboardTest : public ::testing::Test {
protected:
    std::unique_ptr<vpn::XboardControlPlane> client(const std::string& devices = {}) const {
        return std::make_unique<vpn::XboardControlPlane>(panel.apiBase(), dir.file("session.json"), devices);
    }
    // A client restored from session.json; the requests it makes are the only ones logged.
    std::unique_ptr<vpn::XboardControlPlane> signedIn(const std::string& deviceApi = {}) {
        const Json session = {{"email", FakePanel::kEmail}, {"auth_data", FakePanel::kSession}};
        dir.write("session.json", session.dump());
        panel.clearRequests();
        return client(deviceApi);
    }

    FakePanel panel;
    TempDir dir;
    std::string error;
};

}  // namespace orvik_test
