#pragma once
// The firewall rules as Windows Filtering Platform filters (Windows only): plain data, one
// record per FWPM_FILTER0 that the submitter adds, without GUIDs or pointers, so that what
// the filters permit can be checked where WFP does not run.

#include <winsock2.h>
#include <windows.h>
#include <fwptypes.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "service/tunnel/firewall.h"

namespace tunnel {

// The ALE layers: a connection this machine opens, and one it accepts (or a first datagram
// it receives).
enum class WfpLayer { connectV4, connectV6, recvAcceptV4, recvAcceptV6 };

// The condition fields used, named after their FWPM_CONDITION_* keys. At the ALE layers
// the ICMP type of an ICMP flow is carried in the local port field (FWPM_CONDITION_ICMP_TYPE
// is the same key as FWPM_CONDITION_IP_LOCAL_PORT).
enum class WfpField { flags, localAddress, remoteAddress, localPort, remotePort, protocol, appId };

// One FWP_CONDITION_VALUE0; the member used depends on `type`.
struct WfpValue {
    FWP_DATA_TYPE type = FWP_EMPTY;
    uint32_t number = 0;  // FWP_UINT8, FWP_UINT16, FWP_UINT32; FWP_V4_ADDR_MASK: the address (host order)
    uint32_t mask = 0;    // FWP_V4_ADDR_MASK (host order)
    std::array<uint8_t, 16> v6Address{};  // FWP_V6_ADDR_MASK, with `prefixLength`
    uint8_t prefixLength = 0;
    std::vector<uint8_t> blob;  // FWP_BYTE_BLOB_TYPE
};

struct WfpCondition {
    WfpField field = WfpField::flags;
    FWP_MATCH_TYPE match = FWP_MATCH_EQUAL;
    WfpValue value;
};

// Conditions on the same field match when any of them does; conditions on different fields
// must all match (the filter engine's own rule).
struct WfpFilter {
    std::string name;  // the rule's purpose
    WfpLayer layer = WfpLayer::connectV4;
    uint64_t weight = 0;  // FWP_UINT64: the highest weight that matches decides in our sublayer
    bool permit = false;  // FWP_ACTION_PERMIT, else FWP_ACTION_BLOCK
    std::vector<WfpCondition> conditions;
};

// The filters for the rules of `policy`, each rule on the layers of its family and weighted
// by its place in the list, so that within our sublayer the first rule that matches decides.
// `xrayAppId` is Xray's application id (FwpmGetAppIdFromFileName0). A rule over the TUN
// exists only at the IPv4 layers: the TUN has no IPv6 address. False with `error` when a
// value cannot reach a filter: a TUN address that is not dotted-decimal IPv4, an empty
// application id, a network that is no address or has too long a prefix, or a rule whose
// local port and ICMP types would share a field.
bool buildWfpFilters(const FirewallPolicy& policy, const std::vector<uint8_t>& xrayAppId,
                     std::vector<WfpFilter>& filters, std::string& error);

}  // namespace tunnel
