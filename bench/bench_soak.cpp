// Soak under loss: the real window reads and writes one simulated module that loses 2 % of its
// replies at random, cycle after cycle (300 by default; a lost reply costs a 400 ms time-out, so
// this takes minutes). Prints, every 10 cycles and at the end, the outcomes, the reads that
// reported success with a wrong value (there must be none), the resident memory after 10 cycles
// and now, and the largest log. Opens the tool's port: runs only in a private network namespace.
//
//   bench_soak [CYCLES [LOSS_PERCENT]]
#include "support/netns.h"
#include "support/simbed.h"
#include "support/soak.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace tarvik;
using namespace tarvik::test;

int main(int argc, char* argv[])
{
    requirePrivateNetworkNamespace(argv[0]);
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? QByteArray(argv[1]).toInt() : 300;
    const QByteArray loss = argc > 2 ? QByteArray(argv[2]) : QByteArray("2");

    Bed bed;
    if (!bed.open() || !bed.startSim({QStringLiteral("--loss"), QString::fromLatin1(loss) + QStringLiteral(":11"),
                                      QStringLiteral("--quiet")}))
        qFatal("bench_soak: cannot set up the window and the simulated module");
    // A lost discovery reply is made up for by the next of the four broadcasts.
    if (!bed.scan(1))
        qFatal("bench_soak: the scan did not find the module");

    QElapsedTimer clock;
    clock.start();
    auto print = [&](const SoakFigures& f) {
        std::printf("soak %3d cycles %6.1f s: reads %d ok %d failed, writes %d ok %d failed, wrong successes %d, "
                    "stalls %d, log blocks <= %d, RSS after 10 %ld kB, now %ld kB\n",
                    f.cycles, static_cast<double>(clock.elapsed()) / 1000.0, f.readsOk, f.readsFailed, f.writesOk,
                    f.writesFailed, f.wrongSuccesses, f.stalls, f.logBlocksMax, f.memory.afterTenKb, f.memory.nowKb());
        std::fflush(stdout);
    };
    const SoakFigures figures = soakReadWrite(bed, cycles, [&](const SoakFigures& f) {
        if (f.cycles % 10 == 0)
            print(f);
    });
    print(figures);
    std::printf("soak: %d cycles with %s %% loss; resident memory grew %ld kB from cycle 10 to the end%s%s\n",
                figures.cycles, loss.constData(), figures.memory.grownKb(),
                figures.firstProblem.isEmpty() ? "" : "; first problem: ", qPrintable(figures.firstProblem));
    return figures.wrongSuccesses == 0 && figures.stalls == 0 ? 0 : 1;
}
