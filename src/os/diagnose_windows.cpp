// The doctor's look-ups on Windows: the UDP table with each socket's process (GetExtendedUdpTable),
// and Windows Firewall through INetFwPolicy2: whether the profile of each card's network is on and
// whether an inbound rule lets the program or the port in. Every user may read both.
#include "diagnose.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <tlhelp32.h>
#include <objbase.h>
#include <oleauto.h>
#include <netlistmgr.h>
// The firewall's class and interface ids are in no MinGW library: this file defines them.
#include <initguid.h>
#include <netfw.h>
// clang-format on
// The Windows headers define `interface` as a keyword of their own (struct).
#undef interface

#include <vector>

namespace tarvik::os {

namespace {

constexpr long kAnyProtocol = 256; // NET_FW_IP_PROTOCOL_ANY, which MinGW's netfw.h leaves out

// Process names by id, as every user may list them.
QHash<DWORD, QString> processNames()
{
    QHash<DWORD, QString> names;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        names.insert(entry.th32ProcessID, QString::fromWCharArray(entry.szExeFile));
    CloseHandle(snapshot);
    return names;
}

template <typename Table> std::vector<char> udpTable(ULONG family, DWORD* error)
{
    ULONG size = 0;
    std::vector<char> buffer;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size > 0 ? size : sizeof(Table));
        size = static_cast<ULONG>(buffer.size());
        status = GetExtendedUdpTable(buffer.data(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0);
    }
    *error = status;
    if (status != NO_ERROR)
        buffer.clear();
    return buffer;
}

QString bstrText(BSTR text)
{
    return text ? QString::fromWCharArray(text, static_cast<qsizetype>(SysStringLen(text))) : QString();
}

// Whether a rule's local ports ("*", "65002", "65000-65010,80") cover `port`.
bool coversPort(const QString& ports, quint16 port)
{
    if (ports.isEmpty() || ports == QLatin1String("*"))
        return true;
    for (const QString& part : ports.split(QLatin1Char(','))) {
        const QStringList range = part.trimmed().split(QLatin1Char('-'));
        const uint low = range.value(0).toUInt();
        const uint high = range.size() > 1 ? range[1].toUInt() : low;
        if (port >= low && port <= high)
            return true;
    }
    return false;
}

QString profileName(long profile)
{
    switch (profile) {
    case NET_FW_PROFILE2_DOMAIN:
        return QStringLiteral("domain");
    case NET_FW_PROFILE2_PRIVATE:
        return QStringLiteral("private");
    default:
        return QStringLiteral("public");
    }
}

// The firewall profile of each card's network, by the card's index: a network's category (public,
// private, domain) names the profile that applies to it.
QHash<int, long> profilesOfCards()
{
    QHash<QString, int> indexOfAdapter; // "{GUID}" -> interface index
    ULONG size = 16 * 1024;
    std::vector<char> buffer(size);
    auto* addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG status =
        GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr, addresses, &size);
    if (status == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        addresses = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        status =
            GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr, addresses, &size);
    }
    if (status == NO_ERROR) {
        for (auto* a = addresses; a; a = a->Next)
            indexOfAdapter.insert(QString::fromLatin1(a->AdapterName).toUpper(), static_cast<int>(a->IfIndex));
    }
    QHash<int, long> profiles;
    INetworkListManager* manager = nullptr;
    if (FAILED(CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL, IID_INetworkListManager,
                                reinterpret_cast<void**>(&manager))))
        return profiles;
    IEnumNetworkConnections* connections = nullptr;
    if (SUCCEEDED(manager->GetNetworkConnections(&connections)) && connections) {
        INetworkConnection* connection = nullptr;
        ULONG fetched = 0;
        while (connections->Next(1, &connection, &fetched) == S_OK && fetched == 1) {
            GUID adapter{};
            INetwork* network = nullptr;
            NLM_NETWORK_CATEGORY category = NLM_NETWORK_CATEGORY_PUBLIC;
            if (SUCCEEDED(connection->GetAdapterId(&adapter)) && SUCCEEDED(connection->GetNetwork(&network)) &&
                network && SUCCEEDED(network->GetCategory(&category))) {
                wchar_t text[64] = {};
                StringFromGUID2(adapter, text, 64);
                const auto it = indexOfAdapter.constFind(QString::fromWCharArray(text).toUpper());
                if (it != indexOfAdapter.cend())
                    profiles.insert(*it, category == NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED ? NET_FW_PROFILE2_DOMAIN
                                         : category == NLM_NETWORK_CATEGORY_PRIVATE            ? NET_FW_PROFILE2_PRIVATE
                                                                                    : NET_FW_PROFILE2_PUBLIC);
            }
            if (network)
                network->Release();
            connection->Release();
        }
        connections->Release();
    }
    manager->Release();
    return profiles;
}

