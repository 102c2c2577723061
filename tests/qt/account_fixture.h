#pragma once
// Shared by the account controller's tests: a runtime directory with a local account or a
// fake panel, a settings file of their own, a recorder of opened pages, and a wrapper round
// the real control plane that counts the calls and can hold some of them back.

#include <QSettings>
#include <QString>
#include <QUrl>
#include <QtTest>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/account/account_controller.h"
#include "tests/support/fake_panel.h"
#include "tests/support/temp_dir.h"
#include "vpn/local_control_plane.h"
#include "vpn/xboard_control_plane.h"

namespace account_test {

// A door the test opens; calls that meet it closed wait (bounded, so a failing test ends).
class Gate {
public:
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    void open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
        --waiting_;
    }
    int waiting() {
        std::lock_guard<std::mutex> lock(mutex_);
        return waiting_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

enum Call { Login, Fetch, Logout, Options, Email, Register, Plans, Buy, Check, Claim, CallCount };

struct Probe {
    std::array<std::atomic<int>, CallCount> calls{};
    std::atomic<int> inside{0};      // calls running now
    std::atomic<int> mostInside{0};  // the most that ever ran at once
    Gate fetchGate;
    Gate checkGate;
    int count(Call call) const { return calls[call].load(); }
};

// Forwards to a real control plane, counting and optionally holding calls.
class ProbedPlane final : public vpn::ControlPlane {
public:
    ProbedPlane(std::unique_ptr<vpn::ControlPlane> real, std::shared_ptr<Probe> probe)
        : real_(std::move(real)), probe_(std::move(probe)) {}

    bool login(const std::string& e, const std::string& p, std::string& error) override {
        Scope s(*this, Login);
        return real_->login(e, p, error);
    }
    bool fetchAccount(vpn::AccountRecord& account, std::string& error) override {
        Scope s(*this, Fetch);
        probe_->fetchGate.pass();
        return real_->fetchAccount(account, error);
    }
    void logout() override {
        Scope s(*this, Logout);
        real_->logout();
    }
    bool fetchRegisterOptions(vpn::RegisterOptions& options, std::string& error) override {
        Scope s(*this, Options);
        return real_->fetchRegisterOptions(options, error);
    }
    bool sendRegisterEmail(const std::string& email, std::string& error) override {
        Scope s(*this, Email);
        return real_->sendRegisterEmail(email, error);
    }
    bool registerAccount(const std::string& e, const std::string& p, const std::string& i,
                         const std::string& c, std::string& error) override {
        Scope s(*this, Register);
        return real_->registerAccount(e, p, i, c, error);
    }
    bool fetchPlans(std::vector<vpn::PlanOffer>& offers, std::string& error) override {
        Scope s(*this, Plans);
        return real_->fetchPlans(offers, error);
    }
    bool buyPlan(int32_t id, const std::string& period, vpn::CheckoutResult& result,
                 std::string& error) override {
        Scope s(*this, Buy);
        return real_->buyPlan(id, period, result, error);
    }
    bool checkOrder(const std::string& tradeNo, bool& paid, std::string& error) override {
        Scope s(*this, Check);
        probe_->checkGate.pass();
        return real_->checkOrder(tradeNo, paid, error);
    }
    bool claimDevice(const std::string& id, int32_t& used, int32_t& limit, std::string& error) override {
        Scope s(*this, Claim);
        return real_->claimDevice(id, used, limit, error);
    }

private:
    struct Scope {
        Scope(ProbedPlane& plane, Call call) : probe(*plane.probe_) {
            ++probe.calls[call];
            const int now = ++probe.inside;
            int most = probe.mostInside.load();
            while (now > most && !probe.mostInside.compare_exchange_weak(most, now)) {
            }
        }
        ~Scope() { --probe.inside; }
        Probe& probe;
    };

    std::unique_ptr<vpn::ControlPlane> real_;
    std::shared_ptr<Probe> probe_;
};

inline std::string localAccountJson(const std::string& expireAt) {
    return "{\"email\":\"demo@velora.local\",\"password\":\"velora-pass\",\"expireAt\":\"" + expireAt +
           "\",\"deviceLimit\":3,\"nodeName\":\" Local demo node \",\"address\":\"198.18.0.2\","
           "\"port\":443,\"uuid\":\"b831381d-6324-4d53-ad4f-8cda48b30811\",\"sni\":\"www.example.com\","
           "\"publicKey\":\"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw\",\"shortId\":\"6ba85179e30d4fc2\"}\n";
}

// The panel's clock as the real one, and the member's plan ending in 30 days by it.
inline void resetPanelClock(orvik_test::FakePanel& panel) {
    panel.edit([](orvik_test::FakePanelState& state) { state.clockOffset = 0; });
    const int64_t end = panel.now() + 30 * 86400;
    panel.edit([end](orvik_test::FakePanelState& state) {
        state.user(orvik_test::FakePanel::kEmail)->expiredAt = end;
    });
}

// One test's world: its directory, settings file, probe and the pages it was asked to open.
struct World {
    orvik_test::TempDir dir;
    std::shared_ptr<Probe> probe = std::make_shared<Probe>();
    std::shared_ptr<std::vector<QUrl>> opened = std::make_shared<std::vector<QUrl>>();

    QString settingsFile() const { return QString::fromStdString(dir.file("settings.ini")); }
    std::string sessionPath() const { return dir.file("session.json"); }

    void setInteractive(bool value) const {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("account/interactiveLogin"), value);
    }
    QVariant interactive() const {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        return settings.value(QStringLiteral("account/interactiveLogin"));
    }

    AccountController::Options options(bool remotePanel) const {
        AccountController::Options options;
        options.remotePanel = remotePanel;
        options.settingsFile = settingsFile();
        auto pages = opened;
        options.openUrl = [pages](const QUrl& url) {
            pages->push_back(url);
            return true;
        };
        return options;
    }

    std::unique_ptr<AccountController> make(std::unique_ptr<vpn::ControlPlane> real,
                                            AccountController::Options options) const {
        auto plane = std::make_unique<ProbedPlane>(std::move(real), probe);
        return std::make_unique<AccountController>(std::move(plane), std::move(options));
    }

    // Over account.json and session.json of the directory.
    std::unique_ptr<AccountController> local(AccountController::Options options) const {
        return make(std::make_unique<vpn::LocalControlPlane>(dir.file("account.json"), sessionPath()),
                    std::move(options));
    }
    std::unique_ptr<AccountController> local() const { return local(options(false)); }

    // Over the fake panel; with `signedIn`, session.json holds a session the panel knows.
    std::unique_ptr<AccountController> panel(orvik_test::FakePanel& fake, bool signedIn,
                                             AccountController::Options options,
                                             const std::string& deviceApi = {}) const {
        resetPanelClock(fake);
        if (signedIn) {
            const std::string session = fake.openSession(orvik_test::FakePanel::kEmail);
            dir.write("session.json", std::string("{\"email\":\"") + orvik_test::FakePanel::kEmail +
                                          "\",\"auth_data\":\"" + session + "\"}\n");
        }
        return make(std::make_unique<vpn::XboardControlPlane>(fake.apiBase(), sessionPath(), deviceApi),
                    std::move(options));
    }
    std::unique_ptr<AccountController> panel(orvik_test::FakePanel& fake, bool signedIn) const {
        return panel(fake, signedIn, options(true));
    }
};

}  // namespace account_test
