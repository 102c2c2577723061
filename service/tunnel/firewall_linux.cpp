// The firewall as one nftables table of ours ("inet orvik"), written as an nft script and
// loaded through libnftables: a script is one transaction, so the table is replaced whole.
// Only our table is ever named; the kernel keeps it when the service dies (fail closed).
#include "service/tunnel/firewall.h"

#include <nftables/libnftables.h>

#include <memory>

#include "service/tunnel/leak_guard.h"

namespace tunnel {
namespace {

// "add" first makes "delete" succeed when the table is missing, in the same transaction.
constexpr const char* kRemoveTable = "add table inet orvik\ndelete table inet orvik\n";

bool isSafeName(const std::string& name) {
    if (name.empty() || name.size() > 15) return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool isSafeAddress(const std::string& text) {
    if (text.empty() || text.size() > 45) return false;
    for (const char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
                        c == ':';
        if (!ok) return false;
    }
    return true;
}

template <typename T>
std::string set(const std::vector<T>& values) {
    std::string text = "{ ";
    for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + std::to_string(values[i]);
    return text + " }";
}

std::string transportMatch(Transport transport) {
    switch (transport) {
    case Transport::any: return "";
    case Transport::tcp: return "meta l4proto tcp ";
    case Transport::udp: return "meta l4proto udp ";
    case Transport::tcpOrUdp: return "meta l4proto { tcp, udp } ";
    case Transport::icmpv6: return "meta l4proto ipv6-icmp ";
    }
    return "";
}

bool networksOf(const FirewallRule& rule, bool ipv6, std::string& match, std::string& error) {
    std::string list;
    for (const IpPrefix& network : rule.remoteNetworks) {
        if (network.ipv6 != ipv6) continue;
        if (!isSafeAddress(network.address) || network.length > (ipv6 ? 128 : 32)) {
            error = "firewall: invalid network " + network.address;
            return false;
        }
        list += (list.empty() ? "" : ", ") + network.address + "/" + std::to_string(network.length);
    }
    if (!list.empty()) match = std::string(ipv6 ? "ip6" : "ip") + " daddr { " + list + " } ";
    return true;
}

// The conditions of `rule` but its transport, which the verdicts add.
bool conditions(const FirewallRule& rule, const FirewallPolicy& policy, std::string& text, std::string& error) {
    if (rule.family == IpFamily::ipv4) text += "meta nfproto ipv4 ";
    if (rule.family == IpFamily::ipv6) text += "meta nfproto ipv6 ";
    if (rule.loopback) text += "oifname \"lo\" ";
    if (rule.throughTun) {
        if (!isSafeName(policy.tunInterface)) {
            error = "firewall: invalid interface name " + policy.tunInterface;
            return false;
        }
        text += "oifname \"" + policy.tunInterface + "\" ";
    }
    if (rule.xray) text += "meta mark " + std::to_string(policy.xrayMark) + " ";
    if (!rule.icmpTypes.empty()) text += "icmpv6 type " + set(rule.icmpTypes) + " ";
    if (rule.localPort) text += "th sport " + std::to_string(rule.localPort) + " ";
    if (!rule.remotePorts.empty()) text += "th dport " + set(rule.remotePorts) + " ";
    if (rule.remoteNetworks.empty()) return true;
    std::string v4, v6;
    if (!networksOf(rule, false, v4, error) || !networksOf(rule, true, v6, error)) return false;
    // A rule's networks are of its own family.
    text += rule.family == IpFamily::ipv6 ? v6 : v4;
    return true;
}

std::string verdicts(const FirewallRule& rule, const std::string& match) {
    const std::string comment = std::string("comment \"") + rule.purpose + "\"";
    const std::string transport = transportMatch(rule.transport);
    if (rule.verdict == Verdict::permit) return "    " + transport + match + "accept " + comment + "\n";
    // A refused connection learns it at once: a reset for TCP, "administratively prohibited"
    // for the rest.
    std::string lines;
    const bool mayBeTcp = rule.transport == Transport::any || rule.transport == Transport::tcp ||
                          rule.transport == Transport::tcpOrUdp;
    if (mayBeTcp) lines += "    meta l4proto tcp " + match + "reject with tcp reset " + comment + "\n";
    if (rule.transport != Transport::tcp)
        lines += "    " + transport + match + "reject with icmpx type admin-prohibited " + comment + "\n";
    return lines;
}

// The whole table for `policy`, after the removal of an earlier one, as one script.
bool nftablesScript(const FirewallPolicy& policy, std::string& script, std::string& error) {
    std::string body;
    for (const FirewallRule& rule : buildFirewallRules(policy)) {
        std::string match;
        if (!conditions(rule, policy, match, error)) return false;
        body += verdicts(rule, match);
    }
    script = std::string(kRemoveTable) +
             "table inet orvik {\n"
             "  chain output {\n"
             "    type filter hook output priority filter; policy accept;\n" +
             body + "  }\n}\n";
    return true;
}

struct ContextDeleter {
    void operator()(nft_ctx* context) const { nft_ctx_free(context); }
};

// Runs `script` as one transaction; the nft error text when it is refused.
bool runScript(const std::string& script, std::string& error) {
    std::unique_ptr<nft_ctx, ContextDeleter> context(nft_ctx_new(NFT_CTX_DEFAULT));
    if (!context) {
        error = "firewall: cannot use nftables";
        return false;
    }
    nft_ctx_buffer_output(context.get());
    nft_ctx_buffer_error(context.get());
    if (nft_run_cmd_from_buffer(context.get(), script.c_str()) == 0) return true;
    // The first line says what; the rest quotes the script.
    std::string detail = nft_ctx_get_error_buffer(context.get());
    detail = detail.substr(0, detail.find('\n'));
    error = "firewall: " + (detail.empty() ? std::string("nftables refused the rules") : detail);
    return false;
}

class NftablesFirewall : public Firewall {
public:
    bool apply(const FirewallPolicy& policy, std::string& error) override {
        std::string script;
        return nftablesScript(policy, script, error) && runScript(script, error);
    }
    bool clear(std::string& error) override { return runScript(kRemoveTable, error); }
    bool present() override {
        std::string ignored;
        return runScript("list table inet orvik\n", ignored);
    }
};

}  // namespace

uint32_t xraySocketMark() { return kXrayMark; }

// Root's own state, beside the DNS state: the runtime directory may be a developer's.
std::string killSwitchIntentPath(const std::string&) { return "/var/lib/orvik/kill-switch.json"; }

std::unique_ptr<Firewall> makeFirewall() { return std::make_unique<NftablesFirewall>(); }

}  // namespace tunnel
