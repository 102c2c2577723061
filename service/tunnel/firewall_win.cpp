// The firewall on Windows: the rules as Windows Filtering Platform filters at the ALE connect
// and receive/accept layers, under a provider and a sublayer of our own. Everything is added
// persistent from a standard session, so the block outlives a crash of the service (and a
// restart of the machine) until the service removes it; every change is one FWPM transaction.
#include <winsock2.h>
#include <windows.h>
#include <fwpmu.h>

#include <algorithm>
#include <array>
#include <initializer_list>

#include "service/tunnel/firewall.h"
#include "service/tunnel/firewall_filters_win.h"
#include "service/tunnel/leak_guard.h"
#include "vpn/system.h"
#include "vpn/text_win.h"

namespace tunnel {
namespace {

// Ours, fixed for good: by them a later process finds what an earlier one left, and nothing
// without them is ever read or changed.
constexpr GUID kProviderKey = {0x8afb03f5, 0xa31d, 0x43ca, {0xbe, 0xb3, 0xb7, 0x03, 0xaf, 0x39, 0x71, 0x0a}};
constexpr GUID kSublayerKey = {0x534da8c7, 0x71a9, 0x4acb, {0x89, 0xe2, 0x16, 0xad, 0x0e, 0x40, 0x23, 0x5d}};
constexpr UINT16 kSublayerWeight = 0xFFFF;  // looked at first; a block of ours is final anyway

// Keys and flags as the Windows SDK defines them; MinGW's fwpmu.h leaves them out.
constexpr std::array<GUID, 4> kLayerKeys = {{
    {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}},  // ALE_AUTH_CONNECT_V4
    {0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}},  // ALE_AUTH_CONNECT_V6
    {0xe1cd9fe7, 0xf4b5, 0x4273, {0x96, 0xc0, 0x59, 0x2e, 0x48, 0x7b, 0x86, 0x50}},  // ALE_AUTH_RECV_ACCEPT_V4
    {0xa3b42c97, 0x9f04, 0x4672, {0xb8, 0x7e, 0xce, 0xe9, 0xc4, 0x83, 0x25, 0x7f}},  // ALE_AUTH_RECV_ACCEPT_V6
}};
constexpr std::array<GUID, 7> kFieldKeys = {{
    {0x632ce23b, 0x5167, 0x435c, {0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c}},  // FLAGS
    {0xd9ee00de, 0xc1ef, 0x4617, {0xbf, 0xe3, 0xff, 0xd8, 0xf5, 0xa0, 0x89, 0x57}},  // IP_LOCAL_ADDRESS
    {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}},  // IP_REMOTE_ADDRESS
    {0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}},  // IP_LOCAL_PORT, ICMP_TYPE
    {0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}},  // IP_REMOTE_PORT
    {0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}},  // IP_PROTOCOL
    {0xd78e1e87, 0x8644, 0x4ea5, {0x94, 0x37, 0xd8, 0x09, 0xec, 0xef, 0xc9, 0x71}},  // ALE_APP_ID
}};
constexpr UINT32 kPersistent = 0x1;        // FWPM_{PROVIDER,SUBLAYER,FILTER}_FLAG_PERSISTENT
constexpr UINT32 kClearActionRight = 0x8;  // FWPM_FILTER_FLAG_CLEAR_ACTION_RIGHT: a hard block
constexpr UINT32 kEnumBatch = 64;
const wchar_t* const kName = L"Orvik leak protection";

std::string failed(const char* call, DWORD code) {
    return std::string("firewall: ") + call + " failed err=" + vpn::win32ErrorText(code);
}

// True for success and for the codes in `harmless`; otherwise `error` names the call.
bool check(const char* call, DWORD code, std::string& error, std::initializer_list<HRESULT> harmless = {}) {
    if (code == ERROR_SUCCESS) return true;
    for (HRESULT allowed : harmless) {
        if (code == static_cast<DWORD>(allowed)) return true;
    }
    error = failed(call, code);
    return false;
}

// A standard session of the filter engine: what it adds stays when it closes.
class Engine {
public:
    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() {
        if (handle_) FwpmEngineClose0(handle_);
    }
    bool open(std::string& error) {
        FWPM_SESSION0 session{};
        const DWORD code = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &handle_);
        if (code != ERROR_SUCCESS) handle_ = nullptr;
        return check("FwpmEngineOpen0", code, error);
    }
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// Aborted unless committed, so a failure leaves the filters as they were.
class Transaction {
public:
    explicit Transaction(HANDLE engine) : engine_(engine) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
        if (open_) FwpmTransactionAbort0(engine_);
    }
    bool begin(std::string& error) {
        open_ = check("FwpmTransactionBegin0", FwpmTransactionBegin0(engine_, 0), error);
        return open_;
    }
    bool commit(std::string& error) {
        if (!check("FwpmTransactionCommit0", FwpmTransactionCommit0(engine_), error)) return false;
        open_ = false;
        return true;
    }

