// tarvik-cli probe ID: is that one module there, on which card, and how quickly does it answer?
// The scan's SETUP broadcasts, ended as soon as the module has answered.
#include "cli/command.h"
#include "cli/modulecommand.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"
#include "ops/dispatch.h"
#include "ops/paramfile.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace tarvik::cli {

class ProbeCommand : public Command
{
public:
    ProbeCommand()
    {
        name = QStringLiteral("probe");
        arguments = QStringLiteral("ID");
        description = QStringLiteral("Whether one module answers SETUP, on which card, and its round-trip time.");
        options = {option::kJson, option::kInterface};
    }

protected:
    int execute(const QCommandLineParser& parser) override
    {
        const QStringList args = parser.positionalArguments();
        const QByteArray id = args.size() == 1 ? paramfile::identityFromText(args.first()) : QByteArray();
        if (id.isEmpty()) {
            complain(args.size() == 1 ? QStringLiteral("%1 is not an identity (12 hexadecimal digits)").arg(args[0])
                                      : QStringLiteral("probe takes one module's identity"));
            return kRefused;
        }
        const std::unique_ptr<Session> session = openSession(parser);
        if (!session)
            return kRefused;
        const QList<Found> found = session->scan({id});
        if (const std::optional<int> status = scanRefused(*session, found, false))
            return *status;
        const QString text = paramfile::identityText(id);
        QJsonObject result{{QStringLiteral("id"), text}};
        const auto it = std::find_if(found.cbegin(), found.cend(),
                                     [&](const Found& f) { return frames::identityOf(f.reply) == id; });
        if (it != found.cend()) {
            // The reply names no SETUP: it answers one of those sent before it. The first one heard
            // answers the first SETUP when no other had gone out yet; after that it may answer any.
            QJsonArray candidates;
            QStringList spoken;
            const QList<qint64>& sentAt = session->broadcastTimes();
            for (qsizetype k = sentAt.size() - 1; k >= 0; --k) {
                if (sentAt[k] > it->heardNs)
                    continue;
                const double roundTrip = std::round(double(it->heardNs - sentAt[k]) / 100000) / 10; // ms, to 0.1
                candidates.append(
                    QJsonObject{{QStringLiteral("broadcast"), int(k + 1)}, {QStringLiteral("roundTripMs"), roundTrip}});
                spoken << QStringLiteral("%1 ms after SETUP %2").arg(roundTrip, 0, 'f', 1).arg(k + 1);
            }
            const bool certain = candidates.size() == 1;
            const QString card = cards::nameOf(it->card);
            result.insert(QStringLiteral("interface"), card);
            result.insert(QStringLiteral("roundTripMs"),
                          certain ? candidates.first()[QStringLiteral("roundTripMs")] : QJsonValue(QJsonValue::Null));
            result.insert(QStringLiteral("broadcast"),
                          certain ? candidates.first()[QStringLiteral("broadcast")] : QJsonValue(QJsonValue::Null));
            result.insert(QStringLiteral("candidates"), candidates);
            if (!parser.isSet(option::kJson)) {
                out() << text << "  " << (card.isEmpty() ? QStringLiteral("-") : card) << "  ";
                if (certain)
                    out() << spoken.first().replace(QStringLiteral(" after "), QStringLiteral("  (")) << " of "
                          << kScanBroadcasts << ")" << Qt::endl;
                else
                    out() << spoken.join(QStringLiteral(" or ")) << "  (which SETUP it answered cannot be told)"
                          << Qt::endl;
            }
        }
        if (parser.isSet(option::kJson)) {
            result.insert(QStringLiteral("answered"), it != found.cend());
            printJson(result);
        }
        if (it == found.cend()) {
            complain(QStringLiteral("%1 did not answer %2 SETUP broadcasts").arg(text).arg(kScanBroadcasts));
            return kFailed;
        }
        return kOk;
    }
};

TARVIK_CLI_COMMAND(ProbeCommand, 60);

} // namespace tarvik::cli
