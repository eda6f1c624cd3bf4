#include "session.h"

#include "link/cards.h"
#include "link/frames.h"
#include "link/wirelog.h"
#include "ops/dispatch.h"

namespace tarvik::cli {

Session::Session(QObject* parent) : QObject(parent)
{
    connect(&m_endpoint, &UdpEndpoint::datagramArrived, this, &Session::arrived);
}

Session::~Session() = default;

bool Session::open(QString* error)
{
    if (m_endpoint.open(kLocalPort))
        return true;
    // Most often the window, or a second tarvik-cli, holds the port.
    if (error)
        *error = QStringLiteral("cannot use UDP port %1: %2 (is Tarvik or another tarvik-cli running?)")
                     .arg(kLocalPort)
                     .arg(m_endpoint.errorString());
    return false;
}

bool Session::useCard(const QString& name, QString* error)
{
    m_onlyCard = kAnyCard;
    if (!name.isEmpty()) {
        const QList<Card> usable = cards::usable(name);
        if (usable.isEmpty()) {
            if (error)
                *error = cards::notUsable(name);
            return false;
        }
        m_onlyCard = usable.first().index;
    }
    m_endpoint.setOnlyCard(name);
    return true;
}

void Session::broadcast(const QByteArray& payload)
{
    const BroadcastReport report = m_endpoint.broadcast(payload);
    for (const Card& card : report.sentOn) {
        if (!m_scanned.contains(card.index))
            m_scanned.append(card.index);
    }
    if (report.sent())
        m_broadcastSent = true;
    else
        m_broadcastError = report.error;
}

bool Session::send(const QByteArray& frame, int card)
{
    return m_endpoint.send(frame, card);
}

QList<Found> Session::scan(const QSet<QByteArray>& wanted)
{
    m_found.emplace();
    m_wanted = wanted;
    m_scanned.clear();
    m_broadcastSent = false;
    m_broadcastError.clear();
    QTimer round;
    round.setTimerType(Qt::PreciseTimer);
    int rounds = 0;
    connect(&round, &QTimer::timeout, this, [&] {
        if (rounds == kScanBroadcasts) {
            m_loop.quit();
            return;
        }
        ++rounds;
        broadcast(frames::discovery());
    });
    round.start(kReplyTimeoutMs);
    ++rounds;
    broadcast(frames::discovery());
    m_loop.exec();
    QList<Found> found = *m_found;
    m_found.reset();
    m_listed.clear();
    for (const Found& f : std::as_const(found))
        m_listed.append(frames::identityOf(f.reply));
    return found;
}

batch::Module Session::moduleOf(const Found& found) const
{
    batch::Module module;
    module.identity = frames::identityOf(found.reply);
    module.discovery = found.reply;
    module.card = found.card;
    // Requests go out through the card the module answered on when it is one the scan used; an
    // arrival on another (the loopback) leaves the choice to the routing table.
    if (m_scanned.contains(found.card))
        module.sendCard = found.card;
    return module;
}

QList<batch::Outcome> Session::run(const QList<batch::Job>& jobs, int limit)
{
    m_timers.clear();
    for (int i = 0; i < jobs.size(); ++i) {
        auto timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer.get(), &QTimer::timeout, this, [this, i] { m_engine->expired(i); });
        m_timers.push_back(std::move(timer));
    }
    m_engine = std::make_unique<batch::Engine>(static_cast<batch::Wire&>(*this), limit);
    m_engine->start(jobs, m_listed);
    if (!m_engine->isFinished())
        m_loop.exec();
    QList<batch::Outcome> outcomes = m_engine->outcomes();
    m_engine.reset();
    m_timers.clear();
    return outcomes;
}

void Session::arm(int job, int milliseconds)
{
    m_timers[static_cast<size_t>(job)]->start(milliseconds);
}

void Session::stop(int job)
{
    m_timers[static_cast<size_t>(job)]->stop();
}

void Session::notice(const QString& text)
{
    if (onNotice)
        onNotice(text);
}

void Session::progress(int done, int total, const std::function<QString()>& stage)
{
    if (onProgress)
        onProgress(done, total, stage);
}

void Session::finished()
{
    m_loop.quit();
}

void Session::arrived(const QByteArray& data, int card)
{
    // With one card chosen, what comes on another is not heard (a card the system did not name
    // cannot be told apart).
    if (m_onlyCard != kAnyCard && card != kAnyCard && card != m_onlyCard) {
        wire::notTaken(data, card, QStringLiteral("it came on a card not in use (--interface)"));
        return;
    }
    if (m_found) {
        if (data.size() < frames::kIdentitySize) {
            wire::notTaken(data, card, QStringLiteral("too short to hold an identity"));
            return;
        }
        const QByteArray identity = frames::identityOf(data);
        for (const Found& f : std::as_const(*m_found)) {
            if (frames::identityOf(f.reply) == identity) {
                // The first card it answered on is kept.
                wire::notTaken(data, card, QStringLiteral("a discovery reply of a module already found"));
                return;
            }
        }
        wire::taken();
        m_found->append({data, card});
        if (m_wanted.remove(identity) && m_wanted.isEmpty())
            m_loop.quit(); // every module asked for has answered: no need for more rounds
    } else if (m_engine) {
        m_engine->arrival(data, card);
    }
}

} // namespace tarvik::cli
