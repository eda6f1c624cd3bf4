// A LAN in one process, on a clock of its own: modules that answer what the tool sends them, a
// network that loses, delays and copies datagrams on demand, and strangers. The tool's side is a
// talk::Port (or the window's Link and Timer1, through the same calls), so that a conversation or the
// window's operations run through whole sequences of faults deterministically and fast.
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/conversation.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace tarvik::test {

// A module: its identity, its discovery reply, and what it holds (each parameter's reply, from byte
// 6 on, in its fixed-width form).
struct FakeModule
{
    QByteArray identity;
    QByteArray discovery;
    std::array<QByteArray, kParameterCount> holds;
    std::array<QByteArray, kParameterCount> factory; // what ATDF puts back
    bool leavesIdentityOut = false;                  // answers with six zero bytes where its identity belongs

    // Module n (test::identity(n)): a value of its own for every parameter, different between
    // parameters and modules wherever the layout allows; its discovery reply carries its own address
    // after the identity, as the simulator's does.
    static FakeModule number(int n);
    QByteArray& value(const char* name) { return holds[static_cast<size_t>(fieldNamed(name))]; }
    // The value it holds, as a read decodes it.
    frames::FieldValue held(const Parameter& parameter) const;
    // Its answer to a frame (empty: none): a query's value, "OK" to a setting it takes and to ATDF.
    QByteArray answer(const QByteArray& frame);
};

// The parameter a query or a setting frame names; none for any other frame.
const Parameter* parameterOfFrame(const QByteArray& frame);

class FakePanel;
// Whether every field of the window shows what `module` holds; a warning names the first that does not.
bool showsAll(const FakePanel& panel, const FakeModule& module);

// What the network does to the datagrams of one kind of request: the request's key is the
// simulator's ("GA?" a query, "GA=" a setting, "DF", "END"), `occurrence` counts them from 1 (0:
// every one). A delay or drop applies to the module's reply.
struct Fault
{
    enum Kind
    {
        Delay,
        Drop,
        Discovery, // lost, and the module's discovery reply (to another PC's SETUP) comes in its place
        Copy,      // comes twice, the copy right after it (a network that copies once)
    } kind = Drop;
    QByteArray key;
    int occurrence = 0;
    int ms = 0;
};
// Faults in the simulator's syntax: "1000:DA1?#1" delays, "drop:DA3?#1" drops, "discovery:GA?#1" puts
// the module's discovery reply in the lost reply's place, and "copy:ET?#2" (the fake's own) brings
// the reply twice; separated by blanks.
QList<Fault> faults(const QString& script);

class FakeLan : public talk::Port
{
public:
    // How long a module takes to answer.
    static constexpr int kLatencyMs = 2;

    QList<FakeModule> modules;
    QList<Fault> rules;
    bool copiesEverything = false; // every datagram arrives twice
    int lossPercent = 0;           // of the modules' replies, lost at random (a fixed seed)
    int card = 0;                  // the card the tool hears the modules on

    // talk::Port
    bool send(const QByteArray& frame, int card) override;
    void arm(int milliseconds) override { m_deadline = m_now + milliseconds; }
    void stop() override { m_deadline.reset(); }
    qint64 now() const override { return m_now; }

    // A datagram that arrives at `atMs` from something else on the LAN (a stranger, another PC).
    void inject(const QByteArray& datagram, qint64 atMs, int card = 0);
    // Runs until nothing is in flight and no time-out is armed (or the clock reaches `untilMs`):
    // datagrams go to `deliver`, expiries to `expire`, in the order of their times.
    void run(const std::function<void(const QByteArray&, int)>& deliver, const std::function<void()>& expire,
             qint64 untilMs = 60000);
    void advance(qint64 ms) { m_now += ms; }

    QList<QByteArray> sent;

private:
    struct InFlight
    {
        qint64 at;
        QByteArray datagram;
        int card;
    };
    void schedule(qint64 at, const QByteArray& datagram, int card);

    qint64 m_now = 0;
    std::optional<qint64> m_deadline;
    QList<InFlight> m_inFlight;   // in time order
    QMap<QByteArray, int> m_seen; // requests of each key so far
    quint32 m_random = 12345;
};

} // namespace tarvik::test
