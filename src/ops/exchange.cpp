// The operations' side of the wire: how an arriving datagram or an expiry of Timer1 is routed (by
// Op_Code) to the scan or to the conversation with the selected module, and what the window does at
// each request that goes out and at each end.
#include "operations.h"

#include "link/wirelog.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"

namespace tarvik {

// ---- Time-outs and arrivals ---------------------------------------------------------------------

void Operations::Timer1_Timer()
{
    m_timer.stop();
    if (route(m_state.Op_Code) == Branch::Discovery) {
        scanTimeout();
        return;
    }
    // The conversation decides what the silence means: a repeat, the end, or (a read or write with
    // restarts left) the request again from its first stage.
    if (!m_talk.expired())
        return;
    advance(m_state.Retry_Count, 1);
    if (m_running == Running::Write)
        Setting_Click();
    else
        Device_List_Click();
}

// The scan's timer runs on through its replies. Late discovery replies after a scan still list
// their module.
void Operations::Winsock_DataArrival(const QByteArray& datagram, int card)
{
    if (route(m_state.Op_Code) == Branch::Discovery) {
        discoveryReply(datagram, card);
        return;
    }
    const Device before = m_talk.device();
    m_talk.arrival(datagram, card);
    // What the conversation learnt of the module stays with it as long as it is listed: seen
    // answering with its identity (no reply without it is its from now on), or on a network that
    // copies datagrams.
    const Device& now = m_talk.device();
    if (now.carriesIdentity != before.carriesIdentity || now.copiesSeen != before.copiesSeen) {
        const int entry = scanning::indexOf(m_state.Device_Table, m_state.Device_Count, now.identity);
        if (entry >= 0) {
            Device& listed = m_state.Device_Table[static_cast<size_t>(entry)];
            listed.carriesIdentity = listed.carriesIdentity || now.carriesIdentity;
            listed.copiesSeen = listed.copiesSeen || now.copiesSeen;
        }
    }
}

void Operations::sending(const talk::Step& step, int attempt, bool afterAnswer)
{
    Q_UNUSED(attempt);
    Q_UNUSED(afterAnswer);
    switch (step.kind) {
    case talk::Step::Query:
        m_state.Op_Code = step.parameter->stage;
        break;
    case talk::Step::Setting:
        // While its acknowledgement is awaited, Op_Code already holds the number before the next
        // stage with a command: the stage numbers without one are stepped over.
        m_state.Op_Code =
            static_cast<qint16>(kOpWriteBase + step.parameter->stage + gapAfterStage(step.parameter->stage));
        break;
    case talk::Step::Defaults:
        m_state.Op_Code = kOpRestoreDefaults;
        break;
    case talk::Step::Reset:
        break;
    }
}

void Operations::finished(const talk::Result& result)
{
    const Running running = m_running;
    switch (running) {
    case Running::Read:
        endRead(result.ok(), result.passes);
        break;
    case Running::Write:
        switch (result.ending) {
        case talk::Result::Succeeded:
            m_state.Op_Code = kLastWriteStage;
            endWrite(log::numbered(msg::kSetDevice, deviceNumber(), msg::kWriteSucceeded));
            break;
        case talk::Result::Refused:
        case talk::Result::Mismatch:
            endWrite(log::numbered(msg::kSetDevice, deviceNumber(), msg::kWriteRefused, msg::kCheckConnection));
            break;
        default:
            endWrite(log::numbered(msg::kSetDevice, deviceNumber(), msg::kParamsFailed, msg::kCheckAndRetry));
            break;
        }
        break;
    case Running::Defaults:
        m_running = Running::Nothing;
        // The module holds its factory values now: the fields (as they stand) are no longer its.
        if (result.ok())
            m_shownRead.clear();
        if (result.ok())
            logAppend(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreSucceeded, msg::kSeeManual));
        else if (result.ending == talk::Result::Refused)
            logAppend(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreRefused, msg::kCheckAndRetry));
        else
            logAppend(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreUnanswered));
        break;
    case Running::Nothing:
        break;
    }
}

bool Operations::requireSelection()
{
    if (m_panel.selectedDevice() >= 0)
        return true;
    logBegin(log::text(msg::kNoSelection));
    return false;
}

} // namespace tarvik
