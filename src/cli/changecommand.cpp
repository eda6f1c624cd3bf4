#include "changecommand.h"

#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"

#include <QJsonArray>

namespace tarvik::cli {

namespace {

QJsonValue valuesJson(const std::optional<paramfile::Values>& values)
{
    if (!values)
        return QJsonValue();
    QJsonObject object;
    for (const Parameter& p : kParameters) {
        if (const auto& value = (*values)[static_cast<size_t>(indexOf(p))])
            object.insert(QString::fromLatin1(p.name), paramfile::valueText(p, *value));
    }
    return object;
}

} // namespace

ChangeCommand::ChangeCommand(batch::Task task, const QString& command, bool addresses)
    : ModuleCommand(task), m_command(command), m_addresses(addresses)
{
    if (addresses)
        options << kForce;
}

bool ChangeCommand::backsUp(const QCommandLineParser&) const
{
    return true;
}

bool ChangeCommand::setsAddresses() const
{
    return false;
}

int ChangeCommand::undoes() const
{
    return 0;
}

bool ChangeCommand::checksAddresses(const QCommandLineParser& parser) const
{
    return m_addresses && setsAddresses() && !parser.isSet(kForce);
}

bool ChangeCommand::hearsEveryModule(const QCommandLineParser& parser) const
{
    // Every module on the LAN answers the full scan: the addresses of all of them are checked.
    return checksAddresses(parser);
}

std::optional<int> ChangeCommand::runJobs(Session& session, const QList<batch::Job>& jobs,
                                          QList<batch::Outcome>& outcomes, const QCommandLineParser& parser)
{
    ChangeOptions options;
    options.backup = backsUp(parser);
    options.checkAddresses = checksAddresses(parser);
    if (options.checkAddresses) {
        QList<QByteArray> changed;
        for (const batch::Job& job : jobs)
            changed << job.module.identity;
        for (const Found& found : std::as_const(m_heard)) {
            if (!changed.contains(frames::identityOf(found.reply)))
                options.others << session.moduleOf(found);
        }
        options.cards = cards::usable();
    }
    options.run = [this, &session](const QList<batch::Job>& list) {
        return runShowingProgress(session, list, m_limit);
    };
    QList<Change> changes;
    for (const batch::Job& job : jobs)
        changes << Change{job, m_command, undoes()};
    journal::Journal journal;
    m_result = applyChanges(session, journal, changes, options);
    if (m_result.refused()) {
        for (const audit::Finding& clash : std::as_const(m_result.clashes))
            complain(clash.message);
        for (const QString& line : std::as_const(m_result.unknown))
            complain(line);
        complain(QStringLiteral("%1 refused: nothing was set (--force writes anyway)").arg(name));
        return kRefused;
    }
    outcomes = m_result.outcomes;
    return std::nullopt;
}

const journal::Entry* ChangeCommand::entryOf(const QByteArray& identity) const
{
    for (const std::optional<journal::Entry>& entry : m_result.entries) {
        if (entry && entry->identity == identity)
            return &*entry;
    }
    return nullptr;
}

void ChangeCommand::reportEntry(const batch::Job& job, QJsonObject& module) const
{
    const journal::Entry* entry = entryOf(job.module.identity);
    module.insert(QStringLiteral("entry"), entry ? QJsonValue(entry->number) : QJsonValue());
    module.insert(QStringLiteral("backup"), entry ? valuesJson(entry->backup) : QJsonValue());
}

int ChangeCommand::afterReport(int status, const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes,
                               const QCommandLineParser&)
{
    // A change that stopped part of the way: the way back.
    for (int i = 0; i < jobs.size(); ++i) {
        const journal::Entry* entry = entryOf(jobs[i].module.identity);
        if (!outcomes[i].ok && entry && entry->backup) {
            const QString id = paramfile::identityText(entry->identity);
            complain(QStringLiteral("%1: journal entry %2 keeps what it held before; 'tarvik-cli undo %1' puts it back")
                         .arg(id)
                         .arg(entry->number));
        }
    }
    for (const QString& problem : std::as_const(m_result.problems))
        complain(problem);
    return m_result.problems.isEmpty() ? status : std::max(status, int(kFailed));
}

} // namespace tarvik::cli
