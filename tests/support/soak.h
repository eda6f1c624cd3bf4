// Reads and writes of one simulated module, cycle after cycle, checking after every read that a
// success never shows wrong values. Shared by the soak test (a few cycles) and the soak benchmark.
#pragma once

#include "support/procstatus.h"
#include "support/simbed.h"

#include <QString>

#include <functional>

namespace tarvik::test {

struct SoakFigures
{
    int cycles = 0;
    int readsOk = 0;
    int readsFailed = 0;
    int writesOk = 0;
    int writesFailed = 0;
    // Reads that reported success while a field showed a value the module cannot hold.
    int wrongSuccesses = 0;
    // An outcome that is neither success nor failure (the window stalled), or another broken rule.
    int stalls = 0;
    int logBlocksMax = 0;
    SoakMemory memory;
    QString firstProblem;
};

// Runs `cycles` read-and-write cycles of the first listed module (the bed has scanned it): each
// cycle writes the other of two value sets, differing in every field. A read that succeeds must
// show, in every field, the set last written in full, or (after a write that failed part way) the
// old or the new value of that field. `progress`, when given, is called after every cycle.
SoakFigures soakReadWrite(Bed& bed, int cycles, const std::function<void(const SoakFigures&)>& progress = {});

} // namespace tarvik::test
