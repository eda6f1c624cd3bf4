// tarvik-cli audit: reads the modules and says what is wrong with the plant: fields that drifted from
// the file it was commissioned with, and settings that clash (one address for two modules, the PC's
// address, a mask with holes, a gateway outside the subnet, two channels on one port, a destination
// that is no other host). One line per finding on stderr; --json lists them too.
#include "ops/audit.h"
#include "cli/modulecommand.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"
#include "ops/csvfile.h"

#include <QJsonArray>

namespace tarvik::cli {

namespace {

const QCommandLineOption kAgainst{QStringLiteral("against"),
                                  QStringLiteral("Compare with this parameter file (JSON, or CSV for a name ending in "
                                                 ".csv): each module with its own entry, or every module with the "
                                                 "one set it holds."),
                                  QStringLiteral("file")};

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

class AuditCommand : public ModuleCommand
{
public:
    AuditCommand() : ModuleCommand(batch::Task::Read)
    {
        name = QStringLiteral("audit");
        description = QStringLiteral("Read the modules and report what drifted from a file (--against) and what "
                                     "clashes: addresses, masks, gateways, ports, destinations.");
        options << kAgainst;
    }

protected:
    int prepare(const QCommandLineParser& parser, const QList<QByteArray>& ids) override
    {
        m_planName = parser.value(kAgainst);
        if (m_planName.isEmpty())
            return kOk;
        m_plan = csvfile::loadAny(m_planName);
        if (!m_plan.ok()) {
            complain(m_plan.error);
            return kRefused;
        }
        for (const QByteArray& id : ids) {
            if (!paramfile::valuesFor(m_plan, id)) {
                complain(QStringLiteral("%1: no parameters for %2").arg(m_planName, paramfile::identityText(id)));
                return kRefused;
            }
        }
        return kOk;
    }

    std::optional<int> runJobs(Session& session, const QList<batch::Job>& jobs, QList<batch::Outcome>& outcomes,
                               const QCommandLineParser& parser) override
    {
        outcomes = runShowingProgress(session, jobs, m_limit);
        QList<paramfile::ModuleValues> read;
        for (int i = 0; i < jobs.size(); ++i) {
            if (outcomes[i].ok)
                read.append({jobs[i].module.identity, outcomes[i].values});
        }
        m_findings = audit::conflicts(read, cards::usable());
        if (!m_planName.isEmpty()) {
            QList<QByteArray> answered;
            for (const Found& f : std::as_const(m_heard))
                answered << frames::identityOf(f.reply);
            m_findings += audit::drift(read, m_plan, answered, parser.isSet(option::kAll), m_planName);
        }
        return std::nullopt;
    }

    void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json) override
    {
        if (json) {
            reportValues(job, outcome.values, module, json);
            return;
        }
        int count = 0;
        for (const audit::Finding& f : std::as_const(m_findings))
            count += f.ids.contains(job.module.identity) ? 1 : 0;
        out() << paramfile::identityText(job.module.identity) << "  "
              << (count == 0 ? QStringLiteral("no finding")
                             : QStringLiteral("%1 finding%2").arg(count).arg(count == 1 ? "" : "s"))
              << Qt::endl;
    }

    int extendReport(int status, QJsonObject& report, const QList<batch::Job>&, const QList<batch::Outcome>&,
                     const QCommandLineParser&) override
    {
        QJsonArray list;
        for (const audit::Finding& f : std::as_const(m_findings)) {
            complain(f.message);
            QJsonArray ids;
            for (const QByteArray& id : f.ids)
                ids.append(paramfile::identityText(id));
            list.append(QJsonObject{{QStringLiteral("kind"), audit::kindName(f.kind)},
                                    {QStringLiteral("ids"), ids},
                                    {QStringLiteral("field"), textOrNull(f.fields.join(QStringLiteral(", ")))},
                                    {QStringLiteral("expected"), textOrNull(f.expected)},
                                    {QStringLiteral("actual"), textOrNull(f.actual)},
                                    {QStringLiteral("message"), f.message}});
        }
        report.insert(QStringLiteral("findings"), list);
        return m_findings.isEmpty() ? status : std::max(status, int(kFailed));
    }

private:
    QString m_planName;
    paramfile::Result m_plan;
    QList<audit::Finding> m_findings;
};

TARVIK_CLI_COMMAND(AuditCommand, 35);

} // namespace tarvik::cli
