#include "session.h"

#include "link/frames.h"
#include "link/link.h"
#include "link/udpendpoint.h"
#include "ops/dispatch.h"

#include <QHostAddress>
#include <QNetworkDatagram>

namespace tarvik::cli {

Session::Session(QObject* parent) : QObject(parent)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &Session::readPending);
}

Session::~Session() = default;

bool Session::open(QString* error)
{
    if (m_socket.bind(QHostAddress::AnyIPv4, kLocalPort))
        return true;
    if (error)
        *error = QStringLiteral("cannot use UDP port %1: %2").arg(kLocalPort).arg(m_socket.errorString());
    return false;
}

void Session::broadcast(const QByteArray& payload)
{
    if (m_cards.isEmpty()) {
        send(payload, 0);
        return;
    }
    for (const Card& card : std::as_const(m_cards))
        send(payload, card.index);
}

bool Session::send(const QByteArray& frame, int interfaceIndex)
{
    QNetworkDatagram datagram(frame, QHostAddress(QHostAddress::Broadcast), kModulePort);
    if (interfaceIndex > 0)
        datagram.setInterfaceIndex(static_cast<uint>(interfaceIndex));
    return m_socket.writeDatagram(datagram) == frame.size();
}

QList<Found> Session::scan(const QSet<QByteArray>& wanted)
{
    m_found.emplace();
    m_wanted = wanted;
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
    return found;
}

batch::Module Session::moduleOf(const Found& found) const
{
    batch::Module module;
    module.identity = frames::identityOf(found.reply);
    module.discovery = found.reply;
    module.arrivalInterface = found.interfaceIndex;
    // Requests go out through the card the module answered on when it is one the scan used; an
    // arrival on another (the loopback) leaves the choice to the routing table.
    for (const Card& card : m_cards) {
        if (card.index == found.interfaceIndex)
            module.sendInterface = card.index;
    }
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
    m_engine->start(jobs);
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

void Session::progress(int done, int total, const QString& stage)
{
    if (onProgress)
        onProgress(done, total, stage);
}

void Session::finished()
{
    m_loop.quit();
}

void Session::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram(UdpEndpoint::kMaxDatagramSize + 1);
        const QByteArray data = datagram.data();
        if (!datagram.isValid() || data.size() > UdpEndpoint::kMaxDatagramSize)
            continue;
        const int card = datagram.interfaceIndex();
        if (m_found) {
            if (data.size() < frames::kIdentitySize)
                continue;
            const QByteArray identity = frames::identityOf(data);
            bool known = false;
            for (const Found& f : std::as_const(*m_found))
                known = known || frames::identityOf(f.reply) == identity;
            if (known)
                continue;
            m_found->append({data, card});
            if (m_wanted.remove(identity) && m_wanted.isEmpty())
                m_loop.quit(); // every module asked for has answered: no need for more rounds
        } else if (m_engine) {
            m_engine->arrival(data, card);
        }
    }
}

} // namespace tarvik::cli
