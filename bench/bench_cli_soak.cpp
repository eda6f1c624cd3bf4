// tarvik-cli's engine reading 50 simulated modules round after round while tarvik-sim loses a share
// of its replies (2 % by default): every read ends with the module's values or a failure, never a
// success with wrong values. The program is one process per run; its engine and session are looped
// here in one process, so that state left behind by a run would show as growing resident memory.
// Prints figures; asserts nothing about time. Opens the tool's port: runs only in a private network
// namespace (bench/run.sh cli-soak makes one).
#include "support/clisoak.h"
#include "support/netns.h"
#include "support/simbed.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace tarvik;
using namespace tarvik::test;

int main(int argc, char* argv[])
{
    requirePrivateNetworkNamespace(argv[0]);
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 100;
    const QByteArray loss = argc > 2 ? QByteArray(argv[2]) : QByteArray("2");
    constexpr int kModules = 50;

    SimProcess sim({QStringLiteral("--count"), QString::number(kModules), QStringLiteral("--loss"),
                    QString::fromLatin1(loss) + QStringLiteral(":7"), QStringLiteral("--quiet")});
    if (!sim.start())
        qFatal("bench_cli_soak: %s", qPrintable(sim.error()));
    cli::Session session;
    QString error;
    if (!session.open(&error))
        qFatal("bench_cli_soak: %s", qPrintable(error));
    if (!session.useCard(QString(), &error))
        qFatal("bench_cli_soak: %s", qPrintable(error));
    const QList<cli::Found> found = session.scan();
    std::printf("bench_cli_soak: %lld of %d modules found, %d rounds, %s %% of replies lost\n",
                static_cast<long long>(found.size()), kModules, rounds, loss.constData());

    QElapsedTimer clock;
    clock.start();
    const auto print = [&](const CliSoakFigures& f) {
        std::printf("cli soak %3d rounds %6.1f s: reads %d ok %d failed, %d exchanges repeated, wrong successes %d, "
                    "RSS after 10 %ld kB, now %ld kB\n",
                    f.rounds, static_cast<double>(clock.elapsed()) / 1000.0, f.readsOk, f.readsFailed, f.retries,
                    f.wrongSuccesses, f.memory.afterTenKb, f.memory.nowKb());
        std::fflush(stdout);
    };
    const CliSoakFigures figures = soakCliReads(session, found, rounds, [&](const CliSoakFigures& f) {
        if (f.rounds % 10 == 0)
            print(f);
    });
    print(figures);
    std::printf("cli soak: %d rounds; resident memory grew %ld kB from round 10 to the end%s%s\n", figures.rounds,
                figures.memory.grownKb(),
                figures.firstProblem.isEmpty() ? "" : "; first problem: ", qPrintable(figures.firstProblem));
    return figures.wrongSuccesses == 0 && figures.unknownModules == 0 ? 0 : 1;
}
