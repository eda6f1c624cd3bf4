#include "session.h"

#include "link/cards.h"
#include "link/frames.h"
#include "link/wirelog.h"
#include "ops/dispatch.h"

namespace tarvik::cli {

Session::Session(QObject* parent) : QObject(parent)
{
    m_clock.start();
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
    m_broadcastTimes.append(m_scanClock.nsecsElapsed());
    for (scanning::Heard& heard : m_heard)
        heard.newRound();
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
    m_foundDevices.clear();
    m_heard.clear();
    m_wanted = wanted;
    m_scanned.clear();
    m_broadcastSent = false;
    m_broadcastError.clear();
    m_broadcastTimes.clear();
    m_scanClock.start();
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
    for (qsizetype i = 0; i < found.size(); ++i) {
        // The discovery reply as the rounds settled it (the two lists grow together).
        found[i].reply = m_foundDevices[i].discovery;
        m_listed.append(moduleOf(found[i]));
    }
    return found;
}

batch::Module Session::moduleOf(const Found& found) const
{
    batch::Module module = Device::fromDiscovery(found.reply, found.card);
    const int known = scanning::indexOf(m_foundDevices, static_cast<int>(m_foundDevices.size()), module.identity);
    if (known >= 0)
        module.copiesSeen = m_foundDevices[known].copiesSeen;
    // Requests go out through the card the module answered on when it is one the scan used; an
    // arrival on another (the loopback) leaves the choice to the routing table.
    if (!m_scanned.contains(found.card))
        module.sendCard = kAnyCard;
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
    m_engine = std::make_unique<batch::Engine>(static_cast<batch::Sender&>(*this), static_cast<batch::Timers&>(*this),
                                               static_cast<batch::Progress&>(*this), limit);
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
        wire::notTaken(data, card, verdict::otherCard());
        return;
    }
    if (m_found) {
        // Another PC's conversation with a module is heard too: only a plausible discovery reply
        // lists it, and only once.
        if (!scanning::isPlausibleReply(data)) {
            wire::notTaken(data, card, QStringLiteral("not a discovery reply"));
            return;
        }
        const QByteArrayView identity = QByteArrayView(data).first(frames::kIdentitySize);
        const int known = scanning::indexOf(m_foundDevices, static_cast<int>(m_foundDevices.size()), identity);
        if (known >= 0) {
            // The first card it answered on is kept; a second answer in one round is a copy.
            scanning::heardAgain(m_foundDevices[known], m_heard[known], data, card, true);
            wire::notTaken(data, card, verdict::foundAlready());
            return;
        }
        wire::taken();
        m_found->append({data, card, m_scanClock.nsecsElapsed()});
        m_foundDevices.append(Device::fromDiscovery(data, card));
        m_heard.append(scanning::Heard::listed(card, true));
        if (m_wanted.remove(identity.toByteArray()) && m_wanted.isEmpty())
            m_loop.quit(); // every module asked for has answered: no need for more rounds
    } else if (m_engine) {
        m_engine->arrival(data, card);
    }
}

} // namespace tarvik::cli