private:
    HANDLE engine_;
    bool open_ = false;
};

bool isOurs(const FWPM_FILTER0& filter) {
    return filter.providerKey && IsEqualGUID(*filter.providerKey, kProviderKey) &&
           IsEqualGUID(filter.subLayerKey, kSublayerKey);
}

bool collectIds(HANDLE engine, HANDLE enumeration, std::vector<UINT64>& ids, std::string& error) {
    for (;;) {
        FWPM_FILTER0** entries = nullptr;
        UINT32 count = 0;
        if (!check("FwpmFilterEnum0", FwpmFilterEnum0(engine, enumeration, kEnumBatch, &entries, &count), error))
            return false;
        for (UINT32 i = 0; i < count; ++i) {
            if (isOurs(*entries[i])) ids.push_back(entries[i]->filterId);
        }
        if (entries) FwpmFreeMemory0(reinterpret_cast<void**>(&entries));
        if (count < kEnumBatch) return true;
    }
}

// The ids of our filters at our layers, asked for by our provider and checked again.
bool ourFilterIds(HANDLE engine, std::vector<UINT64>& ids, std::string& error) {
    for (const GUID& layer : kLayerKeys) {
        GUID provider = kProviderKey;
        FWPM_FILTER_ENUM_TEMPLATE0 query{};
        query.providerKey = &provider;
        query.layerKey = layer;
        query.enumType = FWP_FILTER_ENUM_OVERLAPPING;
        query.actionMask = 0xFFFFFFFF;
        HANDLE enumeration = nullptr;
        if (!check("FwpmFilterCreateEnumHandle0", FwpmFilterCreateEnumHandle0(engine, &query, &enumeration), error))
            return false;
        const bool collected = collectIds(engine, enumeration, ids, error);
        FwpmFilterDestroyEnumHandle0(engine, enumeration);
        if (!collected) return false;
    }
    return true;
}

bool deleteOurFilters(HANDLE engine, std::string& error) {
    std::vector<UINT64> ids;
    if (!ourFilterIds(engine, ids, error)) return false;
    for (UINT64 id : ids) {
        if (!check("FwpmFilterDeleteById0", FwpmFilterDeleteById0(engine, id), error, {FWP_E_FILTER_NOT_FOUND}))
            return false;
    }
    return true;
}

bool addProviderAndSublayer(HANDLE engine, std::string& error) {
    FWPM_PROVIDER0 provider{};
    provider.providerKey = kProviderKey;
    provider.displayData.name = const_cast<wchar_t*>(kName);
    provider.flags = kPersistent;
    if (!check("FwpmProviderAdd0", FwpmProviderAdd0(engine, &provider, nullptr), error, {FWP_E_ALREADY_EXISTS}))
        return false;
    // Zeroed whole: MinGW declares `flags` as UINT16 where the SDK has UINT32.
    FWPM_SUBLAYER0 sublayer;
    ZeroMemory(&sublayer, sizeof sublayer);
    GUID providerKey = kProviderKey;
    sublayer.subLayerKey = kSublayerKey;
    sublayer.displayData.name = const_cast<wchar_t*>(kName);
    sublayer.flags = kPersistent;
    sublayer.providerKey = &providerKey;
    sublayer.weight = kSublayerWeight;
    return check("FwpmSubLayerAdd0", FwpmSubLayerAdd0(engine, &sublayer, nullptr), error, {FWP_E_ALREADY_EXISTS});
}

