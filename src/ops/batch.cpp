#include "batch.h"

#include "link/wirelog.h"
#include "ops/decode.h"
#include "ops/dispatch.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

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

} // namespace

std::vector<const Parameter*> queryOrder(const std::vector<const Parameter*>& parameters, bool afterAcknowledgement)
{
    // Greedy: always the class with most parameters left that differs from the last one taken,
    // each class in table order. It never runs stuck while no class holds more than half.
    std::map<int, std::vector<const Parameter*>> left; // by shortest reply
    for (const Parameter* p : parameters)
        left[rule::shortest(p->layout)].push_back(p);
    std::map<int, size_t> taken;
    std::vector<const Parameter*> result;
    // An acknowledgement has a one-digit reply's length.
    int last = afterAcknowledgement ? rule::shortest(Layout::Digit) : -1;
    while (result.size() < parameters.size()) {
        int best = -1;
        size_t most = 0;
        for (const auto& [cls, inClass] : left) {
            const size_t remaining = inClass.size() - taken[cls];
            if (cls != last && remaining > most) {
                best = cls;
                most = remaining;
            }
        }
        if (best < 0) // only one class left: neighbours alike cannot be avoided
            best = last;
        result.push_back(left[best][taken[best]++]);
        last = best;
    }
    return result;
}

const std::vector<const Parameter*>& readOrder()
{
    static const std::vector<const Parameter*> order = [] {
        std::vector<const Parameter*> all;
        for (const Parameter& p : kParameters)
            all.push_back(&p);
        return queryOrder(all, false);
    }();
    return order;
}

QList<Exchange> chainOf(const Job& job)
{
    const QByteArray& id = job.module.identity;
    QList<Exchange> chain;
    chain.reserve(kParameterCount);
    switch (job.task) {
    case Task::Read:
        for (const Parameter* p : readOrder()) {
            if (job.only.isEmpty() || job.only.contains(indexOf(*p)))
                chain.append({p, frames::query(id, *p), Exchange::Value});
        }
        break;
    case Task::Write: {
        std::vector<const Parameter*> written;
        for (const Parameter& p : kParameters) {
            const auto& value = job.values[static_cast<size_t>(indexOf(p))];
            if (!value)
                continue;
            chain.append({&p, frames::setting(id, p, *value).value_or(QByteArray()), Exchange::Ack});
            written.push_back(&p);
        }
        // Then what the module holds of them: an acknowledgement is no proof that a value was stored.
        if (job.verify) {
            for (const Parameter* p : queryOrder(written, true))
                chain.append({p, frames::query(id, *p), Exchange::Value});
        }
        break;
    }
    case Task::Defaults: {
        chain.append({nullptr, frames::restoreDefaults(id), Exchange::Ack});
        // The tool does not know the factory values: what the module holds now is read and reported.
        static const std::vector<const Parameter*> afterDefaults = queryOrder(readOrder(), true);
        for (const Parameter* p : afterDefaults)
            chain.append({p, frames::query(id, *p), Exchange::Value});
        break;
    }
    case Task::Reset:
        chain.append({nullptr, frames::resetAndRun(id), Exchange::Nothing});
        break;
    }
    return chain;
}

QList<QByteArray> plannedFrames(const Job& job)
{
    QList<QByteArray> frames;
    for (const Exchange& exchange : chainOf(job))
        frames << exchange.frame;
    return frames;
}

Engine::Engine(Wire& wire, int jobs) : m_wire(wire), m_limit(jobs) {}

void Engine::start(const QList<Job>& jobs, const QList<QByteArray>& listed)
{
    m_listed = listed;
    m_runs.clear();
    m_aloneQueue.clear();
    m_active = m_done = 0;
    m_aloneActive = -1;
    m_runs.reserve(static_cast<size_t>(jobs.size()));
    for (const Job& job : jobs) {
        Run run;
        run.job = job;
        run.chain = chainOf(job);
        run.outcome.carriesIdentity = job.module.carriesIdentity;
        m_runs.push_back(std::move(run));
    }
    if (m_runs.empty()) {
        m_wire.finished();
        return;
    }
    schedule();
}

