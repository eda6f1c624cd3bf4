// The scan and the table of modules it fills (Device_Table, Device_List): listing a module once,
// removing one, and which listed module an operation addresses.
#include "operations.h"

#include "link/frames.h"
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
        m_answeredScan.fill(false);
    }
    // Through every card. A broadcast that fails to go out still counts: the scan runs its rounds
    // and reports.
    const BroadcastReport report = m_link.broadcast(frames::discovery());
    if (report.sent())
        m_scanSent = true;
    else
        m_scanError = report.error;
    m_state.Op_Code = kOpScan;
    m_state.Awaiting_Reply = false; // a scan overtakes whatever awaited its reply
    m_panel.holdValues(false);
    armTimer();
    enable({Control::Setting, Control::L_Default}, false);
    advance(m_state.Scan_Round, 1);
}

void Operations::discoveryReply(const QByteArray& datagram, int card)
{
    // Too short to hold an identity: nothing to list, nothing to address later.
    if (datagram.size() < frames::kIdentitySize)
        return;
    // Looked at in place: every datagram that arrives during or after a scan comes through here,
    // and is compared with every listed module (a scan of a full network: 254 × 254 times), so the
    // six bytes are compared as one number.
    const QByteArrayView identity(datagram.constData(), frames::kIdentitySize);
    const quint64 key = frames::identityKey(datagram);
    for (int i = 0; i < m_state.Device_Count; ++i) {
        const auto entry = static_cast<size_t>(i);
        if (frames::identityKey(m_state.Device_Table[entry]) == key) {
            // Listed once. Its first answer to a scan names its card: a module heard on two cards
            // keeps the first, and one whose card was replaced (an adapter plugged in again) is
            // reached through the new one.
            if (!m_answeredScan[entry]) {
                m_answeredScan[entry] = true;
                m_state.Device_Card[entry] = card;
            }
            return;
        }
    }
    if (m_state.Device_Count >= kDeviceTableSize) {
        if (!m_tableFullNoted)
            logAppend(log::text(msg::kTableFull));
        m_tableFullNoted = true;
        return;
    }
    const auto entry = static_cast<size_t>(m_state.Device_Count);
    m_state.Device_Table[entry] = datagram;
    m_state.Device_Card[entry] = card;
    m_state.Device_Identified[entry] = false;
    m_answeredScan[entry] = true;
    m_panel.insertDevice(m_state.Device_Count, deviceItemText(identity));
    advance(m_state.Device_Count, 1);
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
    auto& table = m_state.Device_Table;
    auto& cards = m_state.Device_Card;
    const auto last = static_cast<size_t>(m_state.Device_Count) - 1;
    for (auto i = static_cast<size_t>(index); i < last; ++i) {
        table[i] = table[i + 1];
        cards[i] = cards[i + 1];
        m_state.Device_Identified[i] = m_state.Device_Identified[i + 1];
        m_answeredScan[i] = m_answeredScan[i + 1];
    }
    table[last].clear();
    cards[last] = kAnyCard;
    m_state.Device_Identified[last] = false;
    m_answeredScan[last] = false;
    advance(m_state.Device_Count, -1);
}

bool Operations::isListed(QByteArrayView identity) const
{
    const quint64 key = frames::identityKey(identity);
    for (int i = 0; i < m_state.Device_Count; ++i) {
        if (frames::identityKey(m_state.Device_Table[static_cast<size_t>(i)]) == key)
            return true;
    }
    return false;
}

std::optional<QByteArray> Operations::selectedIdentity() const
{
    if (!m_state.selectionIsLive())
        return std::nullopt;
    const QByteArray& entry = m_state.Device_Table[static_cast<size_t>(m_state.Sel_Device)];
    if (entry.size() < frames::kIdentitySize)
        return std::nullopt;
    return frames::identityOf(entry);
}

int Operations::selectedCard() const
{
    return m_state.selectionIsLive() ? m_state.Device_Card[static_cast<size_t>(m_state.Sel_Device)] : kAnyCard;
}

// Looked up afresh: the module that moved up into the place of one Run_Device removed, or one
// selected without having been read, does not inherit the fields.
std::optional<QByteArray> Operations::shownModule() const
{
    if (m_shownRead.isEmpty())
        return std::nullopt;
    const int selected = m_panel.selectedDevice();
    if (selected < 0 || selected >= m_state.Device_Count ||
        !m_state.Device_Table[static_cast<size_t>(selected)].startsWith(m_shownRead))
        return std::nullopt;
    return m_shownRead;
}

} // namespace tarvik