// FWPM_FILTER0 for one filter, with the storage its pointers lead to.
class FilterRecord {
public:
    explicit FilterRecord(const WfpFilter& filter)
        : name_(vpn::widen("Orvik: " + filter.name)), weight_(filter.weight), size_(filter.conditions.size()),
          conditions_(size_), v4_(size_), v6_(size_), blobs_(size_), blobData_(size_) {
        for (size_t i = 0; i < size_; ++i) fill(i, filter.conditions[i]);
        record_.displayData.name = name_.data();
        record_.flags = kPersistent | (filter.permit ? 0 : kClearActionRight);
        record_.providerKey = &provider_;
        record_.layerKey = kLayerKeys[static_cast<size_t>(filter.layer)];
        record_.subLayerKey = kSublayerKey;
        record_.weight.type = FWP_UINT64;
        record_.weight.uint64 = &weight_;
        record_.numFilterConditions = static_cast<UINT32>(size_);
        record_.filterCondition = conditions_.data();
        record_.action.type = filter.permit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
    }
    FilterRecord(const FilterRecord&) = delete;
    FilterRecord& operator=(const FilterRecord&) = delete;
    const FWPM_FILTER0* get() const { return &record_; }

private:
    void fill(size_t i, const WfpCondition& condition) {
        FWPM_FILTER_CONDITION0& out = conditions_[i];
        const WfpValue& value = condition.value;
        out.fieldKey = kFieldKeys[static_cast<size_t>(condition.field)];
        out.matchType = condition.match;
        out.conditionValue.type = value.type;
        if (value.type == FWP_UINT8) out.conditionValue.uint8 = static_cast<UINT8>(value.number);
        if (value.type == FWP_UINT16) out.conditionValue.uint16 = static_cast<UINT16>(value.number);
        if (value.type == FWP_UINT32) out.conditionValue.uint32 = value.number;
        if (value.type == FWP_V4_ADDR_MASK) {
            v4_[i] = {value.number, value.mask};
            out.conditionValue.v4AddrMask = &v4_[i];
        }
        if (value.type == FWP_V6_ADDR_MASK) {
            std::copy(value.v6Address.begin(), value.v6Address.end(), v6_[i].addr);
            v6_[i].prefixLength = value.prefixLength;
            out.conditionValue.v6AddrMask = &v6_[i];
        }
        if (value.type == FWP_BYTE_BLOB_TYPE) {
            blobData_[i] = value.blob;
            blobs_[i] = {static_cast<UINT32>(blobData_[i].size()), blobData_[i].data()};
            out.conditionValue.byteBlob = &blobs_[i];
        }
    }

    std::wstring name_;
    UINT64 weight_;
    GUID provider_ = kProviderKey;
    size_t size_;
    std::vector<FWPM_FILTER_CONDITION0> conditions_;
    std::vector<FWP_V4_ADDR_AND_MASK> v4_;
    std::vector<FWP_V6_ADDR_AND_MASK> v6_;
    std::vector<FWP_BYTE_BLOB> blobs_;
    std::vector<std::vector<UINT8>> blobData_;
    FWPM_FILTER0 record_{};
};

// Xray's application id: its path as the filter engine names the file.
bool appIdOf(const std::string& executable, std::vector<uint8_t>& appId, std::string& error) {
    FWP_BYTE_BLOB* blob = nullptr;
    const DWORD code = FwpmGetAppIdFromFileName0(vpn::widen(executable).c_str(), &blob);
    if (code != ERROR_SUCCESS) {
        error = failed("FwpmGetAppIdFromFileName0", code) + " for " + executable;
        return false;
    }
    appId.assign(blob->data, blob->data + blob->size);
    FwpmFreeMemory0(reinterpret_cast<void**>(&blob));
    return true;
}

class WindowsFirewall final : public Firewall {
public:
    bool apply(const FirewallPolicy& policy, std::string& error) override {
        Engine engine;
        std::vector<uint8_t> appId;
        std::vector<WfpFilter> filters;
        if (!engine.open(error) || !appIdOf(policy.xrayExecutable, appId, error) ||
            !buildWfpFilters(policy, appId, filters, error))
            return false;
        Transaction transaction(engine.handle());
        if (!transaction.begin(error) || !addProviderAndSublayer(engine.handle(), error) ||
            !deleteOurFilters(engine.handle(), error))
            return false;
        for (const WfpFilter& filter : filters) {
            FilterRecord record(filter);
            if (!check("FwpmFilterAdd0", FwpmFilterAdd0(engine.handle(), record.get(), nullptr, nullptr), error))
                return false;
        }
        return transaction.commit(error);
    }

    // Another program's filters in our sublayer keep it (and our provider) in use; ours go.
    bool clear(std::string& error) override {
        Engine engine;
        if (!engine.open(error)) return false;
        Transaction transaction(engine.handle());
        if (!transaction.begin(error) || !deleteOurFilters(engine.handle(), error) ||
            !check("FwpmSubLayerDeleteByKey0", FwpmSubLayerDeleteByKey0(engine.handle(), &kSublayerKey), error,
                   {FWP_E_SUBLAYER_NOT_FOUND, FWP_E_IN_USE}) ||
            !check("FwpmProviderDeleteByKey0", FwpmProviderDeleteByKey0(engine.handle(), &kProviderKey), error,
                   {FWP_E_PROVIDER_NOT_FOUND, FWP_E_IN_USE}))
            return false;
        return transaction.commit(error);
    }

    bool present() override {
        Engine engine;
        std::string error;
        std::vector<UINT64> ids;
        return engine.open(error) && ourFilterIds(engine.handle(), ids, error) && !ids.empty();
    }
};

}  // namespace

uint32_t xraySocketMark() { return 0; }

// The installed service's runtime directory is the administrators' own.
std::string killSwitchIntentPath(const std::string& runtimeDirectory) {
    return vpn::joinPath(runtimeDirectory, "kill-switch.json");
}

std::unique_ptr<Firewall> makeFirewall() { return std::make_unique<WindowsFirewall>(); }

}  // namespace tunnel
