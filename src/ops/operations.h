// The device operations: scan, read, write, restore defaults, reset and run, and their time-outs.
//
// Every operation follows one pattern: its request sets Op_Code to the reply it awaits, sends a
// frame and arms Timer1; the reply dispatcher routes each arriving datagram by Op_Code, and the
// timer handler decides by the same value what the silence means. A datagram is a read's, write's
// or restore's reply only when one is awaited and the datagram passes the reply rule (replyrule.h);
// otherwise it changes nothing.
#pragma once

#include "link/link.h"
#include "ops/panel.h"
#include "ops/readrecord.h"
#include "ops/replyrule.h"
#include "ops/replytimer.h"
#include "ops/state.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <initializer_list>
#include <optional>

namespace tarvik {

class Operations
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
    // after a scan every datagram is a discovery reply; otherwise a datagram that is not the reply
    // awaited (none is, once an operation has ended) is ignored.
    void Winsock_DataArrival(const QByteArray& datagram, int card = kAnyCard);

    // The start-up advice that begins the log.
    static QString startAdvice();
    // The log line when the tool's port cannot be bound, with the system's reason.
    static QString portUnavailable(quint16 port, const QString& reason);

    // Frame builders for the selected module.
    void Send_Query();
    void Send_Setting(const Parameter& parameter);
    void Write_Next();

    // Item text of a module in the device list: 设备 ( 001A2B3C4D5E ).
    static QString deviceItemText(QByteArrayView identity);

    // The identity of Sel_Device when it designates a live entry.
    std::optional<QByteArray> selectedIdentity() const;
    // The identity of the module whose completed read the fields show (with the user's edits since),
    // while it is listed and selected in the device list; none while a read runs or after one failed,
    // once Run_Device has blanked the fields, or while the selection is elsewhere.
    std::optional<QByteArray> shownModule() const;

private:
    void discoveryReply(const QByteArray& datagram, int card);
    void scanTimeout();
    void readReply(const Parameter& parameter, const QByteArray& datagram);
    // Takes the datagram as the answer of the read stage in flight and goes on with the next.
    void takeReadReply(const Parameter& parameter, const QByteArray& datagram);
    void endRead();
    void setAcknowledgement(const QByteArray& datagram);
    void endWrite(const QString& outcome);
    void defaultsAcknowledgement(const QByteArray& datagram);
    void readTimeout();
    void writeTimeout();

    // False, with the "no device selected" entry, when no item of the device list is selected.
    bool requireSelection();
    int deviceNumber() const { return m_state.Sel_Device + 1; }
    // The card of Sel_Device when it designates a live entry; kAnyCard otherwise.
    int selectedCard() const;
    // The reply rule for the selected module, with the listed modules as the others.
    rule::Verdict judge(const Parameter* awaited, const QByteArray& datagram, int card) const;
    // Whether `identity` (six bytes) is the identity of a listed module.
    bool isListed(QByteArrayView identity) const;
    // Removes entry `index` of the table; the entries after it move down with their cards.
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
    void armTimer();
    // Arms Timer1 for the reply of a read, write or restore: one is awaited until it comes or the
    // operation ends.
    void awaitReply();

    void logBegin(const QString& message);
    void logAppend(const QString& message);
    void logReplaceBare(const QString& message);

    Panel& m_panel;
    Link& m_link;
    ReplyTimer& m_timer;
    OperationState m_state;
    std::function<QString()> m_clock;
    std::function<qint64()> m_now;
    // The "table full" entry is written once until a scan starts or a module is removed.
    bool m_tableFullNoted = false;
    // Of the scan in progress: whether any of its broadcasts went out, the system's reason why
    // the last one did not, and which listed modules have answered it (the card of a module's
    // first answer in a scan is its card from then on).
    bool m_scanSent = false;
    QString m_scanError;
    std::array<bool, kDeviceTableSize> m_answeredScan{};
    ReadRecord m_read;
    // The identity of the module whose read the fields show since it completed; empty: none.
    QByteArray m_shownRead;
};

} // namespace tarvik
