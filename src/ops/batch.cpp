#include "batch.h"

#include "ops/decode.h"
#include "ops/dispatch.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

namespace tarvik::batch {

namespace {

// Replies of the layouts are told apart by their length: each layout's shortest reply ends at
// its last offset, and a reply as long as another layout's shortest belongs to that one.
constexpr int shortest(Layout layout)
{
    return decode::lastOffset(layout) + 1;
}

constexpr int nextLongerThan(int length)
{
    int next = std::numeric_limits<int>::max();
    for (const Parameter& p : kParameters) {
        if (shortest(p.layout) > length)
            next = std::min(next, shortest(p.layout));
    }
    return next;
}

// The shortest reply of another layout that is longer, for every length up to the longest layout's:
// worked out once, as every reply that arrives is measured against it.
constexpr int kLongestShortest = shortest(Layout::Address);
constexpr auto kNextLonger = [] {
    std::array<int, kLongestShortest + 1> next{};
    for (int length = 0; length <= kLongestShortest; ++length)
        next[static_cast<size_t>(length)] = nextLongerThan(length);
    return next;
}();

int nextLonger(int length)
{
    return length >= 0 && length <= kLongestShortest ? kNextLonger[static_cast<size_t>(length)] : nextLongerThan(length);
}

QString fieldName(const Parameter& p)
{
    return QString::fromLatin1(p.name);
}

QString commandText(const Parameter& p)
{
    return QString::fromLatin1(p.code) + (p.channel ? QString(QLatin1Char(p.channel)) : QString());
}

} // namespace

const std::vector<const Parameter*>& readOrder()
{
    static const std::vector<const Parameter*> order = [] {
        // Greedy: always the class with most parameters left that differs from the last one taken,
        // each class in table order. It never runs stuck while no class holds more than half.
        std::map<int, std::vector<const Parameter*>> left; // by shortest reply
        for (const Parameter& p : kParameters)
            left[shortest(p.layout)].push_back(&p);
        std::map<int, size_t> taken;
        std::vector<const Parameter*> result;
        int last = -1;
        while (result.size() < static_cast<size_t>(kParameterCount)) {
            int best = -1;
            size_t most = 0;
            for (const auto& [cls, parameters] : left) {
                const size_t remaining = parameters.size() - taken[cls];
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
        for (const Parameter* p : readOrder())
            chain.append({p, frames::query(id, *p), Exchange::Value});
        break;
    case Task::Write:
        for (const Parameter& p : kParameters) {
            const auto& value = job.values[static_cast<size_t>(indexOf(p))];
            if (value)
                chain.append({&p, frames::setting(id, p, *value).value_or(QByteArray()), Exchange::Ack});
        }
        break;
    case Task::Defaults:
        chain.append({nullptr, frames::restoreDefaults(id), Exchange::Ack});
        break;
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

void Engine::start(const QList<Job>& jobs)
{
    m_runs.clear();
    m_aloneQueue.clear();
    m_active = m_done = 0;
    m_aloneActive = -1;
    m_runs.reserve(static_cast<size_t>(jobs.size()));
    for (const Job& job : jobs) {
        Run run;
        run.job = job;
        run.chain = chainOf(job);
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
    run.attempts = run.eaten = 0;
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
    if (++run.attempts > 1)
        ++run.outcome.retries;
    const bool sent = m_wire.send(exchange.frame, run.job.module.sendInterface);
    if (exchange.expect == Exchange::Nothing) {
        if (sent)
            advance(index);
        else
            finish(index, QStringLiteral("the reset could not be sent"));
        return;
    }
    // A frame that did not go out is reported by the time-out, as the window does.
    m_wire.arm(index, kReplyTimeoutMs);
}

void Engine::arrival(const QByteArray& datagram, int interfaceIndex)
{
    if (datagram.size() < frames::kIdentitySize || isFinished())
        return;
    const QByteArrayView identity(datagram.constData(), frames::kIdentitySize); // looked at in place
    const auto onCard = [interfaceIndex](const Run& run) {
        const int card = run.job.module.arrivalInterface;
        return card == 0 || interfaceIndex == 0 || card == interfaceIndex;
    };
    for (size_t i = 0; i < m_runs.size(); ++i) {
        Run& run = m_runs[i];
        if (QByteArrayView(run.job.module.identity) != identity)
            continue;
        if (run.state == Run::Active && onCard(run))
            receive(static_cast<int>(i), datagram);
        return;
    }
    // No module of ours: the reply of one that answers without its identity, or a stranger's.
    if (m_aloneActive >= 0) {
        if (onCard(m_runs[static_cast<size_t>(m_aloneActive)]))
            receive(m_aloneActive, datagram);
        return;
    }
    for (Run& run : m_runs) {
        if (run.state == Run::Active && !run.identityConfirmed && onCard(run))
            run.strangerSeen = true;
    }
}

bool Engine::fits(const Exchange& exchange, const QByteArray& datagram) const
{
    // An acknowledgement is read at bytes 6 and 7, like a digit reply.
    const int least = exchange.expect == Exchange::Ack ? shortest(Layout::Digit) : shortest(exchange.parameter->layout);
    if (datagram.size() < least)
        return false;
    return exchange.expect == Exchange::Ack || datagram.size() < nextLonger(least);
}

void Engine::receive(int index, const QByteArray& datagram)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    const Exchange& exchange = run.chain[run.step];
    if (exchange.expect == Exchange::Nothing || datagram == run.job.module.discovery)
        return;
    for (Echo& echo : run.echoes) {
        if (echo.owed > 0 && echo.bytes == datagram) {
            --echo.owed;
            ++run.eaten;
            return;
        }
    }
    if (!fits(exchange, datagram))
        return;
    accept(index, datagram);
}

void Engine::accept(int index, const QByteArray& datagram)
{
    Run& run = m_runs[static_cast<size_t>(index)];
    m_wire.stop(index);
    if (index != m_aloneActive)
        run.identityConfirmed = true;
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
    run.attempts = run.eaten = 0;
    if (run.step >= run.chain.size()) {
        finish(index, run.outcome.error);
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
    if (run.step == 0 && !run.identityConfirmed && run.strangerSeen && index != m_aloneActive) {
        run.state = Run::Waiting;
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
                   .arg(run.job.task == Task::Read ? QStringLiteral("query") : QStringLiteral("setting"),
                        fieldName(*exchange.parameter), commandText(*exchange.parameter));
    }
    finish(index, QStringLiteral("no reply to %1 after %2 attempts").arg(what).arg(run.attempts));
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