QList<Outcome> Engine::outcomes() const
{
    QList<Outcome> result;
    for (const Run& run : m_runs)
        result.append(run.outcome);
    return result;
}

void Engine::schedule()
{
    // Modules handled alone wait until nothing else is in flight, and nothing starts beside them.
    for (size_t i = 0; i < m_runs.size() && m_aloneActive < 0; ++i) {
        if (m_limit > 0 && m_active >= m_limit)
            return;
        if (m_runs[i].state == Run::Waiting && !m_aloneQueue.contains(static_cast<int>(i)))
            begin(static_cast<int>(i));
    }
    if (m_aloneActive < 0 && m_active == 0 && !m_aloneQueue.isEmpty()) {
        m_aloneActive = m_aloneQueue.takeFirst();
        begin(m_aloneActive);
    }
}

void Engine::begin(int index)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    run.state = Run::Active;
    ++m_active;
    for (const Exchange& exchange : run.chain) {
        if (exchange.frame.isEmpty()) {
            finish(index, QStringLiteral("a value cannot be sent: %1").arg(fieldName(*exchange.parameter)));
            return;
        }
    }
    if (run.chain.isEmpty()) {
        finish(index, QString());
        return;
    }
    send(index);
}

void Engine::send(int index)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    const Exchange& exchange = run.chain[run.step];
    ++run.attempts;
    run.reached = std::max(run.reached, run.step + 1);
    run.outcome.retries = ++run.sends - run.reached;
    const bool sent = m_wire.send(exchange.frame, run.job.module.sendCard);
    if (!sent) {
        ++run.unsent;
        run.sendError = m_wire.sendError();
    }
    if (exchange.expect == Exchange::Nothing) {
        if (sent)
            advance(index);
        else
            finish(index, QStringLiteral("the reset could not be sent: %1").arg(run.sendError));
        return;
    }
    // A frame that did not go out is reported by the time-out, as the window does.
    m_wire.arm(index, kReplyTimeoutMs);
}

void Engine::arrival(const QByteArray& datagram, int card)
{
    if (datagram.size() < frames::kIdentitySize || isFinished()) {
        wire::notTaken(datagram, card,
                       isFinished() ? QStringLiteral("nothing awaited it: every module's work has ended")
                                    : QStringLiteral("too short to hold an identity"));
        return;
    }
    const QByteArrayView identity(datagram.constData(), frames::kIdentitySize); // looked at in place
    for (size_t i = 0; i < m_runs.size(); ++i) {
        if (QByteArrayView(m_runs[i].job.module.identity) != identity)
            continue;
        if (m_runs[i].state == Run::Active)
            receive(static_cast<int>(i), datagram, card);
        else
            wire::notTaken(datagram, card, QStringLiteral("its module is not in conversation now"));
        return;
    }
    if (m_listed.contains(identity)) {
        wire::notTaken(datagram, card, QStringLiteral("it carries the identity of a module this run does not address"));
        return;
    }
    // No module found carries this identity: the reply of one that answers without it, or a
    // stranger's. Only the module handled alone may take it, and only until it has shown its own.
    if (m_aloneActive >= 0) {
        receive(m_aloneActive, datagram, card);
        return;
    }
    wire::notTaken(datagram, card, QStringLiteral("it carries an identity that no module found has"));
    // Otherwise it tells whether a module whose first exchange is unanswered may leave its identity out.
    for (Run& run : m_runs) {
        if (run.state == Run::Active && run.step == 0 && !run.outcome.carriesIdentity &&
            rule::isAnswer(judge(run, false, datagram, card)))
            run.unidentifiedSeen = true;
    }
}

rule::Verdict Engine::judge(const Run& run, bool identityChecked, const QByteArray& datagram, int card) const
{
    const Exchange& exchange = run.chain[run.step];
    const Module& module = run.job.module;
    const rule::Peer peer{module.identity, module.card, module.discovery, identityChecked};
    return rule::judge(peer, exchange.expect == Exchange::Ack ? nullptr : exchange.parameter, datagram, card,
                       [this](QByteArrayView identity) { return isListed(identity); });
}

