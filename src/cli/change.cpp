#include "change.h"

#include "ops/paramfile.h"

namespace tarvik::cli {

namespace {

const Parameter& ownAddress()
{
    return parameterOf(fieldNamed("S_IP"));
}

const std::optional<frames::FieldValue>& addressIn(const paramfile::Values& values)
{
    return values[static_cast<size_t>(indexOf(ownAddress()))];
}

batch::Job readOf(const batch::Module& module, bool addressOnly)
{
    batch::Job job;
    job.module = module;
    job.task = batch::Task::Read;
    if (addressOnly)
        job.only = {indexOf(ownAddress())};
    return job;
}

} // namespace

bool setsAddress(const batch::Job& job)
{
    return job.task == batch::Task::Write && addressIn(job.values).has_value();
}

ChangeResult applyChanges(Session& session, journal::Journal& journal, const QList<Change>& changes,
                          const ChangeOptions& options)
{
    std::function<QList<batch::Outcome>(const QList<batch::Job>&)> run = options.run;
    if (!run)
        run = [&session](const QList<batch::Job>& jobs) { return session.run(jobs, 0); };
    ChangeResult result;

    if (options.checkAddresses) {
        // The addresses set, against each other and the PC's, before anything goes out.
        QList<audit::Address> addresses;
        for (const Change& change : changes) {
            if (setsAddress(change.job))
                addresses << audit::Address{change.job.module.identity, addressIn(change.job.values)->text, true};
        }
        result.clashes = audit::clashes(addresses, options.cards);
        if (result.refused())
            return result;
        // Then against what the other modules hold: one query each, no setting yet.
        QList<batch::Module> holders = options.others;
        for (const Change& change : changes) {
            if (!setsAddress(change.job))
                holders << change.job.module;
        }
        QList<batch::Job> lookups;
        for (const batch::Module& module : std::as_const(holders))
            lookups << readOf(module, true);
        const QList<batch::Outcome> held = lookups.isEmpty() ? QList<batch::Outcome>() : run(lookups);
        for (int i = 0; i < held.size(); ++i) {
            const QString id = paramfile::identityText(holders[i].identity);
            if (!held[i].ok || !addressIn(held[i].values))
                result.unknown << QStringLiteral("%1: its address could not be read: %2").arg(id, held[i].error);
            else
                addresses << audit::Address{holders[i].identity, addressIn(held[i].values)->text, false};
        }
        result.clashes = audit::clashes(addresses, options.cards);
        if (result.refused())
            return result;
    }

    // What each module holds, read before it is changed.
    QList<batch::Job> reads;
    if (options.backup) {
        for (const Change& change : changes)
            reads << readOf(change.job.module, false);
    }
    const QList<batch::Outcome> read = reads.isEmpty() ? QList<batch::Outcome>() : run(reads);

    // The entries, before the first setting; a module whose entry is not saved is not touched.
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < changes.size(); ++i) {
        const Change& change = changes[i];
        result.entries << std::nullopt;
        result.outcomes << batch::Outcome();
        if (options.backup && !read[i].ok) {
            result.outcomes[i].error =
                QStringLiteral("not touched: what it holds could not be read first: ") + read[i].error;
            continue;
        }
        journal::Entry entry;
        entry.identity = change.job.module.identity;
        entry.command = change.command;
        entry.time = now.toOffsetFromUtc(now.offsetFromUtc()); // local time, with its offset in the file
        if (change.job.task == batch::Task::Write)
            entry.written = change.job.values;
        if (options.backup)
            entry.backup = read[i].values;
        entry.undoes = change.undoes;
        result.entries.last() = entry;
    }
    const auto saveEntries = [&] {
        QList<journal::Entry*> entries;
        QList<int> changeOf;
        for (int i = 0; i < changes.size(); ++i) {
            if (result.entries[i]) {
                entries << &*result.entries[i];
                changeOf << i;
            }
        }
        const QStringList errors = journal.saveAll(entries);
        QList<std::pair<int, QString>> failed;
        for (int k = 0; k < errors.size(); ++k) {
            if (!errors[k].isEmpty())
                failed << std::pair{changeOf[k], errors[k]};
        }
        return failed;
    };
    for (const auto& [i, error] : saveEntries()) {
        result.outcomes[i].error = QStringLiteral("not touched: its journal entry cannot be saved: ") + error;
        result.entries[i].reset();
    }

    QList<batch::Job> jobs;
    QList<int> jobOfChange;
    for (int i = 0; i < changes.size(); ++i) {
        jobOfChange << (result.entries[i] ? static_cast<int>(jobs.size()) : -1);
        if (result.entries[i])
            jobs << changes[i].job;
    }
    const QList<batch::Outcome> done = jobs.isEmpty() ? QList<batch::Outcome>() : run(jobs);
    for (int i = 0; i < changes.size(); ++i) {
        if (jobOfChange[i] < 0)
            continue;
        const batch::Outcome& outcome = done[jobOfChange[i]];
        result.outcomes[i] = outcome;
        journal::Entry& entry = *result.entries[i];
        entry.outcome = outcome.ok ? journal::Entry::Outcome::Done : journal::Entry::Outcome::Failed;
        entry.verified = outcome.verified;
        entry.error = outcome.error;
        // A write that was not read back shows nothing the module was seen to hold.
        if (outcome.ok && (outcome.verified || changes[i].job.task == batch::Task::Defaults))
            entry.after = outcome.values;
    }
    for (const auto& [i, error] : saveEntries())
        result.problems << QStringLiteral("%1: the outcome could not be recorded in entry %2: %3")
                               .arg(paramfile::identityText(result.entries[i]->identity))
                               .arg(result.entries[i]->number)
                               .arg(error);
    return result;
}

} // namespace tarvik::cli
