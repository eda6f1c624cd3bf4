#include "clisoak.h"

#include "support/simbed.h"

namespace tarvik::test {

namespace {

// The module's index in its tarvik-sim process: identities count up from 001A2B3C4D5E.
int simIndexOf(const QByteArray& identity)
{
    bool ok = false;
    const qint64 index = identity.toHex().toLongLong(&ok, 16) - 0x001A2B3C4D5ELL;
    return ok && index >= 0 && index < 10000 ? static_cast<int>(index) : -1;
}

// The value a read gives, in the form factoryFields() states it: a drop-down's position, a text.
QString shown(Field which, const paramfile::Values& values)
{
    const auto& value = values[static_cast<size_t>(which)];
    if (!value)
        return QStringLiteral("(none)");
    return parameterOf(which).isDropDown() ? QString::number(value->index) : value->text;
}

} // namespace

CliSoakFigures soakCliReads(cli::Session& session, const QList<cli::Found>& found, int rounds,
                            const std::function<void(const CliSoakFigures&)>& progress)
{
    CliSoakFigures figures;
    QList<batch::Job> jobs;
    QList<QList<FieldValue>> expected;
    for (const cli::Found& module : found) {
        batch::Job job;
        job.module = session.moduleOf(module);
        job.task = batch::Task::Read;
        jobs << job;
        const int index = simIndexOf(job.module.identity);
        expected << (index >= 0 ? factoryFields(index) : QList<FieldValue>());
    }
    for (int round = 0; round < rounds; ++round) {
        const QList<batch::Outcome> outcomes = session.run(jobs, 0);
        for (qsizetype m = 0; m < outcomes.size(); ++m) {
            const batch::Outcome& outcome = outcomes[m];
            figures.retries += outcome.retries;
            if (!outcome.ok) {
                ++figures.readsFailed;
                continue;
            }
            ++figures.readsOk;
            if (expected[m].isEmpty()) {
                ++figures.unknownModules;
                continue;
            }
            for (const FieldValue& field : expected[m]) {
                const QString value = shown(field.field, outcome.values);
                if (value == field.value)
                    continue;
                ++figures.wrongSuccesses;
                if (figures.firstProblem.isEmpty()) {
                    figures.firstProblem =
                        QStringLiteral("round %1, %2: %3 is %4, the module holds %5")
                            .arg(round + 1)
                            .arg(QString::fromLatin1(jobs[m].module.identity.toHex()),
                                 QString::fromLatin1(parameterOf(field.field).name), value, field.value);
                }
                break;
            }
        }
        ++figures.rounds;
        figures.memory.cycleDone(figures.rounds);
        if (progress)
            progress(figures);
    }
    figures.memory.end();
    return figures;
}

} // namespace tarvik::test
