// The scan and the table of modules it fills (Device_Table, Device_List): listing a module once,
// removing one, and which listed module an operation addresses.
#include "operations.h"

#include "link/frames.h"
#include "link/wirelog.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"

namespace tarvik {

QString Operations::deviceItemText(QByteArrayView identity)
{
    // Built in one piece: a scan of a full network makes 254 of them.
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(6 + 2 * identity.size());
    text += QStringLiteral("设备 ( ");
    for (const char byte : identity) {
        text += QLatin1Char(kHexDigits[static_cast<quint8>(byte) >> 4]);
        text += QLatin1Char(kHexDigits[static_cast<quint8>(byte) & 0xF]);
    }
    text += QStringLiteral(" )");
    return text;
}

// ---- Scan ---------------------------------------------------------------------------------------

void Operations::Scan_Click()
{
    enable({Control::Device_List}, false);
    if (m_state.Scan_Round == 0) {
        logBegin(log::lines({msg::kScanning, msg::kScanningAdvice}));
        m_tableFullNoted = false;
        m_scanSent = false;
        m_scanError.clear();
        m_heard.fill({});
    }
    // A new round: each module answers it once.
    for (scanning::Heard& heard : m_heard)
        heard.newRound();
    // Through every card. A broadcast that fails to go out still counts: the scan runs its rounds
    // and reports.
    const BroadcastReport report = m_link.broadcast(frames::discovery());
    if (report.sent())
        m_scanSent = true;
    else
        m_scanError = report.error;
    m_state.Op_Code = kOpScan;
    // A scan overtakes whatever awaited its reply.
    m_talk.abandon();
    m_running = Running::Nothing;
    m_panel.holdValues(false);
    m_timer.arm(kReplyTimeoutMs);
    enable({Control::Setting, Control::L_Default}, false);
    advance(m_state.Scan_Round, 1);
}

void Operations::discoveryReply(const QByteArray& datagram, int card)
{
    // Nothing to list, nothing to address later: too short to hold an identity, or another PC's
    // conversation with a module, which every PC on the LAN hears.
    if (!scanning::isPlausibleReply(datagram)) {
        wire::notTaken(datagram, card, QStringLiteral("not a discovery reply"));
        return;
    }
    // Nor is the late reply a request of ours still awaits: it names neither the module's card nor
    // its discovery reply.
    if (m_talk.owesReply(QByteArrayView(datagram).first(frames::kIdentitySize), datagram)) {
        wire::notTaken(datagram, card, QStringLiteral("a late reply to a request of ours"));
        return;
    }
    // Every datagram that arrives during or after a scan comes through here, and is compared with
    // every listed module (a scan of a full network: 254 x 254 times).
    const int known = scanning::indexOf(m_state.Device_Table, m_state.Device_Count, datagram);
    if (known >= 0) {
        const auto entry = static_cast<size_t>(known);
        // Copies are told only within a scan's rounds: before the first, every datagram is its own.
        scanning::Heard& heard = m_heard[entry];
        if (m_state.Scan_Round == 0)
            heard.thisRound = false;
        scanning::heardAgain(m_state.Device_Table[entry], heard, datagram, card, m_state.Scan_Round != 0);
        wire::notTaken(datagram, card, QStringLiteral("a module listed already"));
        return;
    }
    if (m_state.Device_Count >= kDeviceTableSize) {
        if (!m_tableFullNoted)
            logAppend(log::text(msg::kTableFull));
        m_tableFullNoted = true;
        wire::notTaken(datagram, card, QStringLiteral("the device list is full"));
        return;
    }
    const auto entry = static_cast<size_t>(m_state.Device_Count);
    m_state.Device_Table[entry] = Device::fromDiscovery(datagram, card);
    m_heard[entry] = scanning::Heard::listed(card, m_state.Scan_Round != 0);
    m_panel.insertDevice(m_state.Device_Count, deviceItemText(QByteArrayView(datagram).first(frames::kIdentitySize)));
    advance(m_state.Device_Count, 1);
    wire::taken();
}

void Operations::scanTimeout()
{
    if (m_state.Scan_Round < kScanBroadcasts) {
        Scan_Click();
        return;
    }
    m_state.Scan_Round = 0;
    // Not one broadcast went out: the report says why before what it found.
    const QString notSent = m_scanSent ? QString() : log::text(msg::kScanNotSent) + m_scanError + log::kLineBreak;
    if (m_state.Device_Count != 0) {
        logAppend(notSent + log::numbered(msg::kDetected, m_state.Device_Count, msg::kDevicesSuffix));
        enable(kPageControls, true);
        enable({Control::Device_List}, true);
    } else {
        logAppend(notSent + log::lines({msg::kNoDevice, msg::kNoDeviceAdvice}));
    }
}

// ---- The table ----------------------------------------------------------------------------------

void Operations::removeEntry(int index)
{
    // Whole records move: each module keeps its own card and its own identity fact.
    auto& table = m_state.Device_Table;
    const auto last = static_cast<size_t>(m_state.Device_Count) - 1;
    for (auto i = static_cast<size_t>(index); i < last; ++i) {
        table[i] = table[i + 1];
        m_heard[i] = m_heard[i + 1];
    }
    table[last] = Device();
    m_heard[last] = {};
    advance(m_state.Device_Count, -1);
}

std::optional<QByteArray> Operations::selectedIdentity() const
{
    if (!m_state.selectionIsLive())
        return std::nullopt;
    const Device& device = m_state.Device_Table[static_cast<size_t>(m_state.Sel_Device)];
    if (device.identity.size() < frames::kIdentitySize)
        return std::nullopt;
    return device.identity;
}

// Looked up afresh: the module that moved up into the place of one Run_Device removed, or one
// selected without having been read, does not inherit the fields.
std::optional<QByteArray> Operations::shownModule() const
{
    if (m_shownRead.isEmpty())
        return std::nullopt;
    const int selected = m_panel.selectedDevice();
    if (selected < 0 || selected >= m_state.Device_Count ||
        m_state.Device_Table[static_cast<size_t>(selected)].identity != m_shownRead)
        return std::nullopt;
    return m_shownRead;
}

} // namespace tarvik
