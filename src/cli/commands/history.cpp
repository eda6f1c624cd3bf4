// tarvik-cli history: the journal's entries, of every module or those named: when, which module,
// what command, the fields it changed, and how it ended. Nothing goes on the network.
#include "cli/command.h"
#include "cli/journal.h"
#include "cli/options.h"
#include "cli/output.h"

#include <QJsonArray>

namespace tarvik::cli {

namespace {

QString outcomeText(const journal::Entry& entry)
{
    switch (entry.outcome) {
    case journal::Entry::Outcome::Done:
        if (entry.verified)
            return QStringLiteral("verified");
        return entry.after ? QStringLiteral("done, values read after") : QStringLiteral("done, not read back");
    case journal::Entry::Outcome::Failed:
        return QStringLiteral("failed: ") + entry.error.section(QLatin1Char('\n'), 0, 0);
    case journal::Entry::Outcome::Pending:
        break;
    }
    return QStringLiteral("interrupted: no outcome recorded");
}

QString fieldsText(const QStringList& fields)
{
    constexpr int kShown = 3;
    if (fields.isEmpty())
        return QStringLiteral("no field changed");
    if (fields.size() <= kShown)
        return fields.join(QStringLiteral(", "));
    return QStringLiteral("%1 and %2 more")
        .arg(fields.mid(0, kShown).join(QStringLiteral(", ")))
        .arg(fields.size() - kShown);
}

} // namespace

class HistoryCommand : public Command
{
public:
    HistoryCommand()
    {
        name = QStringLiteral("history");
        arguments = QStringLiteral("[ID...]");
        description = QStringLiteral("List the journal's entries (every change made by write, defaults and undo), "
                                     "of every module or those named.");
        options = {option::kJson};
    }

protected:
    int execute(const QCommandLineParser& parser) override
    {
        QList<QByteArray> ids;
        for (const QString& text : parser.positionalArguments()) {
            const QByteArray id = paramfile::identityFromText(text);
            if (id.isEmpty()) {
                complain(QStringLiteral("%1 is not an identity (12 hexadecimal digits)").arg(text));
                return kRefused;
            }
            ids << id;
        }
        const bool json = parser.isSet(option::kJson);
        const journal::Journal journal;
        QStringList problems;
        const QList<journal::Entry> entries = journal.entries(&problems);
        QJsonArray list;
        for (const journal::Entry& entry : entries) {
            if (!ids.isEmpty() && !ids.contains(entry.identity))
                continue;
            const QString id = paramfile::identityText(entry.identity);
            const QStringList fields = entry.fieldsChanged();
            QString command = entry.command;
            if (entry.undoes > 0)
                command += QStringLiteral(" of %1").arg(entry.undoes);
            QJsonObject object{{QStringLiteral("entry"), entry.number},
                               {QStringLiteral("time"), entry.time.toString(Qt::ISODateWithMs)},
                               {QStringLiteral("id"), id},
                               {QStringLiteral("command"), entry.command},
                               {QStringLiteral("fields"), QJsonArray::fromStringList(fields)},
                               {QStringLiteral("outcome"), outcomeText(entry)},
                               {QStringLiteral("backup"), entry.backup.has_value()},
                               {QStringLiteral("file"), entry.path}};
            if (entry.undoes > 0)
                object.insert(QStringLiteral("undoes"), entry.undoes);
            list.append(object);
            if (!json)
                out() << entry.number << "  " << entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "  "
                      << id << "  " << command << "  " << fieldsText(fields) << "  " << outcomeText(entry)
                      << (entry.backup ? QString() : QStringLiteral("  (no backup)")) << Qt::endl;
        }
        if (json)
            printJson({{QStringLiteral("entries"), list}});
        for (const QString& problem : std::as_const(problems))
            complain(problem);
        return problems.isEmpty() ? kOk : kFailed;
    }
};

TARVIK_CLI_COMMAND(HistoryCommand, 70);

} // namespace tarvik::cli
