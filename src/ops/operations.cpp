#include "operations.h"

#include "link/frames.h"
#include "ops/decode.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"

#include <QElapsedTimer>
#include <QStringList>

namespace tarvik {

namespace {

bool isAcknowledged(const QByteArray& datagram)
{
    return datagram.size() >= 8 && datagram.at(6) == 'O' && datagram.at(7) == 'K';
}

} // namespace

Operations::Operations(Panel& panel, Link& link, ReplyTimer& timer)
    : m_panel(panel), m_link(link), m_timer(timer), m_clock(&log::timestamp), m_now([] {
          static QElapsedTimer clock;
          if (!clock.isValid())
              clock.start();
          return clock.elapsed();
      })
{
}

QString Operations::startAdvice()
{
    QStringList advice;
    for (const char* line : msg::kStartAdvice)
        advice << log::text(line);
    return advice.join(log::kLineBreak);
}

QString Operations::portUnavailable(quint16 port, const QString& reason)
{
    return log::text(msg::kPortUnavailable).arg(port) + reason;
}

// ---- Read ---------------------------------------------------------------------------------------

void Operations::pickDevice()
{
    // Nothing selected, nothing picked: no module to read.
    if (m_panel.selectedDevice() < 0)
        return;
    // The list is disabled while a read or write runs, so a pick that finds retries counted was
    // left behind by an operation a scan overtook: this read starts afresh.
    m_state.Retry_Count = 0;
    Device_List_Click();
}

void Operations::Device_List_Click()
{
    const int selected = m_panel.selectedDevice();
    m_panel.holdValues(true);
    m_state.Sel_Device =
        selected >= 0 && selected < m_state.Device_Count ? static_cast<qint16>(selected) : m_state.Device_Count;
    m_shownRead.clear();
    for (Field field : kAllFields) {
        if (parameterOf(field).blankedByRead())
            blankField(field);
    }
    if (m_state.Retry_Count == 0) {
        logBegin(log::numbered(msg::kReadDevice, deviceNumber(), msg::kReadStarts));
        m_read.begin(selectedIdentity().value_or(QByteArray()), m_now());
    } else {
        m_read.restart(selectedIdentity().value_or(QByteArray()), m_now());
    }
    m_state.Op_Code = kFirstReadStage;
    Send_Query();
    awaitReply();
    enable(kActionControls, false);
}

// `parameter` is the stage's, and the datagram has passed the reply rule for it.
void Operations::readReply(const Parameter& parameter, const QByteArray& datagram)
{
    // A late reply to a query of this read that was sent again is dropped as if it had not
    // arrived: the timer, still counting towards the same deadline, retries or ends the read.
    if (m_read.isLate(indexOf(parameter), datagram))
        return;
    takeReadReply(parameter, datagram);
}

void Operations::takeReadReply(const Parameter& parameter, const QByteArray& datagram)
{
    m_timer.stop();
    m_read.take(indexOf(parameter), datagram);
    const decode::Value value = decode::reply(parameter, datagram);
    switch (value.kind) {
    case decode::Value::Entry:
        m_panel.setComboIndex(fieldOf(parameter), value.entry);
        break;
    case decode::Value::Text:
        m_panel.setFieldText(fieldOf(parameter), value.text);
        break;
    case decode::Value::Rejected:
        if (const char* error = msg::readError(parameter))
            logReplaceBare(log::text(error));
        break;
    case decode::Value::Short: // the rule has measured it
        break;
    }
    const int stage = m_state.Op_Code;
    advance(m_state.Op_Code, gapAfterStage(stage));
    if (m_state.Op_Code == kLastReadStage) {
        endRead();
        return;
    }
    advance(m_state.Op_Code, 1);
    Send_Query();
    awaitReply();
}

void Operations::endRead()
{
    m_state.Awaiting_Reply = false;
    m_panel.holdValues(false);
    m_state.Retry_Count = 0;
    m_shownRead = selectedIdentity().value_or(QByteArray());
    enable(kActionControls, true);
    logAppend(log::numbered(msg::kReadDevice, deviceNumber(), msg::kReadSucceeded));
}

void Operations::readTimeout()
{
    // A datagram held as a possible late copy, and nothing else came: it was the answer.
    const Parameter* parameter = parameterForStage(m_state.Op_Code);
    if (const std::optional<QByteArray> held = m_read.takeHeld(); held && parameter) {
        takeReadReply(*parameter, *held);
        return;
    }
    if (m_state.Retry_Count < kMaxRetries) {
        advance(m_state.Retry_Count, 1);
        Device_List_Click();
        return;
    }
    m_state.Awaiting_Reply = false;
    m_panel.holdValues(false);
    m_state.Retry_Count = 0;
    enable({Control::Device_List, Control::Run_Device}, true);
    logAppend(log::numbered(msg::kReadDevice, deviceNumber(), msg::kParamsFailed, msg::kCheckAndRetry));
}

// ---- Write --------------------------------------------------------------------------------------

void Operations::Setting_Click()
{
    if (!requireSelection())
        return;
    if (m_state.Retry_Count == 0)
        logBegin(log::numbered(msg::kSetDevice, deviceNumber(), msg::kWriteStarts));
    m_state.Op_Code = kFirstWriteStage;
    Write_Next();
    awaitReply();
    enable(kActionControls, false);
}

void Operations::Write_Next()
{
    const Parameter* parameter = parameterForStage(m_state.Op_Code - kOpWriteBase);
    if (!parameter)
        return;
    Send_Setting(*parameter);
    advance(m_state.Op_Code, gapAfterStage(parameter->stage));
}

void Operations::setAcknowledgement(const QByteArray& datagram)
{
    if (!isAcknowledged(datagram)) {
        endWrite(log::numbered(msg::kSetDevice, deviceNumber(), msg::kWriteRefused, msg::kCheckConnection));
        return;
    }
    if (m_state.Op_Code == kLastWriteStage) {
        endWrite(log::numbered(msg::kSetDevice, deviceNumber(), msg::kWriteSucceeded));
        return;
    }
    advance(m_state.Op_Code, 1);
    Write_Next();
    awaitReply();
}

void Operations::writeTimeout()
{
    if (m_state.Retry_Count < kMaxRetries) {
        advance(m_state.Retry_Count, 1);
        Setting_Click();
        return;
    }
    endWrite(log::numbered(msg::kSetDevice, deviceNumber(), msg::kParamsFailed, msg::kCheckAndRetry));
}

// Every way out of a write (success, refusal, final time-out) leaves the same state behind.
void Operations::endWrite(const QString& outcome)
{
    m_state.Awaiting_Reply = false;
    m_state.Retry_Count = 0;
    enable(kActionControls, true);
    logAppend(outcome);
}

// ---- Restore defaults ---------------------------------------------------------------------------

void Operations::L_Default_Click()
{
    if (!requireSelection())
        return;
    logBegin(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreStarts));
    const std::optional<QByteArray> identity = selectedIdentity();
    m_state.Op_Code = kOpRestoreDefaults;
    // Without a live identity nothing is sent; the time-out reports the failure.
    if (identity)
        m_link.send(frames::restoreDefaults(*identity), selectedCard());
    awaitReply();
}

