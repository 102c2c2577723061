#pragma once
// Test fixture for the panel client: the scripted panel, a directory for session.json and
// clients on them, signed out or with the member's session.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fake_panel.h"
#include "tests/support/temp_dir.h"
#include "vpn/xboard_control_plane.h"

namespace orvik_test {

class XboardTest : public ::testing::Test {
protected:
    std::unique_ptr<vpn::XboardControlPlane> client(const std::string& deviceApi = {}) const {
        return std::make_unique<vpn::XboardControlPlane>(panel.apiBase(), dir.file("session.json"), deviceApi);
    }
    // A client restored from session.json; the requests it makes are the only ones logged.
    std::unique_ptr<vpn::XboardControlPlane> signedIn(const std::string& deviceApi = {}) {
        dir.write("session.json", std::string("{\"email\":\"") + FakePanel::kEmail + "\",\"auth_data\":\"" +
                                      FakePanel::kSession + "\"}\n");
        panel.clearRequests();
        return client(deviceApi);
    }

    FakePanel panel;
    TempDir dir;
};

}  // namespace orvik_test
