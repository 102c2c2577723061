#pragma once
// The firewall's life beside the tunnel's: engaged before a session starts and kept through a
// switch, lifted at the user's own disconnect, and after a failure kept or lifted as the kill
// switch says. The kill switch's intent is stored in a file of the service's own, so that a
// service that was killed, or a machine that restarted, keeps blocking until the user says.

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "service/tunnel/firewall.h"

namespace tunnel {

// The stored policy of a kill switch that holds, with the user it belongs to (none: anyone
// may lift it, as files of earlier versions say); empty text for a policy without one.
std::string killSwitchIntentText(const FirewallPolicy& policy, const std::optional<std::string>& owner);
// Reads what killSwitchIntentText wrote; false for anything else.
bool parseKillSwitchIntent(const std::string& text, FirewallPolicy& policy, std::optional<std::string>& owner);
// Where this platform keeps the intent: a place only the service can write.
std::string killSwitchIntentPath(const std::string& runtimeDirectory);

class LeakGuard {
public:
    using Log = std::function<void(const std::string&)>;
    // `intentPath`: a file only the service can write (root's / the administrators').
    LeakGuard(Firewall& firewall, std::string intentPath, Log log);

    // Our rules for `policy`, in place of any before (a switch keeps blocking throughout).
    // The kill switch's intent is stored, or removed, to match. False when the firewall
    // refused: then nothing may start.
    bool engage(const FirewallPolicy& policy, std::string& error);
    // The tunnel is gone without the user's word (a failure, a dying tool, the service ending
    // on its own): the block stays while the kill switch is on, else the rules go.
    void tunnelLost();
    // The user's disconnect, sign-out or quit: every rule of ours goes, and the intent. False
    // when the firewall refused (logged).
    bool release();
    // A kill switch an earlier run left standing is put (back) in place and blocking() is
    // true. Otherwise, with `mayRemove`, rules an earlier run left are removed: only a service
    // that holds the pipe may, or a second one started beside it would undo the first's.
    void reconcile(bool mayRemove);
    // True while the kill switch holds the block without a tunnel.
    bool blocking() const;
    // Whose the next engaged rules are (stored with a kill switch's intent), and whose the
    // block is while blocking(): only they, or an administrator, may lift it.
    void setOwner(const std::string& user);
    std::optional<std::string> blockOwner() const;

private:
    void storeIntent(const FirewallPolicy& policy);
    bool clearRules();

    Firewall& firewall_;
    std::string intentPath_;
    Log log_;
    mutable std::mutex mutex_;
    FirewallPolicy policy_;
    std::optional<std::string> owner_;
    bool engaged_ = false;
    bool blocking_ = false;
};

}  // namespace tunnel
