#pragma once
// Test fixture for the panel client: a fake panel, a runtime directory and clients built on
// them, signed out or with a session the panel knows.

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fake_panel.h"
#include "tests/support/temp_dir.h"
#include "vpn/xboard_control_plane.h"

namespace orvik_test {

class XboardTest : public ::testing::Test {
protected:
    std::string sessionPath() const { return dir.file("session.json"); }

    std::unique_ptr<vpn::XboardControlPlane> client(const std::string& deviceApi = {}) const {
        return std::make_unique<vpn::XboardControlPlane>(panel.apiBase(), sessionPath(), deviceApi);
    }

    // A client restored from session.json with a fresh panel session of the member.
    std::unique_ptr<vpn::XboardControlPlane> signedIn(const std::string& deviceApi = {}) {
        const std::string session = panel.openSession(FakePanel::kEmail);
        dir.write("session.json", std::string("{\"email\":\"") + FakePanel::kEmail +
                                      "\",\"auth_data\":\"" + session + "\"}\n");
        auto signedInClient = client(deviceApi);
        EXPECT_EQ(signedInClient->token(), session);
        return signedInClient;
    }

    FakePanel panel;
    TempDir dir;
};

}  // namespace orvik_test
