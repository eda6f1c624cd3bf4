// tarvik-cli's engine reading many simulated modules round after round in this process (the
// program itself is one process per run, so its memory over many runs is this loop's), checking
// that a read that succeeds holds every value its module holds. Shared by the short test in
// tst_cli and the benchmark bench_cli_soak.
#pragma once

#include "cli/session.h"
#include "support/procstatus.h"

#include <QString>

#include <functional>

namespace tarvik::test {

struct CliSoakFigures
{
    int rounds = 0;
    int readsOk = 0;
    int readsFailed = 0;
    int retries = 0;
    int wrongSuccesses = 0; // reads that reported success with a value the module does not hold
    int unknownModules = 0; // outcomes of an identity that is not one of the simulated modules
    SoakMemory memory;
    QString firstProblem;
};

// Reads the found modules of a `tarvik-sim --count N` process (factory values, first identity
// 001A2B3C4D5E) `rounds` times, all at once. `progress`, when given, is called after every round.
CliSoakFigures soakCliReads(cli::Session& session, const QList<cli::Found>& found, int rounds,
                            const std::function<void(const CliSoakFigures&)>& progress = {});

} // namespace tarvik::test
