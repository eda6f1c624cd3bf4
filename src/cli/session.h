// The command-line program's side of the network: the tool's UDP port, the scan, and the engine's
// timers and sends. Blocking calls that run an event loop until their work is done.
#pragma once

#include "cli/cards.h"
#include "ops/batch.h"

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarvik::cli {

struct Found
{
    QByteArray reply;   // the whole discovery reply; its first six bytes are the identity
    int interfaceIndex; // the card it came on
};

class Session : public QObject, private batch::Wire
{
public:
    explicit Session(QObject* parent = nullptr);
    ~Session() override;

    // Binds the tool's port (65002); false with the reason.
    bool open(QString* error);
    void setCards(const QList<Card>& cards) { m_cards = cards; }

    // "SETUP" through every card, kScanBroadcasts times 400 ms apart, and replies until 400 ms after
    // the last. With `wanted`, it ends as soon as every wanted identity has answered.
    QList<Found> scan(const QSet<QByteArray>& wanted = {});
    // A found module as the engine addresses it: through the card it answered on.
    batch::Module moduleOf(const Found& found) const;

    // Runs the jobs to their end; `limit` modules at once (0: all).
    QList<batch::Outcome> run(const QList<batch::Job>& jobs, int limit);

    std::function<void(int done, int total, const QString& stage)> onProgress;
    std::function<void(const QString&)> onNotice;

private:
    bool send(const QByteArray& frame, int interfaceIndex) override;
    void arm(int job, int milliseconds) override;
    void stop(int job) override;
    void notice(const QString& text) override;
    void progress(int done, int total, const QString& stage) override;
    void finished() override;

    void readPending();
    void broadcast(const QByteArray& payload);

    QUdpSocket m_socket;
    QList<Card> m_cards;
    QEventLoop m_loop;
    std::unique_ptr<batch::Engine> m_engine;
    std::vector<std::unique_ptr<QTimer>> m_timers;
    // Scan in progress: what has answered, in order, and which identities are still awaited.
    std::optional<QList<Found>> m_found;
    QSet<QByteArray> m_wanted;
};

} // namespace tarvik::cli
