#include "batch.h"

#include "link/wirelog.h"
#include "ops/dispatch.h"
#include "ops/replyrule.h"

#include <algorithm>

namespace tarvik::batch {

namespace {

QString fieldName(const Parameter& p)
{
    return QString::fromLatin1(p.name);
}

QString commandText(const Parameter& p)
{
    return QString::fromLatin1(p.code) + (p.channel ? QString(QLatin1Char(p.channel)) : QString());
}

// The written parameters, in the table's order: the order the settings go out in.
std::vector<const Parameter*> written(const Job& job)
{
    std::vector<const Parameter*> parameters;
    for (const Parameter& p : kParameters) {
        if (job.values[static_cast<size_t>(indexOf(p))])
            parameters.push_back(&p);
    }
    return parameters;
}

} // namespace

talk::Plan planOf(const Job& job)
{
    talk::Plan plan;
    plan.retry = talk::Retry::RepeatExchange;
    switch (job.task) {
    case Task::Read:
        plan.task = talk::Task::Read;
        for (const Parameter* p : readOrder()) {
            if (job.only.isEmpty() || job.only.contains(indexOf(*p)))
                plan.order.push_back(p);
        }
        break;
    case Task::Write:
        plan.task = talk::Task::Write;
        plan.order = written(job);
        // Without --verify a write in doubt is read back all the same.
        plan.verify = job.verify ? talk::Plan::Verify::Always : talk::Plan::Verify::InDoubt;
        break;
    case Task::Defaults:
        plan.task = talk::Task::Defaults;
        // The tool does not know the factory values: what the module holds now is read and reported.
        plan.readAfterDefaults = true;
        break;
    case Task::Reset:
        plan.task = talk::Task::Reset;
        break;
    }
    return plan;
}

QList<QByteArray> plannedFrames(const Job& job)
{
    const QByteArray& id = job.module.identity;
    const talk::Plan plan = planOf(job);
    QList<QByteArray> frames;
    switch (plan.task) {
    case talk::Task::Read:
        for (const Parameter* p : plan.order)
            frames << frames::query(id, *p);
        break;
    case talk::Task::Write:
        for (const Parameter* p : plan.order)
            frames << frames::setting(id, *p, *job.values[static_cast<size_t>(indexOf(*p))]).value_or(QByteArray());
        if (plan.verify == talk::Plan::Verify::Always) {
            for (const Parameter* p : talk::readBackOrder(plan))
                frames << frames::query(id, *p);
        }
        break;
    case talk::Task::Defaults:
        frames << frames::restoreDefaults(id);
        for (const Parameter* p : talk::readBackOrder(plan))
            frames << frames::query(id, *p);
        break;
    case talk::Task::Reset:
        frames << frames::resetAndRun(id);
        break;
    }
    return frames;
}

// One job: its conversation, and what the engine knows of it.
struct Engine::Run : talk::Port, talk::Listener
{
    Run(Engine& engine, int index, Job job) : engine(engine), index(index), job(std::move(job)), talk(*this, *this) {}

    // talk::Port
    bool send(const QByteArray& frame, int card) override { return engine.m_sender.send(frame, card); }
    QString sendError() const override { return engine.m_sender.sendError(); }
    void arm(int milliseconds) override { engine.m_timers.arm(index, milliseconds); }
    void stop() override { engine.m_timers.stop(index); }
    qint64 now() const override { return engine.m_timers.now(); }
    // talk::Listener
    void sending(const talk::Step&, int, bool afterAnswer) override
    {
        if (afterAnswer)
            engine.m_progress.progress(engine.m_done, static_cast<int>(engine.m_runs.size()),
                                       [this] { return engine.stageText(*this); });
    }
    frames::FieldValue valueFor(const Parameter& parameter) override
    {
        return job.values[static_cast<size_t>(indexOf(parameter))].value_or(frames::FieldValue());
    }
    void finished(const talk::Result& result) override { engine.finish(index, result); }

