// Conversations with many modules at once, for the command-line program (and its tests and fuzzing):
// no widgets and no sockets; the world is reached through a Sender, the Timers and Progress.
//
// Each module is one conversation (conversation.h): one request at a time, its reply or the 400 ms
// time-out, then the next; a lost reply repeats that one request, at most kMaxRetries times. A read
// queries the parameters in an order in which no two neighbours share a reply layout, so that a copy
// of the previous reply never fits the exchange in flight; a write reads back what it set. `jobs`
// bounds how many modules are in conversation at once.
//
// A module that answers without its identity: when every attempt of its first request went without
// a reply that carries its identity, but a datagram that would be its answer save for the identity
// came on its card, it is handled alone, after the others, when nothing else is in flight. Its
// replies are then taken without the identity check, and in doubt: what they give is confirmed by a
// second pass. A reply that carries the identity of another module of the run or of the scan is never
// taken; once the module has shown its own identity, every reply must carry it.
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"
#include "ops/conversation.h"
#include "ops/device.h"
#include "ops/paramfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace tarvik::batch {

enum class Task : quint8
{
    Read,
    Write,
    Defaults,
    Reset
};

// A module as the scan found it: identity, cards, discovery reply, whether it shows its identity.
using Module = Device;

struct Job
{
    Module module;
    Task task = Task::Read;
    paramfile::Values values; // Write: the values to set; fields without a value are not sent
    bool verify = true;       // Write: then read back every value set and compare (in doubt, always)
    // Read: only these parameters (their indexes in kParameters), queried in readOrder(); empty: all.
    QList<int> only;
};

struct Outcome
{
    bool ok = false;
    QString error;                // why the module failed, in English
    paramfile::Values values;     // Read, and a write verified, restoring defaults: the values read
    bool verified = false;        // Write: every value set was read back and matched
    int retries = 0;              // requests sent again
    bool alone = false;           // handled alone: its replies do not carry its identity
    bool carriesIdentity = false; // it answered with its identity
};

// What the engine needs of the world: sending,
class Sender
{
public:
    virtual ~Sender() = default;
    virtual bool send(const QByteArray& frame, int card) = 0;
    // The system's reason why the last send failed.
    virtual QString sendError() const { return {}; }
};

// the time-outs (one per job, by the job's index) and the clock,
class Timers
{
public:
    virtual ~Timers() = default;
    virtual void arm(int job, int milliseconds) = 0;
    virtual void stop(int job) = 0;
    // A monotonic clock, in milliseconds.
    virtual qint64 now() const = 0;
};

// and whoever follows the run.
class Progress
{
public:
    virtual ~Progress() = default;
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

using talk::queryOrder;
using talk::readOrder;

// The plan of a job: what the module is asked, in which order.
talk::Plan planOf(const Job& job);
// The frames a job sends when nothing goes wrong, in order (for --dry-run and the tests).
QList<QByteArray> plannedFrames(const Job& job);

class Engine
{
public:
    // jobs: modules in conversation at once; 0 or less: all.
    Engine(Sender& sender, Timers& timers, Progress& progress, int jobs = 0);
    ~Engine();

    // `listed`: every module the scan found (those of the jobs among them); a reply that carries one
    // of their identities answers no other module.
    void start(const QList<Job>& jobs, const QList<Module>& listed = {});
    void arrival(const QByteArray& datagram, int card);
    void expired(int index);

    bool isFinished() const { return m_done == static_cast<int>(m_runs.size()); }
    QList<Outcome> outcomes() const;

private:
    struct Run;

    void schedule();
    void begin(int index);
    bool isListed(QByteArrayView identity) const;
    void finish(int index, const talk::Result& result);
    void finish(int index, const QString& error);
    QString stageText(const Run& run) const;

    Sender& m_sender;
    Timers& m_timers;
    Progress& m_progress;
    int m_limit;
    std::vector<std::unique_ptr<Run>> m_runs;
    QList<Module> m_listed;  // every module found, and the jobs'
    QList<int> m_aloneQueue; // runs waiting to be handled alone
    int m_active = 0;
    int m_done = 0;
    int m_aloneActive = -1;
};

} // namespace tarvik::batch
