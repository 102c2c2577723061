#pragma once
// Shared by the account controller's tests: a directory with a local account or the
// scripted panel, a settings file of its own, a recorder of opened pages, and a probe round
// the real control plane that counts the calls and can hold fetches and order checks.

#include <QSettings>
#include <QUrl>
#include <QtTest>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/account/account_controller.h"
#include "tests/support/fake_panel.h"
#include "tests/support/temp_dir.h"
#include "vpn/local_control_plane.h"
#include "vpn/xboard_control_plane.h"

namespace account_test {

inline constexpr int kWait = 10000;
inline QString qs(const char* text) { return QString::fromUtf8(text); }

// A door the test opens; calls that meet it closed wait (bounded, so a failing test ends).
struct Gate {
    void set(bool open) {
        std::lock_guard<std::mutex> lock(mutex);
        open_ = open;
        changed.notify_all();
    }
    void pass() {
        std::unique_lock<std::mutex> lock(mutex);
        ++waiting_;
        changed.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
        --waiting_;
    }
    int waiting() {
        std::lock_guard<std::mutex> lock(mutex);
        return waiting_;
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool open_ = true;
    int waiting_ = 0;
};

enum Call { Login, Fetch, Logout, Options, Email, Register, Plans, Buy, Check, Claim, CallCount };

struct Probe {
    std::array<std::atomic<int>, CallCount> calls{};
    std::atomic<int> inside{0};      // calls running now
    std::atomic<int> mostInside{0};  // the most that ever ran at once
    Gate fetchGate;
    Gate checkGate;  // order checks and device claims
    int count(Call call) const { return calls[call].load(); }
};

// Forwards to a real control plane, counting calls, noting overlaps and holding calls at the
// probe's gates.
class ProbedPlane final : public vpn::ControlPlane {
public:
    ProbedPlane(std::unique_ptr<vpn::ControlPlane> real, std::shared_ptr<Probe> probe) : r_(std::move(real)), p_(std::move(probe)) {}
    using S = std::string;
    bool login(const S& e, const S& p, S& error) override { return run(Login, [&] { return r_->login(e, p, error); }); }
    bool fetchAccount(vpn::AccountRecord& a, S& error) override {
        return run(Fetch, [&] { return p_->fetchGate.pass(), r_->fetchAccount(a, error); });
    }
    void logout() override { run(Logout, [&] { return r_->logout(), true; }); }
    bool fetchRegisterOptions(vpn::RegisterOptions& o, S& error) override {
        return run(Options, [&] { return r_->fetchRegisterOptions(o, error); });
    }
    bool sendRegisterEmail(const S& e, S& error) override { return run(Email, [&] { return r_->sendRegisterEmail(e, error); }); }
    bool registerAccount(const S& e, const S& p, const S& i, const S& c, S& error) override {
        return run(Register, [&] { return r_->registerAccount(e, p, i, c, error); });
    }
    bool fetchPlans(std::vector<vpn::PlanOffer>& o, S& error) override { return run(Plans, [&] { return r_->fetchPlans(o, error); }); }
    bool buyPlan(int32_t id, const S& period, vpn::CheckoutResult& result, S& error) override {
        return run(Buy, [&] { return r_->buyPlan(id, period, result, error); });
    }
    bool checkOrder(const S& tradeNo, bool& paid, S& error) override {
        return run(Check, [&] { return p_->checkGate.pass(), r_->checkOrder(tradeNo, paid, error); });
    }
    bool claimDevice(const S& id, int32_t& used, int32_t& limit, S& error) override {
        return run(Claim, [&] { return p_->checkGate.pass(), r_->claimDevice(id, used, limit, error); });
    }

private:
    template <class F>
    bool run(Call call, F forward) {
        ++p_->calls[call];
        const int now = ++p_->inside;
        for (int most = p_->mostInside.load(); now > most && !p_->mostInside.compare_exchange_weak(most, now);) {
        }
        const bool ok = forward();
        --p_->inside;
        return ok;
    }

    std::unique_ptr<vpn::ControlPlane> r_;
    std::shared_ptr<Probe> p_;
};

inline std::string localAccountJson(const std::string& expireAt) {
    return R"({"email":"demo@velora.local","password":"velora-pass","expireAt":")" + expireAt +
           R"(","deviceLimit":3,"nodeName":" Local demo node ","address":"198.18.0.2","port":443,)"
           R"("uuid":"b831381d-6324-4d53-ad4f-8cda48b30811","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw"})";
}

// One test's world: its directory, settings file, probe, the pages it was asked to open and
// the controller's options (a test may change them before making the controller).
struct World {
    orvik_test::TempDir dir;
    std::shared_ptr<Probe> probe = std::make_shared<Probe>();
    std::shared_ptr<std::vector<QUrl>> opened = std::make_shared<std::vector<QUrl>>();
    AccountController::Options options{.remotePanel = true,
                                       .settingsFile = QString::fromStdString(dir.file("settings.ini")),
                                       .openUrl = [pages = opened](const QUrl& url) { return pages->push_back(url), true; },
                                       .orderPollIntervalMs = 20};  // a whole wait for a payment takes a fraction of a second

    void setInteractive(bool value) const { QSettings(options.settingsFile, QSettings::IniFormat).setValue("account/interactiveLogin", value); }
    QVariant interactive() const { return QSettings(options.settingsFile, QSettings::IniFormat).value("account/interactiveLogin"); }

    std::unique_ptr<AccountController> make(std::unique_ptr<vpn::ControlPlane> real, AccountController::Options o) const {
        return std::make_unique<AccountController>(std::make_unique<ProbedPlane>(std::move(real), probe), std::move(o));
    }
    // Over account.json and session.json of the directory.
    std::unique_ptr<AccountController> local() const {
        AccountController::Options o = options;
        o.remotePanel = false;
        return make(std::make_unique<vpn::LocalControlPlane>(dir.file("account.json"), dir.file("session.json")), o);
    }
    // Over the panel; with `signedIn`, session.json holds the member's session.
    std::unique_ptr<AccountController> panel(const orvik_test::FakePanel& fake, bool signedIn, const std::string& deviceApi = {}) const {
        if (signedIn)
            dir.write("session.json", std::string(R"({"email":"member@example.com","auth_data":")") + fake.kSession + "\"}\n");
        return make(std::make_unique<vpn::XboardControlPlane>(fake.apiBase(), dir.file("session.json"), deviceApi), options);
    }
    // Signed in interactively before, restored with the member's session; null when the
    // restore does not sign in.
    std::unique_ptr<AccountController> member(const orvik_test::FakePanel& fake, const std::string& deviceApi = {}) const {
        setInteractive(true);
        auto account = panel(fake, true, deviceApi);
        return QTest::qWaitFor([&] { return account->loggedIn(); }, kWait) ? std::move(account) : nullptr;
    }
};

}  // namespace account_test
