#include "modulecommand.h"

#include "cli/options.h"
#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"
#include "ops/paramfile.h"

#include <QJsonArray>

#include <algorithm>

namespace tarvik::cli {

std::unique_ptr<Session> openSession(const QCommandLineParser& parser)
{
    QString error;
    auto session = std::make_unique<Session>();
    if (!session->useCard(parser.value(option::kInterface), &error) || !session->open(&error)) {
        complain(error);
        return nullptr;
    }
    session->onNotice = [](const QString& text) { complain(text); };
    return session;
}

ModuleCommand::ModuleCommand(batch::Task task) : m_task(task)
{
    arguments = QStringLiteral("ID...");
    options = {option::kAll, option::kJson, option::kJobs, option::kInterface};
}

int ModuleCommand::prepare(const QCommandLineParser&, const QList<QByteArray>&)
{
    return kOk;
}

bool ModuleCommand::usesNetwork(const QCommandLineParser&) const
{
    return true;
}

bool ModuleCommand::complete(batch::Job&, int, const QCommandLineParser&)
{
    return true;
}

std::optional<int> ModuleCommand::instead(const QList<batch::Job>&, const QCommandLineParser&)
{
    return std::nullopt;
}

bool ModuleCommand::hearsEveryModule(const QCommandLineParser&) const
{
    return false;
}

QList<batch::Outcome> ModuleCommand::runShowingProgress(Session& session, const QList<batch::Job>& jobs, int limit)
{
    Progress progress;
    session.onProgress = [&progress](int done, int total, const std::function<QString()>& stage) {
        progress.show(done, total, stage);
    };
    QList<batch::Outcome> outcomes = session.run(jobs, limit);
    session.onProgress = nullptr;
    return outcomes;
}

std::optional<int> ModuleCommand::runJobs(Session& session, const QList<batch::Job>& jobs,
                                          QList<batch::Outcome>& outcomes, const QCommandLineParser&)
{
    outcomes = runShowingProgress(session, jobs, m_limit);
    return std::nullopt;
}

int ModuleCommand::extendReport(int status, QJsonObject&, const QList<batch::Job>&, const QList<batch::Outcome>&,
                                const QCommandLineParser&)
{
    return status;
}

void ModuleCommand::reportSuccess(const batch::Job& job, const batch::Outcome&, QJsonObject&, bool json)
{
    if (!json)
        out() << paramfile::identityText(job.module.identity) << "  ok" << Qt::endl;
}

int ModuleCommand::afterReport(int status, const QList<batch::Job>&, const QList<batch::Outcome>&,
                               const QCommandLineParser&)
{
    return status;
}

std::optional<int> scanRefused(const Session& session, const QList<Found>& found, bool all)
{
    if (!session.scanWentOut()) {
        complain(QStringLiteral("no broadcast could leave any card: %1").arg(session.scanError()));
        return kRefused;
    }
    if (all && found.isEmpty()) {
        complain(QStringLiteral("no module answered the scan"));
        return kRefused;
    }
    return std::nullopt;
}

void ModuleCommand::reportValues(const batch::Job& job, const paramfile::Values& values, QJsonObject& module, bool json)
{
    QJsonObject object;
    if (!json)
        out() << paramfile::identityText(job.module.identity) << Qt::endl;
    for (const Parameter& p : kParameters) {
        const auto& value = values[static_cast<size_t>(indexOf(p))];
        const QString text = value ? paramfile::valueText(p, *value) : QString();
        object.insert(QString::fromLatin1(p.name), text);
        if (!json)
            out() << "  " << QString::fromLatin1(p.name).leftJustified(16) << text << Qt::endl;
    }
    module.insert(QStringLiteral("parameters"), object);
}

int ModuleCommand::execute(const QCommandLineParser& parser)
{
    const bool all = parser.isSet(option::kAll);
    QList<QByteArray> ids;
    for (const QString& text : parser.positionalArguments()) {
        const QByteArray id = paramfile::identityFromText(text);
        if (id.isEmpty()) {
            complain(QStringLiteral("%1 is not an identity (12 hexadecimal digits)").arg(text));
            return kRefused;
        }
        if (!ids.contains(id))
            ids << id;
    }
    if (ids.isEmpty() && !all) {
        complain(QStringLiteral("name the modules (ID...) or give --all"));
        return kRefused;
    }
    m_named = ids;
    bool jobsOk = false;
    const int limit = parser.value(option::kJobs).toInt(&jobsOk);
    m_limit = limit;
    if (!jobsOk || limit < 0) {
        complain(QStringLiteral("--jobs takes a number"));
        return kRefused;
    }
    // A card that cannot be used is refused before anything else, with or without the network.
    const QString card = parser.value(option::kInterface);
    if (!card.isEmpty() && cards::usable(card).isEmpty()) {
        complain(cards::notUsable(card));
        return kRefused;
    }
    if (const int status = prepare(parser, ids); status != kOk)
        return status;

    std::unique_ptr<Session> session;
    QList<batch::Module> modules;
    QStringList notFound;
    if (!usesNetwork(parser) && !all) {
        for (const QByteArray& id : std::as_const(ids))
            modules << batch::Module{id, 0, 0, {}, false, false, {}};
    } else {
        session = openSession(parser);
        if (!session)
            return kRefused;
        const bool everyModule = all || hearsEveryModule(parser);
        const QList<Found> found =
            session->scan(everyModule ? QSet<QByteArray>() : QSet<QByteArray>(ids.begin(), ids.end()));
        if (const std::optional<int> status = scanRefused(*session, found, all))
            return *status;
        m_heard = found;
        for (const Found& f : found) {
            if (all || ids.contains(frames::identityOf(f.reply)))
                modules << session->moduleOf(f);
        }
        // Named modules in the order given.
        if (!all) {
            QList<batch::Module> ordered;
            for (const QByteArray& id : std::as_const(ids)) {
                auto it = std::find_if(modules.begin(), modules.end(),
                                       [&](const batch::Module& m) { return m.identity == id; });
                if (it != modules.end())
                    ordered << *it;
                else
                    notFound << paramfile::identityText(id);
            }
            modules = ordered;
        }
    }

    QList<batch::Job> jobs;
    for (const batch::Module& module : std::as_const(modules)) {
        batch::Job job;
        job.module = module;
        job.task = m_task;
        // Its place among the modules named (or found, with --all): a count up goes by it.
        const int place = all ? static_cast<int>(jobs.size()) : static_cast<int>(ids.indexOf(module.identity));
        if (!complete(job, place, parser))
            return kRefused;
        jobs << job;
    }
    if (const std::optional<int> status = instead(jobs, parser))
        return *status;

    QList<batch::Outcome> outcomes;
    if (const std::optional<int> status = runJobs(*session, jobs, outcomes, parser))
        return *status;
    return report(jobs, outcomes, notFound, parser);
}

int ModuleCommand::report(const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes,
                          const QStringList& notFound, const QCommandLineParser& parser)
{
    const bool json = parser.isSet(option::kJson);
    int status = notFound.isEmpty() ? kOk : kFailed;
    QJsonArray list;
    for (int i = 0; i < jobs.size(); ++i) {
        const batch::Outcome& outcome = outcomes[i];
        const QString id = paramfile::identityText(jobs[i].module.identity);
        QJsonObject module{{QStringLiteral("id"), id},
                           {QStringLiteral("ok"), outcome.ok},
                           {QStringLiteral("retries"), outcome.retries}};
        if (!outcome.ok) {
            status = kFailed;
            for (const QString& line : outcome.error.split(QLatin1Char('\n')))
                complain(QStringLiteral("%1: %2").arg(id, line));
            module.insert(QStringLiteral("error"), outcome.error);
        } else {
            reportSuccess(jobs[i], outcome, module, json);
        }
        list.append(module);
    }
    for (const QString& id : notFound) {
        complain(QStringLiteral("%1: not found (no answer to SETUP)").arg(id));
        list.append(QJsonObject{{QStringLiteral("id"), id},
                                {QStringLiteral("ok"), false},
                                {QStringLiteral("error"), QStringLiteral("not found")}});
    }
    QJsonObject whole{{QStringLiteral("modules"), list}};
    status = extendReport(status, whole, jobs, outcomes, parser);
    if (json)
        printJson(whole);
    return afterReport(status, jobs, outcomes, parser);
}

} // namespace tarvik::cli