bool Engine::isListed(QByteArrayView identity) const
{
    for (const Run& run : m_runs) {
        if (QByteArrayView(run.job.module.identity) == identity)
            return true;
    }
    return m_listed.contains(identity);
}

void Engine::receive(int index, const QByteArray& datagram, int card)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    const Exchange& exchange = run.chain[run.step];
    if (exchange.expect == Exchange::Nothing) {
        wire::notTaken(datagram, card, QStringLiteral("nothing awaited it: the module was reset"));
        return;
    }
    // Only the module handled alone that has not shown its identity is served without the check.
    const bool identityChecked = index != m_aloneActive || run.outcome.carriesIdentity;
    const rule::Verdict verdict = judge(run, identityChecked, datagram, card);
    // Any datagram of its own on its card shows that its replies carry its identity.
    if (verdict != rule::Verdict::OtherCard && !run.outcome.carriesIdentity &&
        QByteArrayView(datagram).first(frames::kIdentitySize) == QByteArrayView(run.job.module.identity)) {
        run.outcome.carriesIdentity = true;
        // What was taken without it may have been a stranger's: nothing of this run can be trusted.
        if (run.unidentifiedTaken) {
            wire::notTaken(datagram, card,
                           QStringLiteral("it carries its module's identity after replies without it were taken"));
            finish(index, QStringLiteral("its replies carry its identity after all, but replies without it were "
                                         "taken while it was handled alone; run the command again"));
            return;
        }
    }
    // The module's, of the right length, but not digits where the value has them: not its answer,
    // and said when the exchange fails.
    if (verdict == rule::Verdict::NotDigits || (rule::isAnswer(verdict) && exchange.expect == Exchange::Value &&
                                                !rule::valueIsDigits(*exchange.parameter, datagram))) {
        wire::notTaken(datagram, card, rule::why(rule::Verdict::NotDigits));
        run.garbled = datagram;
        return;
    }
    if (!rule::isAnswer(verdict)) {
        wire::notTaken(datagram, card, rule::why(verdict));
        return;
    }
    if (verdict == rule::Verdict::Unidentified)
        run.unidentifiedTaken = true;
    for (Echo& echo : run.echoes) {
        if (echo.owed > 0 && echo.bytes == datagram) {
            wire::notTaken(datagram, card, QStringLiteral("a late copy of an earlier answer of its module"));
            --echo.owed;
            ++run.eaten;
            return;
        }
    }
    wire::taken();
    accept(index, datagram);
}

void Engine::accept(int index, const QByteArray& datagram)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    m_wire.stop(index);
    // Each unanswered attempt of this exchange may still be answered; those that a copy taken as
    // late was in truth the answer to are not owed.
    if (const int owed = run.attempts - 1 - run.eaten; owed > 0)
        run.echoes.append({datagram, owed});

    const Exchange& exchange = run.chain[run.step];
    if (exchange.expect == Exchange::Ack) {
        if (datagram.at(6) != 'O' || datagram.at(7) != 'K') {
            if (!exchange.parameter) {
                finish(index, QStringLiteral("the module refused to restore its factory values"));
                return;
            }
            const Parameter& p = *exchange.parameter;
            const auto& value = run.job.values[static_cast<size_t>(indexOf(p))];
            finish(index, QStringLiteral("the module refused %1 = \"%2\"")
                              .arg(fieldName(p), value ? paramfile::valueText(p, *value) : QString()));
            return;
        }
    } else {
        const Parameter& p = *exchange.parameter;
        const decode::Value value = decode::reply(p, datagram);
        auto& slot = run.outcome.values[static_cast<size_t>(indexOf(p))];
        frames::FieldValue field;
        if (value.kind == decode::Value::Entry) {
            field.index = value.entry;
            slot = field;
        } else if (value.kind == decode::Value::Text) {
            field.text = value.text;
            slot = field;
        } else if (run.outcome.error.isEmpty()) {
            // The window logs the message and reads on; so does this, and fails the module at the end.
            run.outcome.error = QStringLiteral("%1: the module answered a value out of range (%2)")
                                    .arg(fieldName(p), QString::fromLatin1(datagram.mid(6, 2).toHex()));
        }
    }
    advance(index);
}

