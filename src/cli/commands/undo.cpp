// tarvik-cli undo ID: puts back what a module held before a change of the journal (its last one, or
// --entry N), whether that change completed or stopped part of the way: the fields the change set,
// written and read back, and itself kept in the journal.
#include "cli/changecommand.h"
#include "cli/options.h"
#include "cli/output.h"

namespace tarvik::cli {

namespace {

const QCommandLineOption kEntry{QStringLiteral("entry"),
                                QStringLiteral("The journal entry to undo (see history; default: the module's last)."),
                                QStringLiteral("n")};

} // namespace

class UndoCommand : public ChangeCommand
{
public:
    UndoCommand() : ChangeCommand(batch::Task::Write, QStringLiteral("undo"), true)
    {
        name = QStringLiteral("undo");
        arguments = QStringLiteral("ID");
        description = QStringLiteral("Put back what a module held before a change of the journal (its last, or "
                                     "--entry N), then read it back.");
        options << kEntry;
    }

protected:
    int prepare(const QCommandLineParser& parser, const QList<QByteArray>& ids) override
    {
        if (ids.size() != 1 || parser.isSet(option::kAll)) {
            complain(QStringLiteral("undo takes one module's identity"));
            return kRefused;
        }
        const QString id = paramfile::identityText(ids.first());
        bool numbered = true;
        const int wanted = parser.isSet(kEntry) ? parser.value(kEntry).toInt(&numbered) : 0;
        if (!numbered || wanted < 0 || (parser.isSet(kEntry) && wanted == 0)) {
            complain(QStringLiteral("--entry takes the number of an entry (see tarvik-cli history)"));
            return kRefused;
        }
        const journal::Journal journal;
        const QList<journal::Entry> entries = journal.entries();
        const journal::Entry* chosen = nullptr;
        for (const journal::Entry& entry : entries) {
            if (wanted > 0 ? entry.number == wanted : entry.identity == ids.first())
                chosen = &entry;
        }
        if (!chosen) {
            complain(wanted > 0 ? QStringLiteral("no journal entry %1 in %2").arg(wanted).arg(journal.directory())
                                : QStringLiteral("no journal entry for %1 in %2").arg(id, journal.directory()));
            return kRefused;
        }
        if (chosen->identity != ids.first()) {
            complain(QStringLiteral("journal entry %1 is of %2, not %3")
                         .arg(chosen->number)
                         .arg(paramfile::identityText(chosen->identity), id));
            return kRefused;
        }
        if (!chosen->backup) {
            complain(QStringLiteral("journal entry %1 keeps no backup (written with --no-backup): nothing to put "
                                    "back")
                         .arg(chosen->number));
            return kRefused;
        }
        m_values = chosen->undoValues();
        m_undoes = chosen->number;
        m_setsAddresses = m_values[static_cast<size_t>(indexOf(parameterOf(fieldNamed("S_IP"))))].has_value();
        return kOk;
    }

    bool complete(batch::Job& job, int, const QCommandLineParser&) override
    {
        job.values = m_values;
        job.verify = true;
        return true;
    }

    bool setsAddresses() const override { return m_setsAddresses; }
    int undoes() const override { return m_undoes; }

    void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json) override
    {
        module.insert(QStringLiteral("verified"), outcome.verified);
        module.insert(QStringLiteral("undoes"), m_undoes);
        reportEntry(job, module);
        if (!json)
            out() << paramfile::identityText(job.module.identity) << "  entry " << m_undoes << " undone, read back"
                  << Qt::endl;
    }

private:
    paramfile::Values m_values;
    int m_undoes = 0;
    bool m_setsAddresses = false;
};

TARVIK_CLI_COMMAND(UndoCommand, 75);

} // namespace tarvik::cli