// The enabled inbound rules that allow UDP `port` for `program` (or for every program), by profile.
bool allowingRules(INetFwPolicy2* policy, quint16 port, const QString& program, QHash<long, QString>* byProfile)
{
    INetFwRules* rules = nullptr;
    if (FAILED(policy->get_Rules(&rules)) || !rules)
        return false;
    IUnknown* enumerator = nullptr;
    IEnumVARIANT* variants = nullptr;
    bool ok = SUCCEEDED(rules->get__NewEnum(&enumerator)) && enumerator &&
              SUCCEEDED(enumerator->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&variants)));
    if (ok) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        while (variants->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            INetFwRule* rule = nullptr;
            if (item.vt == VT_DISPATCH && item.pdispVal &&
                SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(&rule)))) {
                VARIANT_BOOL enabled = VARIANT_FALSE;
                NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
                NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
                long protocol = 0;
                long profiles = 0;
                BSTR ports = nullptr;
                BSTR application = nullptr;
                BSTR name = nullptr;
                if (SUCCEEDED(rule->get_Enabled(&enabled)) && enabled == VARIANT_TRUE &&
                    SUCCEEDED(rule->get_Direction(&direction)) && direction == NET_FW_RULE_DIR_IN &&
                    SUCCEEDED(rule->get_Action(&action)) && action == NET_FW_ACTION_ALLOW &&
                    SUCCEEDED(rule->get_Protocol(&protocol)) &&
                    (protocol == NET_FW_IP_PROTOCOL_UDP || protocol == kAnyProtocol) &&
                    SUCCEEDED(rule->get_LocalPorts(&ports)) && coversPort(bstrText(ports), port) &&
                    SUCCEEDED(rule->get_ApplicationName(&application)) &&
                    (bstrText(application).isEmpty() ||
                     QFileInfo(bstrText(application))
                             .canonicalFilePath()
                             .compare(QFileInfo(program).canonicalFilePath(), Qt::CaseInsensitive) == 0) &&
                    SUCCEEDED(rule->get_Profiles(&profiles)) && SUCCEEDED(rule->get_Name(&name))) {
                    for (long profile : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
                        if ((profiles & profile) && !byProfile->contains(profile))
                            byProfile->insert(profile, bstrText(name));
                    }
                }
                SysFreeString(ports);
                SysFreeString(application);
                SysFreeString(name);
                rule->Release();
            }
            VariantClear(&item);
        }
        variants->Release();
    }
    if (enumerator)
        enumerator->Release();
    rules->Release();
    return ok;
}

QString hresultText(HRESULT result)
{
    return QStringLiteral("0x%1").arg(static_cast<quint32>(result), 8, 16, QLatin1Char('0'));
}

} // namespace

PortHolders udpPortHolders(quint16 port)
{
    PortHolders result;
    const QHash<DWORD, QString> names = processNames();
    QList<DWORD> pids;
    DWORD error = NO_ERROR;
    const std::vector<char> v4 = udpTable<MIB_UDPTABLE_OWNER_PID>(AF_INET, &error);
    if (!v4.empty()) {
        const auto* table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(v4.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
                pids << table->table[i].dwOwningPid;
        }
    } else {
        result.error = QStringLiteral("GetExtendedUdpTable failed (%1)").arg(error);
        return result;
    }
    const std::vector<char> v6 = udpTable<MIB_UDP6TABLE_OWNER_PID>(AF_INET6, &error);
    if (!v6.empty()) {
        const auto* table = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(v6.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
                pids << table->table[i].dwOwningPid;
        }
    }
    for (DWORD pid : pids) {
        if (names.contains(pid))
            result.seen.append({static_cast<qint64>(pid), names.value(pid)});
        else
            ++result.unseen;
    }
    return result;
}

