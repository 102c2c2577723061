#pragma once
// Shared by the account controller's tests: a directory with a local account or the scripted
// panel, a settings file, the opened pages, and a probe round the real control plane that
// counts the calls and can hold fetches and order checks.

#include <QSettings>
#include <QUrl>
#include <QtTest>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/account/account_controller.h"
#include "tests/support/fake_panel.h"
#include "tests/support/session_file.h"
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
    Gate checkGate;                  // holds order checks and device claims
    int count(Call call) const { return calls[call].load(); }
};

// Forwards to a real control plane, counting calls, noting overlaps and holding calls at the
// probe's gate.
class ProbedPlane final : public vpn::ControlPlane {
public:
    using S = std::string;
    using P = vpn::ControlPlane;
    ProbedPlane(std::unique_ptr<P> real, std::shared_ptr<Probe> probe) : r_(std::move(real)), p_(std::move(probe)) {}
    bool login(const S& e, const S& p, S& err) override { return run(Login, &P::login, e, p, err); }
    bool fetchAccount(vpn::AccountRecord& a, S& err) override { return run(Fetch, &P::fetchAccount, a, err); }
    void logout() override { run(Logout, [](P& real) { return real.logout(), true; }); }
    bool fetchRegisterOptions(vpn::RegisterOptions& o, S& err) override {
        return run(Options, &P::fetchRegisterOptions, o, err);
    }
    bool sendRegisterEmail(const S& e, S& err) override { return run(Email, &P::sendRegisterEmail, e, err); }
    bool registerAccount(const S& e, const S& p, const S& i, const S& c, S& err) override {
        return run(Register, &P::registerAccount, e, p, i, c, err);
    }
    bool fetchPlans(std::vector<vpn::PlanOffer>& o, S& err) override { return run(Plans, &P::fetchPlans, o, err); }
    bool buyPlan(int32_t id, const S& period, vpn::CheckoutResult& r, S& err) override {
        return run(Buy, &P::buyPlan, id, period, r, err);
    }
    bool checkOrder(const S& no, bool& paid, S& err) override { return run(Check, &P::checkOrder, no, paid, err); }
    bool claimDevice(const S& id, int32_t& used, int32_t& limit, S& err) override {
        return run(Claim, &P::claimDevice, id, used, limit, err);
    }

private:
    template <class Method, class... Args>
    bool run(Call call, Method method, Args&... args) {
        ++p_->calls[call];
        const int now = ++p_->inside;
        for (int most = p_->mostInside.load(); now > most && !p_->mostInside.compare_exchange_weak(most, now);) {
        }
        if (call == Check || call == Claim) p_->checkGate.pass();
        const bool ok = std::invoke(method, *r_, args...);
        --p_->inside;
        return ok;
    }

    std::unique_ptr<P> r_;
    std::shared_ptr<Probe> p_;
};

// One test's world: its directory, settings file, probe, the pages it was asked to open and
// the controller's options (a test may change them before making the controller).
struct World {
    orvik_test::TempDir dir;
    std::shared_ptr<Probe> probe = std::make_shared<Probe>();
    std::shared_ptr<std::vector<QUrl>> opened = std::make_shared<std::vector<QUrl>>();
    AccountController::Options options{
        .remotePanel = true,
        .settingsFile = QString::fromStdString(dir.file("settings.ini")),
        .openUrl = [pages = opened](const QUrl& url) { return pages->push_back(url), true; },
        .orderPollIntervalMs = 20};  // a whole wait for a payment takes a fraction of a second

    // The stored mark of an interactive sign-in; `set` writes it.
    QVariant interactive(const QVariant& set = {}) const {
        QSettings settings(options.settingsFile, QSettings::IniFormat);
        if (set.isValid()) settings.setValue("account/interactiveLogin", set);
        return settings.value("account/interactiveLogin");
    }

    std::unique_ptr<AccountController> make(std::unique_ptr<vpn::ControlPlane> real,
                                            const AccountController::Options& o) const {
        return std::make_unique<AccountController>(std::make_unique<ProbedPlane>(std::move(real), probe), o);
    }
    // A local account ending at `expireAt`, signed in by the back end before any controller exists.
    bool signedInLocally(const std::string& expireAt) const {
        dir.write("account.json", orvik_test::LocalAccount{.address = "198.18.0.2", .name = " Local demo node ",
                                                           .email = "demo@velora.local", .password = "velora-pass",
                                                           .expireAt = expireAt}.json());
        std::string error;
        return vpn::LocalControlPlane(dir.file("account.json"), dir.file("session.json"))
            .login("demo@velora.local", "velora-pass", error);
    }
    // Over account.json and session.json of the directory.
    std::unique_ptr<AccountController> local() const {
        AccountController::Options o = options;
        o.remotePanel = false;
        return make(std::make_unique<vpn::LocalControlPlane>(dir.file("account.json"), dir.file("session.json")), o);
    }
    // Over the panel; with `signedIn`, session.json holds the member's session.
    std::unique_ptr<AccountController> panel(const orvik_test::FakePanel& fake, bool signedIn,
                                             const std::string& deviceApi = {}) const {
        const std::string session = R"({"email":"member@example.com","auth_data":")" + std::string(fake.kSession);
        if (signedIn) dir.write("session.json", session + "\"}\n");
        return make(std::make_unique<vpn::XboardControlPlane>(fake.apiBase(), dir.file("session.json"), deviceApi),
                    options);
    }
};

// The scripted panel and a controller over it once restoring has ended: signed in as its member
// (interactively before) unless `guest`, null when that fails; with `devices`, over the panel's
// device service.
struct Member {
    explicit Member(int orderPolls = 45, bool devices = false, bool guest = false) {
        world.options.orderPolls = orderPolls;
        if (!guest) world.interactive(true);
        account = world.panel(panel, !guest, devices ? panel.deviceApi() : std::string());
        const auto ready = [&] { return !account->restoring() && account->loggedIn() != guest; };
        if (!QTest::qWaitFor(ready, kWait)) account.reset();
    }
    orvik_test::FakePanel panel;
    World world;
    std::unique_ptr<AccountController> account;
};

}  // namespace account_test
