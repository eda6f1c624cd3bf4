// Stand-ins for the window and the endpoint, so that the operations run without widgets or sockets.
#pragma once

#include "link/link.h"
#include "ops/operations.h"
#include "ops/panel.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>

namespace tarvik::test {

// Records every frame handed to it with the card it went through; send() fails while `failSends` is
// set. A broadcast goes once through each of `cards` (none: once through the routing table, card
// kAnyCard), except through the cards in `failingCards`.
class FakeLink : public Link
{
public:
    bool send(const QByteArray& payload, int card) override
    {
        if (failSends || failingCards.contains(card))
            return false;
        sent.append(payload);
        sentCards.append(card);
        return true;
    }
    BroadcastReport broadcast(const QByteArray& payload) override
    {
        ++broadcasts;
        BroadcastReport report;
        for (int card : cards)
            report.cards.append({card, QStringLiteral("card%1").arg(card), QStringLiteral("10.0.%1.1").arg(card)});
        if (report.cards.isEmpty()) {
            report.routed = send(payload, kAnyCard);
            if (!report.routed)
                report.error = error;
        }
        for (const Card& card : std::as_const(report.cards)) {
            if (send(payload, card.index))
                report.sentOn.append(card);
            else
                report.error = card.name + QStringLiteral(": ") + error;
        }
        return report;
    }
    QByteArray last() const { return sent.isEmpty() ? QByteArray() : sent.last(); }
    // The frames that went through `card`.
    QList<QByteArray> sentThrough(int card) const
    {
        QList<QByteArray> result;
        Q_ASSERT(sentCards.size() == sent.size());
        for (qsizetype i = 0; i < sent.size(); ++i) {
            if (sentCards[i] == card)
                result.append(sent[i]);
        }
        return result;
    }
    void clear()
    {
        sent.clear();
        sentCards.clear();
    }

    QList<QByteArray> sent;
    QList<int> sentCards; // paired with `sent`
    QList<int> cards;     // the usable cards a broadcast finds
    QList<int> failingCards;
    bool failSends = false;
    QString error = QStringLiteral("Network unreachable");
    int broadcasts = 0;
};

// The window as a plain record: fields, enabled flags, list items, log text and timer state.
// The log keeps at most `logLineLimit` lines, like the window's.
class FakePanel : public Panel, public ReplyTimer
{
public:
    FakePanel();

    int comboIndex(Field field) const override { return m_index[idx(field)]; }
    void setComboIndex(Field field, int index) override;
    QString fieldText(Field field) const override { return m_text[idx(field)]; }
    void setFieldText(Field field, const QString& text) override { m_text[idx(field)] = text; }
    void setControlEnabled(Control control, bool enabled) override { m_enabled[static_cast<int>(control)] = enabled; }
    int selectedDevice() const override { return selected; }
    void insertDevice(int position, const QString& text) override;
    void removeDevice(int position) override;
    void setLogText(const QString& text) override;
    void appendLogText(const QString& text) override;
    void arm(int milliseconds) override
    {
        timerRunning = true;
        timerInterval = milliseconds;
        ++timerArms;
    }
    void stop() override { timerRunning = false; }

    bool isEnabled(Control control) const { return m_enabled[static_cast<int>(control)]; }
    // The device list and the three action buttons, which reads and writes disable and enable.
    void setActionsEnabled(bool enabled);
    bool actionsEnabled(bool enabled) const;
    // Every field shows something (text "7", entry 1), so that blanking is visible.
    void fillFields();
    bool isBlank(Field field) const;
    int blankFields() const;
    // Number of entries of each drop-down, as the window fills them.
    static int entryCount(Field field);

    QStringList items;
    int selected = -1;
    QString log;        // read it; write it through setLogText()
    int appends = 0;    // entries appended so far
    QString lastAppend; // the last one
    bool timerRunning = false;
    int timerInterval = 0;
    int timerArms = 0;
    int logLineLimit = 1000;

private:
    static size_t idx(Field field) { return static_cast<size_t>(field); }
    void trimLog();
    static constexpr QStringView kLineBreak = u"\r\n";

    std::array<int, kFieldCount> m_index{};
    std::array<QString, kFieldCount> m_text{};
    std::array<bool, 8> m_enabled{};
    qsizetype m_logLines = 1; // lines in `log`, an empty one included
};

// Identity of test module n (1-based): 02 00 00 00, then n in two bytes. Its discovery reply carries three more
// bytes, so a frame that copies more than the identity shows it.
QByteArray identity(int n);
QByteArray discoveryReply(int n);
// A reply as a module sends it: its identity, then `payload` from byte 6 on.
QByteArray moduleReply(const QByteArray& payload, int module = 1);
// An accepted value for the parameter of a read stage, as a module sends it from byte 6 on
// ("01" for a stage without a parameter).
QByteArray sampleValue(int stage);
// The command of each request frame: the code and channel digit after "AT" ("ET", "SR1").
QStringList commands(const QList<QByteArray>& frames);

// The operations wired to the stand-ins. The clock gives "T1", "T2", ... so a log test sees
// exactly which writes stamped it.
struct Rig
{
    Rig();
    // Lists modules 1..n through discovery replies (Op_Code is 0 before any other operation),
    // arrived on `card`.
    void discover(int n, int card = kAnyCard);
    // Makes `index` the module the last pick designated, without a read.
    void select(int index);
    // Brings the operations to await the reply `opCode` names, with module 1 (listed first) picked,
    // the way its answers lead there: a read or a write under way, restoring defaults waiting, the
    // scan. A value the operations never wait under is only set: nothing awaits a reply then, and
    // the result is false.
    bool bringTo(qint16 opCode);
    QString stamp(int n) const { return QStringLiteral("T%1").arg(n); }

    FakePanel panel;
    FakeLink link;
    Operations ops{panel, link, panel};
    OperationState& state = ops.state();
    int stamps = 0;
};

} // namespace tarvik::test