QList<Check> causesOfSilence(const QList<CardAddress>& cards, quint16 port, const QString& program)
{
    QList<Check> checks;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INetFwPolicy2* policy = nullptr;
    const HRESULT made = CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                          reinterpret_cast<void**>(&policy));
    if (FAILED(made) || !policy) {
        checks.append({Check::Unchecked,
                       QStringLiteral("Windows Firewall"),
                       QStringLiteral("its settings cannot be read (INetFwPolicy2: %1)").arg(hresultText(made)),
                       {}});
    } else {
        const QHash<int, long> ofCard = profilesOfCards();
        long current = 0;
        policy->get_CurrentProfileTypes(&current);
        QHash<long, QString> allowed;
        const bool rulesRead = allowingRules(policy, port, program, &allowed);
        const QString exe = QFileInfo(program).fileName();
        // Each card's profile where the network list names it; otherwise every profile in force.
        QList<QPair<QString, long>> subjects;
        for (const CardAddress& card : cards) {
            if (ofCard.contains(card.index))
                subjects.append({card.label, ofCard.value(card.index)});
        }
        if (subjects.isEmpty()) {
            for (long profile : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
                if (current & profile)
                    subjects.append({QString(), profile});
            }
        }
        for (const auto& [card, profile] : std::as_const(subjects)) {
            Check check{Check::Ok,
                        QStringLiteral("Windows Firewall ") +
                            (card.isEmpty() ? profileName(profile) : card + QLatin1Char(' ') + profileName(profile)),
                        {},
                        {}};
            VARIANT_BOOL enabled = VARIANT_FALSE;
            VARIANT_BOOL blockAll = VARIANT_FALSE;
            const auto type = static_cast<NET_FW_PROFILE_TYPE2>(profile);
            if (FAILED(policy->get_FirewallEnabled(type, &enabled))) {
                check.status = Check::Unchecked;
                check.text = QStringLiteral("whether the %1 profile is on cannot be read").arg(profileName(profile));
            } else if (enabled != VARIANT_TRUE) {
                check.text = QStringLiteral("the %1 profile is off").arg(profileName(profile));
            } else if (SUCCEEDED(policy->get_BlockAllInboundTraffic(type, &blockAll)) && blockAll == VARIANT_TRUE) {
                check.status = Check::Problem;
                check.text = QStringLiteral("the %1 profile is on and blocks every inbound connection, rules or not")
                                 .arg(profileName(profile));
                check.advice = QStringLiteral("untick \"Blocks all incoming connections\" for the %1 network in "
                                              "Windows Security > Firewall & network protection")
                                   .arg(profileName(profile));
            } else if (!rulesRead) {
                check.status = Check::Unchecked;
                check.text = QStringLiteral("the %1 profile is on; its rules cannot be read").arg(profileName(profile));
            } else if (allowed.contains(profile)) {
                check.text = QStringLiteral("the %1 profile is on, and the rule \"%2\" lets UDP %3 in")
                                 .arg(profileName(profile), allowed.value(profile))
                                 .arg(port);
            } else {
                check.status = Check::Problem;
                check.text = QStringLiteral("the %1 profile is on, and no inbound rule lets %2 or UDP %3 in: the "
                                            "modules' replies are dropped")
                                 .arg(profileName(profile), exe)
                                 .arg(port);
                check.advice = QStringLiteral("install Tarvik with its installer, or as administrator: netsh "
                                              "advfirewall firewall add rule name=\"Tarvik: module replies (UDP %1)\" "
                                              "dir=in action=allow protocol=UDP localport=%1 program=\"%2\" enable=yes")
                                   .arg(port)
                                   .arg(QDir::toNativeSeparators(program));
            }
            checks.append(check);
        }
        if (subjects.isEmpty())
            checks.append({Check::Unchecked,
                           QStringLiteral("Windows Firewall"),
                           QStringLiteral("no firewall profile is in force, or it cannot be read"),
                           {}});
        policy->Release();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return checks;
}

} // namespace tarvik::os
