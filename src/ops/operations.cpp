#include "operations.h"

#include "link/frames.h"
#include "ops/dispatch.h"
#include "ops/messagelog.h"
#include "ops/messages.h"

#include <QElapsedTimer>
#include <QStringList>

namespace tarvik {

Operations::Operations(Panel& panel, Link& link, ReplyTimer& timer)
    : m_panel(panel), m_link(link), m_timer(timer), m_clock(&log::timestamp), m_now([] {
          static QElapsedTimer clock;
          if (!clock.isValid())
              clock.start();
          return clock.elapsed();
      })
{
    // A module that leaves its identity out is served without the check until it has shown it.
    m_talk.setUnidentifiedAllowed(true);
    m_talk.setListed([this](QByteArrayView identity) {
        return scanning::indexOf(m_state.Device_Table, m_state.Device_Count, identity) >= 0;
    });
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

void Operations::talkTo(const talk::Plan& plan, Running running)
{
    // Without a live entry there is no identity to build a frame from: nothing is sent, and the
    // time-out reports the failure.
    m_talk.setDevice(m_state.selectionIsLive() ? m_state.Device_Table[static_cast<size_t>(m_state.Sel_Device)]
                                               : Device());
    m_running = running;
    m_talk.start(plan);
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
        m_readBegin = log::begin(m_clock(), log::numbered(msg::kReadDevice, deviceNumber(), msg::kReadStarts));
        m_bareShown.clear();
        m_panel.setLogText(m_readBegin);
    }
    m_state.Op_Code = kFirstReadStage;
    // A restart of the read under way goes on with what its attempts before found; any other read
    // starts afresh.
    if (m_state.Retry_Count > 0 && m_running == Running::Read && m_talk.isActive() &&
        m_talk.device().identity == selectedIdentity().value_or(QByteArray())) {
        m_talk.restartPass();
    } else {
        talk::Plan plan;
        plan.task = talk::Task::Read;
        plan.retry = talk::Retry::RestartPass;
        plan.order = talk::tableOrder();
        talkTo(plan, Running::Read);
    }
    enable(kActionControls, false);
}

void Operations::taken(const Parameter& parameter, const decode::Value& value)
{
    // A write's read-back leaves the fields as the user made them.
    if (m_running != Running::Read)
        return;
    switch (value.kind) {
    case decode::Value::Entry:
        m_panel.setComboIndex(fieldOf(parameter), value.entry);
        break;
    case decode::Value::Text:
        m_panel.setFieldText(fieldOf(parameter), value.text);
        break;
    case decode::Value::Rejected:
        // Whatever the field showed (channels 3 and 4 keep the module read before) is not this
        // module's value.
        blankField(fieldOf(parameter));
        if (const char* error = msg::readError(parameter)) {
            m_bareOfPass = log::text(error);
            m_bareShown = m_bareOfPass;
            logReplaceBare(m_bareOfPass);
        }
        break;
    case decode::Value::Short: // the rule has measured it
        break;
    }
}

void Operations::endRead(bool succeeded, int passes)
{
    m_running = Running::Nothing;
    m_panel.holdValues(false);
    m_state.Retry_Count = 0;
    if (!succeeded) {
        enable({Control::Device_List, Control::Run_Device}, true);
        logAppend(log::numbered(msg::kReadDevice, deviceNumber(), msg::kParamsFailed, msg::kCheckAndRetry));
        return;
    }
    m_state.Op_Code = kLastReadStage;
    m_shownRead = selectedIdentity().value_or(QByteArray());
    enable(kActionControls, true);
    // Confirmed by a further pass: the log shows what that pass found, not an earlier one's error.
    if (passes > 1 && m_bareShown != m_bareOfPass) {
        if (m_bareOfPass.isEmpty())
            m_panel.setLogText(m_readBegin);
        else
            logReplaceBare(m_bareOfPass);
    }
    logAppend(log::numbered(msg::kReadDevice, deviceNumber(), msg::kReadSucceeded));
}

// ---- Write --------------------------------------------------------------------------------------

void Operations::Setting_Click()
{
    if (!requireSelection()) {
        // A restart that finds nothing selected ends the write it would have started again.
        if (m_running == Running::Write) {
            m_talk.abandon();
            m_running = Running::Nothing;
            m_state.Retry_Count = 0;
        }
        return;
    }
    if (m_state.Retry_Count == 0)
        logBegin(log::numbered(msg::kSetDevice, deviceNumber(), msg::kWriteStarts));
    m_state.Op_Code = kFirstWriteStage;
    if (m_state.Retry_Count > 0 && m_running == Running::Write && m_talk.isActive()) {
        m_talk.restartPass();
    } else {
        // Every field, in the table's order; read back only when anything unexpected happened,
        // as an acknowledgement is then no proof of which setting it answers.
        talk::Plan plan;
        plan.task = talk::Task::Write;
        plan.retry = talk::Retry::RestartPass;
        plan.order = talk::tableOrder();
        plan.verify = talk::Plan::Verify::InDoubt;
        talkTo(plan, Running::Write);
    }
    enable(kActionControls, false);
}

frames::FieldValue Operations::valueFor(const Parameter& parameter)
{
    // The field as it stands when its setting is built: an edit made during the write counts
    // while its setting has not gone out.
    return shownValue(m_panel, fieldOf(parameter));
}

// Every way out of a write (success, refusal, final time-out) leaves the same state behind.
void Operations::endWrite(const QString& outcome)
{
    m_running = Running::Nothing;
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
    m_state.Op_Code = kOpRestoreDefaults;
    talk::Plan plan;
    plan.task = talk::Task::Defaults;
    plan.retry = talk::Retry::RestartPass; // not repeated: the time-out reports it
    talkTo(plan, Running::Defaults);
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
        const Device& device = m_state.Device_Table[static_cast<size_t>(m_state.Sel_Device)];
        const bool sent = m_link.send(frames::resetAndRun(*identity), device.sendCard);
        logBegin(log::numbered(msg::kForDevice, deviceNumber(), sent ? msg::kResetSucceeded : msg::kResetFailed));

        // Nothing more goes to a module that runs now: a restore still waiting for it ends quietly.
        if (m_talk.isActive() && m_talk.device().identity == *identity) {
            m_talk.abandon();
            m_running = Running::Nothing;
        }
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
