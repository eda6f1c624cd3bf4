// The command-line program's side of the network: the scan, and the engine's timers and sends, over
// the window's own endpoint and cards. Blocking calls that run an event loop until their work is done.
#pragma once

#include "link/udpendpoint.h"
#include "ops/batch.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarvik::cli {

struct Found
{
    QByteArray reply;   // the whole discovery reply; its first six bytes are the identity
    int card;           // the card it came on
    qint64 heardNs = 0; // when, since the scan began
};

// What the scan says of a datagram it does not take (the verdicts doctor counts by).
namespace verdict {
inline QString foundAlready()
{
    return QStringLiteral("a discovery reply of a module already found");
}
inline QString otherCard()
{
    return QStringLiteral("it came on a card not in use (--interface)");
}
} // namespace verdict

class Session : public QObject, private batch::Sender, private batch::Timers, private batch::Progress
{
public:
    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    // Binds the tool's port (65002); false with one line that says why.
    bool open(QString* error);
    // Only the card named (empty: every usable card) is used: broadcasts go out through it, modules
    // are heard and addressed on it alone. False, with the usable cards listed, when there is no
    // usable card of that name.
    bool useCard(const QString& name, QString* error);

    // "SETUP" through every card, kScanBroadcasts times 400 ms apart, and replies until 400 ms after
    // the last. With `wanted`, it ends as soon as every wanted identity has answered. A module is
    // listed once, with the card of its first plausible reply.
    QList<Found> scan(const QSet<QByteArray>& wanted = {});
    // Whether any broadcast of the last scan went out; if not, the system's reason.
    bool scanWentOut() const { return m_broadcastSent; }
    QString scanError() const { return m_broadcastError; }
    // When each broadcast of the last scan went out, since it began (ns), in order.
    const QList<qint64>& broadcastTimes() const { return m_broadcastTimes; }
    // A found module as the engine addresses it: through the card it answered on.
    batch::Module moduleOf(const Found& found) const;

    // Runs the jobs to their end; `limit` modules at once (0: all).
    QList<batch::Outcome> run(const QList<batch::Job>& jobs, int limit);

    std::function<void(int done, int total, const std::function<QString()>& stage)> onProgress;
    std::function<void(const QString&)> onNotice;

private:
    // batch::Sender, batch::Timers, batch::Progress
    bool send(const QByteArray& frame, int card) override;
    QString sendError() const override { return m_endpoint.errorString(); }
    void arm(int job, int milliseconds) override;
    void stop(int job) override;
    qint64 now() const override { return m_clock.elapsed(); }
    void notice(const QString& text) override;
    void progress(int done, int total, const std::function<QString()>& stage) override;
    void finished() override;

    void arrived(const QByteArray& datagram, int card);
    void broadcast(const QByteArray& payload);

    UdpEndpoint m_endpoint;
    QElapsedTimer m_clock;
    // The cards the scan's broadcasts were sent through: a module that answered on one of them is
    // addressed through it.
    QList<int> m_scanned;
    bool m_broadcastSent = false;
    QString m_broadcastError;
    QList<qint64> m_broadcastTimes;
    QElapsedTimer m_scanClock;
    int m_onlyCard = kAnyCard; // --interface: the one card heard and used
    QEventLoop m_loop;
    std::unique_ptr<batch::Engine> m_engine;
    std::vector<std::unique_ptr<QTimer>> m_timers;
    // Scan in progress: what has answered, in order, and which identities are still awaited.
    std::optional<QList<Found>> m_found;
    QList<Device> m_foundDevices;   // the same, as the scan's duplicate filter looks at them
    QList<scanning::Heard> m_heard; // what this scan heard of each
    QSet<QByteArray> m_wanted;
    // The modules the last scan found: a reply that carries one's identity answers only that module.
    QList<batch::Module> m_listed;
};

} // namespace tarvik::cli