void Engine::advance(int index)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    ++run.step;
    run.attempts = run.eaten = run.unsent = 0;
    run.garbled.clear();
    if (run.step >= run.chain.size()) {
        finish(index, run.outcome.error.isEmpty() ? verification(run) : run.outcome.error);
        return;
    }
    m_wire.progress(m_done, static_cast<int>(m_runs.size()), [this, &run] { return stageText(run); });
    send(index);
}

void Engine::expired(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_runs.size())
        return;
    Run& run = m_runs[static_cast<size_t>(index)];
    if (run.state != Run::Active)
        return;
    if (run.step == 0 && !run.outcome.carriesIdentity && run.unidentifiedSeen && index != m_aloneActive &&
        run.attempts > kMaxRetries) {
        run.state = Run::Waiting;
        run.attempts = 0;
        run.outcome.alone = true;
        --m_active;
        m_aloneQueue.append(index);
        m_wire.notice(QStringLiteral("%1: its replies do not carry its identity; it is handled alone, after the others")
                          .arg(paramfile::identityText(run.job.module.identity)));
        schedule();
        return;
    }
    if (run.attempts <= kMaxRetries) {
        send(index);
        return;
    }
    const Exchange& exchange = run.chain[run.step];
    QString what = QStringLiteral("the restore-defaults request (DF)");
    if (exchange.parameter) {
        what = QStringLiteral("the %1 of %2 (%3)")
                   .arg(exchange.expect == Exchange::Value ? QStringLiteral("query") : QStringLiteral("setting"),
                        fieldName(*exchange.parameter), commandText(*exchange.parameter));
    }
    if (!run.garbled.isEmpty()) {
        finish(index, QStringLiteral("%1: the module's reply is not digits where the value has them: %2 (hex)")
                          .arg(fieldName(*exchange.parameter), QString::fromLatin1(run.garbled.toHex())));
    } else if (run.unsent == run.attempts) {
        finish(index, QStringLiteral("%1 could not be sent: %2").arg(what, run.sendError));
    } else {
        finish(index, QStringLiteral("no reply to %1 after %2 attempts").arg(what).arg(run.attempts));
    }
}

QString Engine::verification(Run& run) const
{
    if (run.job.task != Task::Write || !run.job.verify)
        return {};
    QStringList mismatches;
    for (const Parameter& p : kParameters) {
        const auto i = static_cast<size_t>(indexOf(p));
        const auto& wrote = run.job.values[i];
        const auto& holds = run.outcome.values[i];
        if (wrote && (!holds || !paramfile::sameValue(p, *wrote, *holds)))
            mismatches << QStringLiteral("%1: wrote %2, module holds %3")
                              .arg(fieldName(p), paramfile::valueText(p, *wrote),
                                   holds ? paramfile::valueText(p, *holds) : QStringLiteral("nothing"));
    }
    run.outcome.verified = mismatches.isEmpty();
    return mismatches.join(QLatin1Char('\n'));
}

void Engine::finish(int index, const QString& error)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    m_wire.stop(index);
    run.state = Run::Done;
    --m_active;
    if (index == m_aloneActive)
        m_aloneActive = -1;
    ++m_done;
    run.outcome.ok = error.isEmpty();
    run.outcome.error = error;
    m_wire.progress(m_done, static_cast<int>(m_runs.size()), [this, &run] { return stageText(run); });
    if (isFinished()) {
        m_wire.finished();
        return;
    }
    schedule();
}

QString Engine::stageText(const Run& run) const
{
    QString text = paramfile::identityText(run.job.module.identity);
    if (run.state == Run::Done)
        return text + (run.outcome.ok ? QStringLiteral(" done") : QStringLiteral(" failed"));
    const Exchange& exchange = run.chain[run.step];
    return text + QLatin1Char(' ') + (exchange.parameter ? commandText(*exchange.parameter) : QStringLiteral("DF"));
}

} // namespace tarvik::batch
