// The facts as Windows gives them to any user: the network list says of what
// type the adapter's network is, and the firewall's policy object tells its
// profiles and its rules. Each call may fail or be unimplemented (Wine's
// firewall answers E_NOTIMPL); what it would have told stays unknown.
#include "platform/reachability.h"

#include <netfw.h>
#include <netlistmgr.h>
#include <objbase.h>
#include <oleauto.h>

#include <cwchar>

#include "platform/net.h"

namespace {

// The two classes, as Microsoft documents them; the interfaces' ids come
// with their declarations (__uuidof).
constexpr CLSID NetworkListManagerClass = {0xdcb00c01, 0x570f, 0x4a9b, {0x8d, 0x69, 0x19, 0x9f, 0xdb, 0xa5, 0x72, 0x3b}};
constexpr CLSID FirewallPolicyClass = {0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};

// An interface pointer, released at the end of its scope.
template <class Interface>
struct ComRef {
    Interface* pointer = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef()
    {
        if (pointer)
            pointer->Release();
    }
    Interface* operator->() const { return pointer; }
    void** out() { return reinterpret_cast<void**>(&pointer); }
};

// A string the callee allocated, taken and freed; empty for none.
std::wstring takeString(BSTR text)
{
    std::wstring taken = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return taken;
}

// A network list enumeration ends, at the latest, after this many.
constexpr int MaxEnumerated = 4096;

void readCategory(const char* adapterName, ReachFacts* facts)
{
    WCHAR name[64];
    GUID adapterId;
    if (!MultiByteToWideChar(CP_ACP, 0, adapterName, -1, name, 64) || IIDFromString(name, &adapterId) != S_OK)
        return;
    ComRef<INetworkListManager> list;
    ComRef<IEnumNetworkConnections> connections;
    if (CoCreateInstance(NetworkListManagerClass, nullptr, CLSCTX_ALL, __uuidof(INetworkListManager), list.out()) != S_OK ||
        list->GetNetworkConnections(reinterpret_cast<IEnumNetworkConnections**>(connections.out())) != S_OK)
        return;
    for (int i = 0; i < MaxEnumerated; ++i) {
        ComRef<INetworkConnection> connection;
        ULONG got = 0;
        if (connections->Next(1, reinterpret_cast<INetworkConnection**>(connection.out()), &got) != S_OK || got != 1)
            return;
        GUID id;
        if (connection->GetAdapterId(&id) != S_OK || !IsEqualGUID(id, adapterId))
            continue;
        ComRef<INetwork> network;
        NLM_NETWORK_CATEGORY category;
        if (connection->GetNetwork(reinterpret_cast<INetwork**>(network.out())) == S_OK &&
            network->GetCategory(&category) == S_OK) {
            if (category == NLM_NETWORK_CATEGORY_PUBLIC)
                facts->category = NetworkCategory::Public;
            else if (category == NLM_NETWORK_CATEGORY_PRIVATE)
                facts->category = NetworkCategory::Private;
            else if (category == NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED)
                facts->category = NetworkCategory::Domain;
        }
        return;
    }
}

Known known(HRESULT result, bool value)
{
    return result != S_OK ? Known::Unknown : value ? Known::Yes : Known::No;
}

void readProfiles(INetFwPolicy2& policy, ReachFacts* facts)
{
    long current = 0;
    if (policy.get_CurrentProfileTypes(&current) == S_OK)
        facts->currentProfiles = static_cast<unsigned>(current);
    for (unsigned i = 0; i < ProfileCount; ++i) {
        const NET_FW_PROFILE_TYPE2 type = static_cast<NET_FW_PROFILE_TYPE2>(1u << i);
        FirewallProfile& profile = facts->profiles[i];
        VARIANT_BOOL on = VARIANT_FALSE, blocksAll = VARIANT_FALSE;
        NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
        HRESULT result = policy.get_FirewallEnabled(type, &on);
        profile.enabled = known(result, on != VARIANT_FALSE);
        result = policy.get_BlockAllInboundTraffic(type, &blocksAll);
        profile.blocksAllInbound = known(result, blocksAll != VARIANT_FALSE);
        result = policy.get_DefaultInboundAction(type, &action);
        profile.allowsInboundByDefault = known(result, action == NET_FW_ACTION_ALLOW);
        VARIANT_BOOL quiet = VARIANT_FALSE;
        result = policy.get_NotificationsDisabled(type, &quiet);
        profile.notificationsOff = known(result, quiet != VARIANT_FALSE);
    }
}

// Whether a rule's Interfaces lists adapters: an array with an element.
bool listsInterfaces(VARIANT& interfaces)
{
    LONG low = 0, high = -1;
    bool listed = (interfaces.vt & VT_ARRAY) && interfaces.parray &&
                  SafeArrayGetLBound(interfaces.parray, 1, &low) == S_OK &&
                  SafeArrayGetUBound(interfaces.parray, 1, &high) == S_OK && high >= low;
    VariantClear(&interfaces);
    return listed;
}

// The conditions of Windows 8's rules: a package, and whom it lets in.
bool readRule3(INetFwRule3& rule, FirewallRule* read)
{
    BSTR package = nullptr, localUsers = nullptr, remoteUsers = nullptr, remoteMachines = nullptr;
    long secure = 0;
    bool whole = rule.get_LocalAppPackageId(&package) == S_OK &&
                 rule.get_LocalUserAuthorizedList(&localUsers) == S_OK &&
                 rule.get_RemoteUserAuthorizedList(&remoteUsers) == S_OK &&
                 rule.get_RemoteMachineAuthorizedList(&remoteMachines) == S_OK && rule.get_SecureFlags(&secure) == S_OK;
    read->package = takeString(package);
    // Each taken, so that each is freed.
    const std::wstring lists = takeString(localUsers) + takeString(remoteUsers) + takeString(remoteMachines);
    read->authenticatedOnly = !lists.empty() || secure != 0;
    return whole;
}

// An inbound rule's every condition; false when one cannot be read. A rule
// from before Windows 8 has no package (no INetFwRule3).
bool readRule(INetFwRule& rule, FirewallRule* read)
{
    VARIANT_BOOL enabled = VARIANT_FALSE;
    long profiles = 0, protocol = 0;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    BSTR application = nullptr, service = nullptr, ports = nullptr, remote = nullptr, local = nullptr,
         remotePorts = nullptr, types = nullptr;
    VARIANT interfaces;
    VariantInit(&interfaces);
    bool whole = rule.get_ApplicationName(&application) == S_OK && rule.get_ServiceName(&service) == S_OK &&
                 rule.get_Enabled(&enabled) == S_OK && rule.get_Profiles(&profiles) == S_OK &&
                 rule.get_Action(&action) == S_OK && rule.get_Protocol(&protocol) == S_OK &&
                 rule.get_LocalPorts(&ports) == S_OK && rule.get_RemoteAddresses(&remote) == S_OK &&
                 rule.get_LocalAddresses(&local) == S_OK && rule.get_RemotePorts(&remotePorts) == S_OK &&
                 rule.get_InterfaceTypes(&types) == S_OK && rule.get_Interfaces(&interfaces) == S_OK;
    read->application = takeString(application);
    read->service = takeString(service);
    read->localPorts = takeString(ports);
    read->remoteAddresses = takeString(remote);
    read->localAddresses = takeString(local);
    read->remotePorts = takeString(remotePorts);
    read->interfaceTypes = takeString(types);
    read->interfacesListed = listsInterfaces(interfaces);
    read->enabled = enabled != VARIANT_FALSE;
    read->profiles = static_cast<unsigned>(profiles);
    read->allow = action == NET_FW_ACTION_ALLOW;
    read->protocol = static_cast<int>(protocol);
    ComRef<INetFwRule3> packaged;
    if (whole && rule.QueryInterface(__uuidof(INetFwRule3), packaged.out()) == S_OK)
        whole = readRule3(*packaged.pointer, read);
    return whole;
}

// The inbound rules, all of them or none: a rule left out could be the one
// that blocks.
void readRules(INetFwPolicy2& policy, ReachFacts* facts)
{
    ComRef<INetFwRules> rules;
    ComRef<IUnknown> enumerator;
    ComRef<IEnumVARIANT> each;
    if (policy.get_Rules(reinterpret_cast<INetFwRules**>(rules.out())) != S_OK ||
        rules->get__NewEnum(reinterpret_cast<IUnknown**>(enumerator.out())) != S_OK ||
        enumerator->QueryInterface(__uuidof(IEnumVARIANT), each.out()) != S_OK)
        return;
    for (int i = 0; i < MaxEnumerated; ++i) {
        VARIANT item;
        VariantInit(&item);
        ULONG got = 0;
        HRESULT result = each->Next(1, &item, &got);
        if (result == S_FALSE && got == 0) {
            facts->rulesRead = true;
            return;
        }
        ComRef<INetFwRule> rule;
        if (result != S_OK || got != 1 || item.vt != VT_DISPATCH || !item.pdispVal ||
            item.pdispVal->QueryInterface(__uuidof(INetFwRule), rule.out()) != S_OK) {
            VariantClear(&item);
            facts->rules.clear();
            return;
        }
        VariantClear(&item);
        NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
        if (rule->get_Direction(&direction) != S_OK) {
            facts->rules.clear();
            return;
        }
        if (direction != NET_FW_RULE_DIR_IN)
            continue;
        FirewallRule read;
        if (!readRule(*rule.pointer, &read)) {
            facts->rules.clear();
            return;
        }
        facts->rules.push_back(read);
    }
    facts->rules.clear();
}

std::wstring ownPath()
{
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

} // namespace

void readReachFacts(std::uint32_t address, ReachFacts* facts)
{
    facts->program = ownPath();
    facts->address = address;
    NetAdapter adapter;
    bool adapterFound = netAdapterOf(address, &adapter);
    if (adapterFound)
        facts->adapter = adapter.wifi       ? AdapterKind::Wifi
                         : adapter.ethernet ? AdapterKind::Ethernet
                                            : AdapterKind::Other;
    // This thread's own apartment: the reading runs on a thread made for it.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        if (adapterFound)
            readCategory(adapter.name, facts);
        ComRef<INetFwPolicy2> policy;
        if (CoCreateInstance(FirewallPolicyClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                             policy.out()) == S_OK) {
            readProfiles(*policy.pointer, facts);
            readRules(*policy.pointer, facts);
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}

// What `rewrite` (ExpandEnvironmentStringsW, GetLongPathNameW: asked with no
// room, each gives the room it needs) makes of `path`; the path itself when
// it fails, as GetLongPathNameW does for a file that is not there.
static std::wstring rewritten(const std::wstring& path, DWORD(WINAPI* rewrite)(LPCWSTR, LPWSTR, DWORD))
{
    DWORD size = rewrite(path.c_str(), nullptr, 0);
    if (size == 0)
        return path;
    std::wstring text(size, L'\0');
    DWORD length = rewrite(path.c_str(), &text[0], size);
    if (length == 0 || length > size)
        return path;
    text.resize(std::wcslen(text.c_str()));
    return text;
}

// A short name is the long one when that fits 8.3, and else holds a tilde:
// a path without one is its own long form. The look-up in the file system is
// spared for the hundreds of rules a Windows has (0.4 ms each under Wine).
std::wstring expandProgramPath(const std::wstring& path)
{
    std::wstring expanded = rewritten(path, ExpandEnvironmentStringsW);
    return expanded.find(L'~') == std::wstring::npos ? expanded : rewritten(expanded, GetLongPathNameW);
}

bool samePathIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
