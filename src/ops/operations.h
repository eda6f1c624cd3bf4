// The device operations as the window sees them: scan, read, write, restore defaults, reset and run,
// and their time-outs.
//
// Every operation follows one pattern: its request sets Op_Code to the reply it awaits and starts the
// conversation with the selected module (conversation.h), which sends the frame and arms Timer1; the
// reply dispatcher hands each arriving datagram to the scan while Op_Code is 0 and to the conversation
// otherwise, and the timer handler decides by Op_Code what the silence means. The conversation judges
// every datagram; what it does not take changes nothing here.
#pragma once

#include "link/link.h"
#include "ops/conversation.h"
#include "ops/panel.h"
#include "ops/replytimer.h"
#include "ops/state.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <initializer_list>
#include <optional>

namespace tarvik {

class Operations : private talk::Port, private talk::Listener
{
public:
    Operations(Panel& panel, Link& link, ReplyTimer& timer);

    OperationState& state() { return m_state; }
    const OperationState& state() const { return m_state; }
    // Source of the log's time stamps (tests fix it).
    void setClock(std::function<QString()> clock) { m_clock = std::move(clock); }
    // A monotonic clock in milliseconds, for how late a reply may come (tests fix it).
    void setMonotonicClock(std::function<qint64()> clock) { m_now = std::move(clock); }

    // Requests: the click handlers of the window; the timer handler calls the first three again.
    void Scan_Click();
    void Device_List_Click();
    void Setting_Click();
    void L_Default_Click();
    void Run_Device_Click();
    // A pick in the device list by the user (a new selection, or Enter or a click on the selected
    // item): a new read, whatever an overtaken read left behind; nothing when no item is selected.
    void pickDevice();

    void Timer1_Timer();
    // The reply dispatcher: one call per arriving datagram, with the card it arrived on. During and
    // after a scan every datagram is a discovery reply; otherwise the conversation with the selected
    // module judges it.
    void Winsock_DataArrival(const QByteArray& datagram, int card = kAnyCard);

    // The start-up advice that begins the log.
    static QString startAdvice();
    // The log line when the tool's port cannot be bound, with the system's reason.
    static QString portUnavailable(quint16 port, const QString& reason);

    // Item text of a module in the device list: 设备 ( 001A2B3C4D5E ).
    static QString deviceItemText(QByteArrayView identity);

    // The identity of Sel_Device when it designates a live entry.
    std::optional<QByteArray> selectedIdentity() const;
    // The identity of the module whose completed read the fields show (with the user's edits since),
    // while it is listed and selected in the device list; none while a read runs or after one failed,
    // once Run_Device has blanked the fields, or while the selection is elsewhere.
    std::optional<QByteArray> shownModule() const;
    // Whether a read, write or restore is waiting for the module's reply.
    bool isBusy() const { return m_talk.isActive(); }
    // The module the operation in progress (or the last one) talks to.
    const Device& addressed() const { return m_talk.device(); }

private:
    enum class Running : quint8
    {
        Nothing,
        Read,
        Write,
        Defaults
    };

    // talk::Port: the endpoint, Timer1, the clock.
    bool send(const QByteArray& frame, int card) override { return m_link.send(frame, card); }
    void arm(int milliseconds) override { m_timer.arm(milliseconds); }
    void stop() override { m_timer.stop(); }
    qint64 now() const override { return m_now(); }
    // talk::Listener: Op_Code follows the request in flight, the fields the values read.
    void sending(const talk::Step& step, int attempt, bool afterAnswer) override;
    void passBegins() override { m_bareOfPass.clear(); }
    frames::FieldValue valueFor(const Parameter& parameter) override;
    void taken(const Parameter& parameter, const decode::Value& value) override;
    void finished(const talk::Result& result) override;

    void discoveryReply(const QByteArray& datagram, int card);
    void scanTimeout();
    // Starts the conversation with the module Sel_Device designates (none: nothing can answer).
    void talkTo(const talk::Plan& plan, Running running);
    void endRead(bool succeeded, int passes);
    void endWrite(const QString& outcome);

    // False, with the "no device selected" entry, when no item of the device list is selected.
    bool requireSelection();
    int deviceNumber() const { return m_state.Sel_Device + 1; }
    // Removes entry `index` of the table; the entries after it move down.
    void removeEntry(int index);
    void blankField(Field field);
    template <typename Controls> void enable(const Controls& controls, bool enabled)
    {
        for (Control control : controls)
            m_panel.setControlEnabled(control, enabled);
    }
    void enable(std::initializer_list<Control> controls, bool enabled)
    {
        enable<std::initializer_list<Control>>(controls, enabled);
    }

    void logBegin(const QString& message);
    void logAppend(const QString& message);
    void logReplaceBare(const QString& message);

    Panel& m_panel;
    Link& m_link;
    ReplyTimer& m_timer;
    OperationState m_state;
    std::function<QString()> m_clock;
    std::function<qint64()> m_now;
    talk::Conversation m_talk{*this, *this};
    Running m_running = Running::Nothing;
    // The "table full" entry is written once until a scan starts or a module is removed.
    bool m_tableFullNoted = false;
    // Of the scan in progress: whether any of its broadcasts went out, the system's reason why
    // the last one did not, and what it has heard of each listed module.
    bool m_scanSent = false;
    QString m_scanError;
    std::array<scanning::Heard, kDeviceTableSize> m_heard{};
    // The identity of the module whose read the fields show since it completed; empty: none.
    QByteArray m_shownRead;
    // Of the read in progress: the log's begin entry, and the message of a value rejected that
    // replaced it (empty: none), so that a read confirmed by a further pass shows that pass's.
    QString m_readBegin;
    QString m_bareShown;
    QString m_bareOfPass;
};

} // namespace tarvik
