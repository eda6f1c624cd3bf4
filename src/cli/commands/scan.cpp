// tarvik-cli scan: four SETUP broadcasts, then one line per module that answered.
#include "cli/command.h"
#include "cli/modulecommand.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"
#include "ops/paramfile.h"

#include <QJsonArray>

namespace tarvik::cli {

class ScanCommand : public Command
{
public:
    ScanCommand()
    {
        name = QStringLiteral("scan");
        description = QStringLiteral("Find the modules: four SETUP broadcasts, then one line per module: identity, "
                                     "the card it answered on, the rest of its reply.");
        options = {option::kJson, option::kInterface};
    }

protected:
    int execute(const QCommandLineParser& parser) override
    {
        if (!parser.positionalArguments().isEmpty()) {
            complain(QStringLiteral("scan takes no arguments"));
            return kRefused;
        }
        const std::unique_ptr<Session> session = openSession(parser);
        if (!session)
            return kRefused;
        const bool json = parser.isSet(option::kJson);
        const QList<Found> found = session->scan();
        if (const std::optional<int> status = scanRefused(*session, found, false))
            return *status;
        QJsonArray modules;
        for (const Found& f : found) {
            const QString id = paramfile::identityText(frames::identityOf(f.reply));
            const QString card = cards::nameOf(f.card);
            const QByteArray rest = f.reply.mid(frames::kIdentitySize);
            const std::optional<QString> text = printable(rest);
            QJsonObject module{{QStringLiteral("id"), id}, {QStringLiteral("interface"), card}};
            if (text)
                module.insert(QStringLiteral("reply"), *text);
            else
                module.insert(QStringLiteral("replyHex"), QString::fromLatin1(rest.toHex()));
            modules.append(module);
            if (!json)
                out() << id << "  " << (card.isEmpty() ? QStringLiteral("-") : card) << "  "
                      << (text ? *text : QStringLiteral("hex:") + QString::fromLatin1(rest.toHex())) << Qt::endl;
        }
        if (json)
            printJson({{QStringLiteral("modules"), modules}});
        if (found.isEmpty()) {
            complain(QStringLiteral("no module answered the scan"));
            complain(QStringLiteral("tarvik-cli doctor looks for why (the port, the cards, firewalls, the "
                                    "reverse-path filter)"));
            return kFailed;
        }
        return kOk;
    }
};

TARVIK_CLI_COMMAND(ScanCommand, 10);

} // namespace tarvik::cli
