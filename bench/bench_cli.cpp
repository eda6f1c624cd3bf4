// tarvik-cli's engine against tarvik-sim with a reply delay that stands in for a LAN and a real
// module: one module's full read, 100 modules read at once (--all), the same 100 one after another
// (--jobs 1), and the floor client reading one module; then writes of all 28 parameters, verified
// (read back) and not, of one module and of 100 at once; the same verified writes with their backup
// in the journal (the module read first, its entry saved before and after); and what a write's
// address check costs: the full scan in place of one that ends with the named module, and the
// look-up of every other module's address (one query each). Prints figures; asserts nothing about
// time.
// Opens the tool's port: runs only in a private network namespace.
#include "cli/change.h"
#include "cli/session.h"
#include "floor.h"
#include "stats.h"
#include "support/netns.h"
#include "support/simbed.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace tarvik;
using namespace tarvik::bench;

namespace {

double timedRun(cli::Session& session, const QList<batch::Job>& jobs, int limit)
{
    const qint64 t0 = nowNs();
    const QList<batch::Outcome> outcomes = session.run(jobs, limit);
    const double ms = static_cast<double>(nowNs() - t0) / 1e6;
    for (const batch::Outcome& outcome : outcomes) {
        if (!outcome.ok)
            qFatal("a run failed: %s", qPrintable(outcome.error));
    }
    return ms;
}

double timedChange(cli::Session& session, cli::journal::Journal& journal, const QList<batch::Job>& jobs)
{
    QList<cli::Change> changes;
    for (const batch::Job& job : jobs)
        changes << cli::Change{job, QStringLiteral("write"), 0};
    const qint64 t0 = nowNs();
    const cli::ChangeResult result = cli::applyChanges(session, journal, changes, {});
    const double ms = static_cast<double>(nowNs() - t0) / 1e6;
    for (const batch::Outcome& outcome : result.outcomes) {
        if (!outcome.ok || !outcome.verified)
            qFatal("a write with its backup failed: %s", qPrintable(outcome.error));
    }
    return ms;
}

double timedScan(cli::Session& session, const QSet<QByteArray>& wanted)
{
    const qint64 t0 = nowNs();
    session.scan(wanted);
    return static_cast<double>(nowNs() - t0) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const char* delay = argc > 2 ? argv[2] : "2";
    constexpr int kModules = 100;
    std::printf("bench_cli: %d modules, reply delay %s ms, %d rounds\n", kModules, delay, rounds);

    tarvik::test::SimProcess sim({QStringLiteral("--count"), QString::number(kModules), QStringLiteral("--delay"),
                                  QString::fromLatin1(delay), QStringLiteral("--quiet")});
    if (!sim.start())
        qFatal("%s", qPrintable(sim.error()));

    std::vector<double> one, all, sequential, floorRead, writeOne, writeOneVerified, writeAllVerified;
    std::vector<double> backupOne, backupAll, scanNamed, scanFull, lookup;
    QByteArray firstIdentity;
    {
        cli::Session session;
        QString error;
        if (!session.open(&error))
            qFatal("%s", qPrintable(error));
        const qint64 t0 = nowNs();
        const QList<cli::Found> found = session.scan();
        std::printf("scan: %lld modules in %.0f ms\n", static_cast<long long>(found.size()),
                    static_cast<double>(nowNs() - t0) / 1e6);
        if (found.size() != kModules)
            qFatal("the scan found %lld modules", static_cast<long long>(found.size()));
        QList<batch::Job> jobs;
        for (const cli::Found& f : found) {
            batch::Job job;
            job.module = session.moduleOf(f);
            jobs << job;
        }
        firstIdentity = jobs.first().module.identity;
        for (int r = 0; r < rounds; ++r) {
            one.push_back(timedRun(session, {jobs.first()}, 0));
            all.push_back(timedRun(session, jobs, 0));
        }
        sequential.push_back(timedRun(session, jobs, 1));
        // Each module written with the values it holds (as read), all 28 of them.
        const QList<batch::Outcome> read = session.run(jobs, 0);
        QList<batch::Job> writes;
        for (int i = 0; i < jobs.size(); ++i) {
            batch::Job job;
            job.module = jobs[i].module;
            job.task = batch::Task::Write;
            job.values = read[i].values;
            writes << job;
        }
        batch::Job unverified = writes.first();
        unverified.verify = false;
        for (int r = 0; r < rounds; ++r) {
            writeOne.push_back(timedRun(session, {unverified}, 0));
            writeOneVerified.push_back(timedRun(session, {writes.first()}, 0));
            writeAllVerified.push_back(timedRun(session, writes, 0));
        }
        QTemporaryDir journalDirectory;
        cli::journal::Journal journal(journalDirectory.path());
        for (int r = 0; r < rounds; ++r) {
            backupOne.push_back(timedChange(session, journal, {writes.first()}));
            backupAll.push_back(timedChange(session, journal, writes));
        }
        // A write to the first module that sets its address: the others' addresses, one query each.
        QList<batch::Job> lookups;
        for (int i = 1; i < jobs.size(); ++i) {
            batch::Job query = jobs[i];
            query.only = {indexOf(parameterOf(fieldNamed("S_IP")))};
            lookups << query;
        }
        for (int r = 0; r < rounds; ++r) {
            scanNamed.push_back(timedScan(session, {firstIdentity}));
            scanFull.push_back(timedScan(session, {}));
            lookup.push_back(timedRun(session, lookups, 0));
        }
    }
    {
        QList<QByteArray> queries;
        for (const Parameter* p : batch::readOrder())
            queries << frames::query(firstIdentity, *p);
        Floor floor;
        for (int r = 0; r < rounds; ++r)
            floorRead.push_back(floor.exchange(queries));
    }
    const Summary s1 = summarize(one), sa = summarize(all), ss = summarize(sequential), sf = summarize(floorRead);
    printRow("one module's read (engine)", s1, "ms");
    printRow("100 modules at once (--all)", sa, "ms");
    printRow("100 modules one after another (--jobs 1)", ss, "ms");
    printRow("one module's read, the floor client", sf, "ms");
    std::printf("100 at once / one: median %.2f (target <= 2)\n", sa.median / s1.median);
    std::printf("one after another / at once: %.1f (target >= 30)\n", ss.median / sa.median);
    std::printf("one module / floor: median %.3f (target <= 1.2)\n", s1.median / sf.median);
    const Summary w1 = summarize(writeOne), wv = summarize(writeOneVerified), wa = summarize(writeAllVerified);
    printRow("one module's write, not verified", w1, "ms");
    printRow("one module's write, verified", wv, "ms");
    printRow("100 modules written and verified at once", wa, "ms");
    std::printf("verified / not verified: median %.2f (target <= 2.2)\n", wv.median / w1.median);
    std::printf("100 verified at once / one verified: median %.2f (target <= 2)\n", wa.median / wv.median);
    const Summary b1 = summarize(backupOne), ba = summarize(backupAll);
    printRow("one module's verified write with its backup", b1, "ms");
    printRow("100 modules' verified writes with their backups", ba, "ms");
    std::printf("with backup / without, one module: median %.2f\n", b1.median / wv.median);
    std::printf("100 with backups / one with its backup: median %.2f (target <= 2)\n", ba.median / b1.median);
    const Summary sn = summarize(scanNamed), sl = summarize(scanFull), lk = summarize(lookup);
    printRow("scan until the named module answered", sn, "ms");
    printRow("full scan (all modules heard)", sl, "ms");
    printRow("the other 99 modules' S_IP, one query each", lk, "ms");
    std::printf("address check, added to a write of one module: median %.0f ms\n", sl.median - sn.median + lk.median);
    return 0;
}
