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

#include <QElapsedTimer>

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
        QElapsedTimer clock;
        clock.start();
        const QList<Found> found = session->scan({id});
        const qint64 elapsed = clock.nsecsElapsed();
        if (const std::optional<int> status = scanRefused(*session, found, false))
            return *status;
        const QString text = paramfile::identityText(id);
        QJsonObject result{{QStringLiteral("id"), text}};
        const auto it = std::find_if(found.cbegin(), found.cend(),
                                     [&](const Found& f) { return frames::identityOf(f.reply) == id; });
        if (it != found.cend()) {
            // The broadcasts go out kReplyTimeoutMs apart and the scan ends on the reply: the time
            // since the last SETUP sent before it is the round trip.
            constexpr qint64 kApart = qint64(kReplyTimeoutMs) * 1000000;
            const int broadcast = static_cast<int>(elapsed / kApart) + 1;
            const double roundTrip = std::round(double(elapsed % kApart) / 100000) / 10; // ms, to 0.1

            const QString card = cards::nameOf(it->card);
            result.insert(QStringLiteral("interface"), card);
            result.insert(QStringLiteral("roundTripMs"), roundTrip);
            result.insert(QStringLiteral("broadcast"), broadcast);
            if (!parser.isSet(option::kJson))
                out() << text << "  " << (card.isEmpty() ? QStringLiteral("-") : card) << "  " << roundTrip
                      << " ms  (SETUP " << broadcast << " of " << kScanBroadcasts << ")" << Qt::endl;
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