void Operations::defaultsAcknowledgement(const QByteArray& datagram)
{
    m_state.Awaiting_Reply = false;
    if (isAcknowledged(datagram))
        logAppend(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreSucceeded, msg::kSeeManual));
    else
        logAppend(log::numbered(msg::kRestoreDevice, deviceNumber(), msg::kRestoreRefused, msg::kCheckAndRetry));
}

// ---- Reset and run ------------------------------------------------------------------------------

void Operations::Run_Device_Click()
{
    if (!requireSelection())
        return;
    const std::optional<QByteArray> identity = selectedIdentity();
    if (m_state.Device_Count != 0 && !identity) {
        // The module read last is gone from the list: nothing to reset, nothing to remove; the
        // fields are blanked as after any press.
        logBegin(log::numbered(msg::kForDevice, deviceNumber(), msg::kResetFailed));
    } else if (identity) {
        const bool sent = m_link.send(frames::resetAndRun(*identity), selectedCard());
        logBegin(log::numbered(msg::kForDevice, deviceNumber(), sent ? msg::kResetSucceeded : msg::kResetFailed));

        // The module leaves the list and the table; the entries after it move down, still paired
        // with their list items.
        const int removed = m_state.Sel_Device;
        m_panel.removeDevice(removed);
        removeEntry(removed);
        m_tableFullNoted = false;
    }
    m_shownRead.clear();
    for (Field field : kAllFields)
        blankField(field);
}

// ---- Window helpers -----------------------------------------------------------------------------

void Operations::blankField(Field field)
{
    showValue(m_panel, field, {}); // no entry selected, no text
}

void Operations::armTimer()
{
    m_timer.arm(kReplyTimeoutMs);
}

void Operations::awaitReply()
{
    m_state.Awaiting_Reply = true;
    armTimer();
}

void Operations::logBegin(const QString& message)
{
    m_panel.setLogText(log::begin(m_clock(), message));
}

void Operations::logAppend(const QString& message)
{
    m_panel.appendLogText(log::appendix(m_clock(), message));
}

void Operations::logReplaceBare(const QString& message)
{
    m_panel.setLogText(message);
}

} // namespace tarvik
