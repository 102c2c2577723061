#pragma once
// The local account and the signed-in session of the user running the tests, relative to a
// runtime directory (for TempDir): "session.json" on Windows, "state/<uid>/session.json" on Linux.

#include <string>

#include "vpn/state_location.h"

namespace orvik_test {

inline std::string sessionFile() {
    const std::string runtime = "runtime";
    return vpn::sessionFilePath(runtime).substr(runtime.size() + 1);
}

// account.json of a local account: its user and one node.
struct LocalAccount {
    std::string address = "198.18.50.1";
    int port = 443;
    std::string name = "lab";
    std::string email = "lab@example.com";
    std::string password = "pw";
    std::string expireAt = "2099-12-31";

    std::string json() const {
        return R"({"email":")" + email + R"(","password":")" + password + R"(","expireAt":")" + expireAt +
               R"(","deviceLimit":3,"nodeName":")" + name + R"(","address":")" + address + R"(","port":)" +
               std::to_string(port) + R"(,"uuid":"3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b","sni":"www.example.com",)"
               R"("publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw","shortId":"6ba85179e30d4fc2"})";
    }
    // The session its user has once signed in.
    std::string session() const { return R"({"email":")" + email + R"(","expireAt":")" + expireAt + "\"}\n"; }
    // Both into a runtime directory (a TempDir or a RouterLab's), the session when `signedIn`.
    template <class Runtime>
    void writeTo(const Runtime& runtime, bool signedIn = true) const {
        runtime.write("account.json", json());
        if (signedIn) runtime.write(sessionFile(), session());
    }
};

}  // namespace orvik_test
