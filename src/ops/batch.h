// Conversations with many modules at once, for the command-line program (and its tests and fuzzing):
// no widgets and no sockets; the world is reached through `Wire`.
//
// Each module runs a chain of exchanges: one request, then its reply or the 400 ms time-out, then
// the next. A lost reply repeats that one exchange, at most kMaxRetries times. A module never has
// more than one request outstanding; `jobs` bounds how many modules are in conversation at once.
//
// Replies carry no command code, so every reply must pass the reply rule (replyrule.h) before it
// is taken: the module's card, its identity, a length that fits the awaited layout (a digit reply
// is 8-10 bytes, a number 11-20, an address 21 or more; an acknowledgement 8 or more), digits where
// a number's or an address's digits belong. A read queries the parameters in an order in which no
// two neighbours share a layout, so a late or repeated copy of the previous reply never fits the
// exchange in flight.
//  - A module that answers without its identity: when every attempt of its first exchange went
//    without a reply that carries its identity, but a datagram that would be its answer save for the
//    identity came on its card, it is handled alone, after the others, when nothing else is in
//    flight. Its replies are then taken without the identity check; should one carry its identity
//    after all, what was taken without it may have been a stranger's, and the module fails (a module
//    seen with its identity before is never served without the check). A reply that carries the
//    identity of another module of the run or of the scan is never taken. A module whose replies
//    never arrive, while a stranger answers in its place, cannot be told from one that leaves its
//    identity out.
//  - a copy of an earlier reply of the chain, while that exchange may still owe copies (it was
//    sent more than once and answered once), is taken as that late copy and dropped. If the
//    exchange in flight then times out, the dropped datagram was its answer after all; the repeat
//    gets the answer again, and the count of copies owed is corrected so nothing cascades.
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/paramfile.h"
#include "ops/replyrule.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

namespace tarvik::batch {

enum class Task : quint8
{
    Read,
    Write,
    Defaults,
    Reset
};

struct Module
{
    QByteArray identity;          // six bytes
    int card = 0;                 // card its discovery reply came on (0: not known, any card)
    int sendCard = 0;             // card its requests go out through (0: by the routing table)
    QByteArray discovery;         // its discovery reply: a late copy of it is never taken as an answer
    bool carriesIdentity = false; // seen answering with its identity: never served without the check
};

struct Job
{
    Module module;
    Task task = Task::Read;
    paramfile::Values values; // Write: the values to set; fields without a value are not sent
    bool verify = true;       // Write: then read back every value set and compare
    // Read: only these parameters (their indexes in kParameters), queried in readOrder(); empty: all.
    QList<int> only;
};

struct Outcome
{
    bool ok = false;
    QString error;                // why the module failed, in English
    paramfile::Values values;     // Read, and a write verified, restoring defaults: the values read
    bool verified = false;        // Write: every value set was read back and matched
    int retries = 0;              // requests repeated
    bool alone = false;           // handled alone: its replies do not carry its identity
    bool carriesIdentity = false; // it answered with its identity
};

// What the engine needs of the world. Timers are one per job, by the job's index.
class Wire
{
public:
    virtual ~Wire() = default;
    virtual bool send(const QByteArray& frame, int card) = 0;
    // The system's reason why the last send failed.
    virtual QString sendError() const { return {}; }
    virtual void arm(int job, int milliseconds) = 0;
    virtual void stop(int job) = 0;
    // Remarks for standard error.
    virtual void notice(const QString& text) { Q_UNUSED(text); }
    // A module finished, or an exchange was answered. `stage` names the module and what it does; the
    // text is built only when asked for, as most progress is never shown.
    virtual void progress(int done, int total, const std::function<QString()>& stage)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
        Q_UNUSED(stage);
    }
    virtual void finished() {}
};

// One request of a module's chain and what answers it.
struct Exchange
{
    const Parameter* parameter = nullptr; // nullptr: restore defaults, reset
    QByteArray frame;                     // empty: the value cannot be sent
    enum Expect
    {
        Value,
        Ack,
        Nothing
    } expect = Value;
};

// The exchanges of a job, in order.
QList<Exchange> chainOf(const Job& job);

// The order a read queries the parameters in: the table's order, rearranged so that no two
// neighbours have replies of the same layout class (digit, number, address).
const std::vector<const Parameter*>& readOrder();
// The same for some parameters; `afterAcknowledgement`: the first is not of the one-digit class, as
// a late copy of an "OK" has that length.
std::vector<const Parameter*> queryOrder(const std::vector<const Parameter*>& parameters, bool afterAcknowledgement);

// The frames a job sends when nothing goes wrong, in order (for --dry-run and the tests).
QList<QByteArray> plannedFrames(const Job& job);

class Engine
{
public:
    // jobs: modules in conversation at once; 0 or less: all.
    Engine(Wire& wire, int jobs = 0);

    // `listed`: the identities of every module the scan found (those of the jobs among them); a reply
    // that carries one of them answers no other module.
    void start(const QList<Job>& jobs, const QList<QByteArray>& listed = {});
    void arrival(const QByteArray& datagram, int card);
    void expired(int job);

    bool isFinished() const { return m_done == static_cast<int>(m_runs.size()); }
    QList<Outcome> outcomes() const;

private:
    struct Echo
    {
        QByteArray bytes;
        int owed = 0;
    };
    struct Run
    {
        Job job;
        Outcome outcome;
        QList<Exchange> chain;
        int step = 0;
        int attempts = 0; // of the exchange in flight
        int unsent = 0;   // of those, the ones whose frame could not be sent
        QString sendError;
        QByteArray garbled; // the module's reply to the exchange in flight that was not digits
        int sends = 0;      // requests sent, repeats included
        int reached = 0;    // steps whose request went out at least once
        int eaten = 0;      // datagrams of the exchange in flight taken as late copies
        enum State
        {
            Waiting,
            Active,
            Done
        } state = Waiting;
        bool unidentifiedSeen = false;  // a datagram fit to be its answer but for the identity
        bool unidentifiedTaken = false; // an answer without its identity was taken
        QList<Echo> echoes;
    };

    void schedule();
    void begin(int index);
    void send(int index);
    void receive(int index, const QByteArray& datagram, int card);
    rule::Verdict judge(const Run& run, bool identityChecked, const QByteArray& datagram, int card) const;
    bool isListed(QByteArrayView identity) const;
    void accept(int index, const QByteArray& datagram);
    void advance(int index);
    void finish(int index, const QString& error);
    // A write verified: one line per value the module does not hold as written; empty when all match.
    QString verification(Run& run) const;
    QString stageText(const Run& run) const;

    Wire& m_wire;
    int m_limit;
    std::vector<Run> m_runs;
    QList<QByteArray> m_listed; // identities of the modules found, beyond the jobs'
    QList<int> m_aloneQueue;    // runs waiting to be handled alone
    int m_active = 0;
    int m_done = 0;
    int m_aloneActive = -1;
};

} // namespace tarvik::batch