    Engine& engine;
    int index;
    Job job;
    Outcome outcome;
    talk::Conversation talk;
    enum State
    {
        Waiting,
        Active,
        Done
    } state = Waiting;
    bool unidentifiedSeen = false; // a datagram fit to be its answer but for the identity
    int sendsBefore = 0;           // requests sent before it was set aside to be handled alone
};

Engine::Engine(Sender& sender, Timers& timers, Progress& progress, int jobs)
    : m_sender(sender), m_timers(timers), m_progress(progress), m_limit(jobs)
{
}

Engine::~Engine() = default;

void Engine::start(const QList<Job>& jobs, const QList<Module>& listed)
{
    m_listed = listed;
    m_runs.clear();
    m_aloneQueue.clear();
    m_active = m_done = 0;
    m_aloneActive = -1;
    m_runs.reserve(static_cast<size_t>(jobs.size()));
    for (const Job& job : jobs) {
        if (scanning::indexOf(m_listed, static_cast<int>(m_listed.size()), job.module.identity) < 0)
            m_listed.append(job.module);
        auto run = std::make_unique<Run>(*this, static_cast<int>(m_runs.size()), job);
        run->talk.setDevice(job.module);
        run->talk.setListed([this](QByteArrayView identity) { return isListed(identity); });
        run->outcome.carriesIdentity = job.module.carriesIdentity;
        m_runs.push_back(std::move(run));
    }
    if (m_runs.empty()) {
        m_progress.finished();
        return;
    }
    schedule();
}

QList<Outcome> Engine::outcomes() const
{
    QList<Outcome> result;
    for (const auto& run : m_runs)
        result.append(run->outcome);
    return result;
}

void Engine::schedule()
{
    // Modules handled alone wait until nothing else is in flight, and nothing starts beside them.
    for (size_t i = 0; i < m_runs.size() && m_aloneActive < 0; ++i) {
        if (m_limit > 0 && m_active >= m_limit)
            return;
        if (m_runs[i]->state == Run::Waiting && !m_aloneQueue.contains(static_cast<int>(i)))
            begin(static_cast<int>(i));
    }
    if (m_aloneActive < 0 && m_active == 0 && !m_aloneQueue.isEmpty()) {
        m_aloneActive = m_aloneQueue.takeFirst();
        begin(m_aloneActive);
    }
}

void Engine::begin(int index)
{
    Run& run = *m_runs[static_cast<size_t>(index)];
    run.state = Run::Active;
    ++m_active;
    // Nothing goes out to a module one of whose values cannot be sent.
    for (const Parameter* p : written(run.job)) {
        if (run.job.task == Task::Write &&
            !frames::setting(run.job.module.identity, *p, *run.job.values[static_cast<size_t>(indexOf(*p))])) {
            finish(index, QStringLiteral("a value cannot be sent: %1").arg(fieldName(*p)));
            return;
        }
    }
    // Only the module handled alone that has not shown its identity is served without the check.
    run.talk.setUnidentifiedAllowed(index == m_aloneActive);
    run.talk.start(planOf(run.job));
}

bool Engine::isListed(QByteArrayView identity) const
{
    return scanning::indexOf(m_listed, static_cast<int>(m_listed.size()), identity) >= 0;
}

void Engine::arrival(const QByteArray& datagram, int card)
{
    if (datagram.size() < frames::kIdentitySize || isFinished()) {
        wire::notTaken(datagram, card, QStringLiteral("nothing awaited"));
        return;
    }
    const QByteArrayView identity(datagram.constData(), frames::kIdentitySize); // looked at in place
    for (const auto& run : m_runs) {
        if (QByteArrayView(run->job.module.identity) != identity)
            continue;
        run->talk.arrival(datagram, card);
        run->outcome.carriesIdentity = run->outcome.carriesIdentity || run->talk.device().carriesIdentity;
        return;
    }
    if (isListed(identity)) {
        wire::notTaken(datagram, card, rule::why(rule::Verdict::OtherModule));
        return;
    }
    // No module found carries this identity: the reply of one that answers without it, or a
    // stranger's. Only the module handled alone may take it, and only until it has shown its own.
    if (m_aloneActive >= 0) {
        m_runs[static_cast<size_t>(m_aloneActive)]->talk.arrival(datagram, card);
        return;
    }
    // Otherwise it tells whether a module whose first request is unanswered may leave its identity out.
    for (const auto& run : m_runs) {
        if (run->state == Run::Active && run->talk.answers() == 0 && !run->talk.device().carriesIdentity &&
            run->talk.fitsWithoutIdentity(datagram, card))
            run->unidentifiedSeen = true;
    }
    wire::notTaken(datagram, card, QStringLiteral("it carries an identity that no module found has"));
}

void Engine::expired(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_runs.size())
        return;
    Run& run = *m_runs[static_cast<size_t>(index)];
    if (run.state != Run::Active)
        return;
    if (!run.outcome.alone && run.talk.answers() == 0 && !run.talk.device().carriesIdentity && run.unidentifiedSeen &&
        run.talk.spent()) {
        run.sendsBefore = run.talk.sends();
        run.talk.abandon();
        run.state = Run::Waiting;
        run.outcome.alone = true;
        --m_active;
        m_aloneQueue.append(index);
        m_progress.notice(
            QStringLiteral("%1: its replies do not carry its identity; it is handled alone, after the others")
                .arg(paramfile::identityText(run.job.module.identity)));
        schedule();
        return;
    }
    run.talk.expired();
}

