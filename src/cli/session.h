// The command-line program's side of the network: the scan, and the engine's timers and sends, over
// the window's own endpoint and cards. Blocking calls that run an event loop until their work is done.
#pragma once

#include "link/udpendpoint.h"
#include "ops/batch.h"

#include <QByteArray>
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
    QByteArray reply; // the whole discovery reply; its first six bytes are the identity
    int card;         // the card it came on
};

class Session : public QObject, private batch::Wire
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
    // the last. With `wanted`, it ends as soon as every wanted identity has answered.
    QList<Found> scan(const QSet<QByteArray>& wanted = {});
    // Whether any broadcast of the last scan went out; if not, the system's reason.
    bool scanWentOut() const { return m_broadcastSent; }
    QString scanError() const { return m_broadcastError; }
    // A found module as the engine addresses it: through the card it answered on.
    batch::Module moduleOf(const Found& found) const;

    // Runs the jobs to their end; `limit` modules at once (0: all).
    QList<batch::Outcome> run(const QList<batch::Job>& jobs, int limit);

    std::function<void(int done, int total, const std::function<QString()>& stage)> onProgress;
    std::function<void(const QString&)> onNotice;

private:
    bool send(const QByteArray& frame, int card) override;
    QString sendError() const override { return m_endpoint.errorString(); }
    void arm(int job, int milliseconds) override;
    void stop(int job) override;
    void notice(const QString& text) override;
    void progress(int done, int total, const std::function<QString()>& stage) override;
    void finished() override;

    void arrived(const QByteArray& datagram, int card);
    void broadcast(const QByteArray& payload);

    UdpEndpoint m_endpoint;
    // The cards the scan's broadcasts were sent through: a module that answered on one of them is
    // addressed through it.
    QList<int> m_scanned;
    bool m_broadcastSent = false;
    QString m_broadcastError;
    int m_onlyCard = kAnyCard; // --interface: the one card heard and used
    QEventLoop m_loop;
    std::unique_ptr<batch::Engine> m_engine;
    std::vector<std::unique_ptr<QTimer>> m_timers;
    // Scan in progress: what has answered, in order, and which identities are still awaited.
    std::optional<QList<Found>> m_found;
    QSet<QByteArray> m_wanted;
    // The identities the last scan found: a reply that carries one answers only that module.
    QList<QByteArray> m_listed;
};

} // namespace tarvik::cli
