// The operations' side of the wire: the frames they send to the selected module, and how an
// arriving datagram or an expiry of Timer1 is routed (by Op_Code) to the operation in progress.
#include "operations.h"

#include "link/frames.h"
#include "link/wirelog.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"

namespace tarvik {

// ---- Time-outs and arrivals ---------------------------------------------------------------------

void Operations::Timer1_Timer()
{
    m_timer.stop();
    switch (route(m_state.Op_Code)) {
    case Branch::Discovery:
        scanTimeout();
        break;
    case Branch::Defaults:
        m_state.Awaiting_Reply = false;
        logAppend(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreUnanswered));
        break;
    case Branch::Write:
        writeTimeout();
        break;
    case Branch::Read:
        readTimeout();
        break;
    }
}

// The scan's timer runs on through its replies; every other branch stops it for the reply it takes.
// Late discovery replies after a scan still list their module.
void Operations::Winsock_DataArrival(const QByteArray& datagram, int card)
{
    const Branch branch = route(m_state.Op_Code);
    if (branch == Branch::Discovery) {
        const int listed = m_state.Device_Count;
        discoveryReply(datagram, card);
        if (m_state.Device_Count > listed)
            wire::taken();
        else
            wire::notTaken(datagram, card,
                           datagram.size() < frames::kIdentitySize
                               ? QStringLiteral("too short to hold an identity")
                               : QStringLiteral("a discovery reply of a module already listed, or the list is full"));
        return;
    }
    // Once an operation has ended nothing is awaited: a stray reply (another PC's conversation
    // with a module, a late copy) is no further outcome of it.
    if (!m_state.Awaiting_Reply) {
        wire::notTaken(datagram, card, QStringLiteral("nothing awaited it: no operation in progress"));
        return;
    }
    const Parameter* awaited = branch == Branch::Read ? parameterForStage(m_state.Op_Code) : nullptr;
    if (branch == Branch::Read && !awaited)
        return;
    const rule::Verdict verdict = judge(awaited, datagram, card);
    if (!rule::isAnswer(verdict)) {
        wire::notTaken(datagram, card, rule::why(verdict));
        // The module's own (it carries an identity the rule let through), but not the answer.
        if (awaited && (verdict == rule::Verdict::WrongLength || verdict == rule::Verdict::NotDigits) &&
            datagram.size() >= frames::kIdentitySize)
            m_read.refused(indexOf(*awaited), datagram, datagram.size() < rule::shortest(Layout::Digit));
        return;
    }
    if (verdict == rule::Verdict::Answer)
        m_state.Device_Identified[static_cast<size_t>(m_state.Sel_Device)] = true;
    switch (branch) {
    case Branch::Defaults:
        wire::taken();
        m_timer.stop();
        defaultsAcknowledgement(datagram);
        break;
    case Branch::Write:
        wire::taken();
        m_timer.stop();
        setAcknowledgement(datagram);
        break;
    case Branch::Read: {
        const qint16 stage = m_state.Op_Code;
        readReply(*awaited, datagram); // stops the timer itself: a late copy is not taken
        if (m_state.Op_Code != stage || !m_state.Awaiting_Reply)
            wire::taken();
        else
            wire::notTaken(datagram, card, QStringLiteral("a late reply to an earlier query of this read"));
        break;
    }
    case Branch::Discovery:
        break;
    }
}

// ---- Frames -------------------------------------------------------------------------------------

bool Operations::requireSelection()
{
    if (m_panel.selectedDevice() >= 0)
        return true;
    logBegin(log::text(msg::kNoSelection));
    return false;
}

rule::Verdict Operations::judge(const Parameter* awaited, const QByteArray& datagram, int card) const
{
    // A request to no live entry went nowhere: nothing can answer it.
    if (!m_state.selectionIsLive() ||
        m_state.Device_Table[static_cast<size_t>(m_state.Sel_Device)].size() < frames::kIdentitySize)
        return rule::Verdict::OtherModule;
    const auto selected = static_cast<size_t>(m_state.Sel_Device);
    const QByteArray& entry = m_state.Device_Table[selected];
    const rule::Peer peer{QByteArrayView(entry).first(frames::kIdentitySize), m_state.Device_Card[selected], entry,
                          m_state.Device_Identified[selected]};
    return rule::judge(peer, awaited, datagram, card, [this](QByteArrayView identity) { return isListed(identity); });
}

void Operations::Send_Query()
{
    const Parameter* parameter = parameterForStage(m_state.Op_Code);
    const std::optional<QByteArray> identity = selectedIdentity();
    if (parameter && identity && m_link.send(frames::query(*identity, *parameter), selectedCard()))
        m_read.sent(indexOf(*parameter), m_now());
}

void Operations::Send_Setting(const Parameter& parameter)
{
    const std::optional<QByteArray> identity = selectedIdentity();
    if (!identity)
        return;
    if (const std::optional<QByteArray> frame =
            frames::setting(*identity, parameter, shownValue(m_panel, fieldOf(parameter))))
        m_link.send(*frame, selectedCard());
}

} // namespace tarvik