void Engine::finish(int index, const talk::Result& result)
{
    Run& run = *m_runs[static_cast<size_t>(index)];
    Outcome& outcome = run.outcome;
    outcome.retries = result.retries + run.sendsBefore;
    outcome.carriesIdentity = outcome.carriesIdentity || run.talk.device().carriesIdentity;
    outcome.values = result.values;
    const Parameter* p = result.parameter;
    const auto request = [&]() {
        if (!p)
            return QStringLiteral("the restore-defaults request (DF)");
        return QStringLiteral("the %1 of %2 (%3)")
            .arg(run.talk.awaited().kind == talk::Step::Setting ? QStringLiteral("setting") : QStringLiteral("query"),
                 fieldName(*p), commandText(*p));
    };
    // A value out of range is the reason first: the read and a read-back end with it.
    QString error;
    if (!result.outOfRange.isEmpty() &&
        (result.ending == talk::Result::Succeeded || result.ending == talk::Result::Mismatch)) {
        const auto& [parameter, bytes] = result.outOfRange.first();
        error = QStringLiteral("%1: the module answered a value out of range (%2)")
                    .arg(fieldName(*parameter), QString::fromLatin1(bytes.toHex()));
    } else {
        switch (result.ending) {
        case talk::Result::Succeeded:
            outcome.verified = run.job.task == Task::Write && result.readBack;
            break;
        case talk::Result::Refused:
            if (!p) {
                error = QStringLiteral("the module refused to restore its factory values");
            } else {
                const auto& value = run.job.values[static_cast<size_t>(indexOf(*p))];
                error = QStringLiteral("the module refused %1 = \"%2\"")
                            .arg(fieldName(*p), value ? paramfile::valueText(*p, *value) : QString());
            }
            break;
        case talk::Result::NoReply:
            error = QStringLiteral("no reply to %1 after %2 attempts").arg(request()).arg(result.attempts);
            break;
        case talk::Result::NotSent:
            error = run.job.task == Task::Reset
                        ? QStringLiteral("the reset could not be sent: %1").arg(result.sendError)
                        : QStringLiteral("%1 could not be sent: %2").arg(request(), result.sendError);
            break;
        case talk::Result::Unsendable:
            error = QStringLiteral("a value cannot be sent: %1").arg(fieldName(*p));
            break;
        case talk::Result::Garbled:
            error = QStringLiteral("%1: the module's reply is not digits where the value has them: %2 (hex)")
                        .arg(fieldName(*p), QString::fromLatin1(result.garbled.toHex()));
            break;
        case talk::Result::Unsettled:
            error = QStringLiteral("its values could not be confirmed: reads of it gave different values (another "
                                   "PC talking to it, or a network that copies or delays datagrams); run the "
                                   "command again");
            break;
        case talk::Result::Mismatch: {
            QStringList lines;
            for (const Parameter* m : result.mismatches) {
                const auto i = static_cast<size_t>(indexOf(*m));
                const auto& wrote = run.job.values[i];
                const auto& holds = result.values[i];
                lines << QStringLiteral("%1: wrote %2, module holds %3")
                             .arg(fieldName(*m), wrote ? paramfile::valueText(*m, *wrote) : QString(),
                                  holds ? paramfile::valueText(*m, *holds) : QStringLiteral("nothing"));
            }
            error = lines.join(QLatin1Char('\n'));
            break;
        }
        }
    }
    finish(index, error);
}

void Engine::finish(int index, const QString& error)
{
    Run& run = *m_runs[static_cast<size_t>(index)];
    m_timers.stop(index);
    run.state = Run::Done;
    --m_active;
    if (index == m_aloneActive)
        m_aloneActive = -1;
    ++m_done;
    run.outcome.ok = error.isEmpty();
    run.outcome.error = error;
    m_progress.progress(m_done, static_cast<int>(m_runs.size()), [this, &run] { return stageText(run); });
    if (isFinished()) {
        m_progress.finished();
        return;
    }
    schedule();
}

QString Engine::stageText(const Run& run) const
{
    QString text = paramfile::identityText(run.job.module.identity);
    if (run.state == Run::Done)
        return text + (run.outcome.ok ? QStringLiteral(" done") : QStringLiteral(" failed"));
    const talk::Step& step = run.talk.awaited();
    return text + QLatin1Char(' ') + (step.parameter ? commandText(*step.parameter) : QStringLiteral("DF"));
}

} // namespace tarvik::batch
