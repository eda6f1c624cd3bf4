#include "soak.h"

#include "ops/messagelog.h"
#include "ops/messages.h"

#include <QPlainTextEdit>
#include <QTest>

namespace tarvik::test {

namespace {

void enter(FormDriver& ui, const QList<FieldValue>& values)
{
    for (const FieldValue& value : values) {
        if (parameterOf(value.field).isDropDown())
            ui.choose(value.field, value.value.toInt());
        else
            ui.type(value.field, value.value);
    }
}

enum class Outcome
{
    Succeeded,
    Failed,
    Stalled
};

// Waits for the last line of the log to be one of the two outcomes.
Outcome waitForOutcome(Bed& bed, const QString& success, const QString& failure)
{
    Outcome outcome = Outcome::Stalled;
    // The outcome tells whether the wait ended in time.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            // The log shows an operation's outcome when it ends: until then its last line is the
            // operation's before.
            if (bed.ui().operations().isBusy())
                return false;
            const QString last = bed.ui().logLines().last();
            if (last == success)
                outcome = Outcome::Succeeded;
            else if (last == failure)
                outcome = Outcome::Failed;
            return outcome != Outcome::Stalled;
        },
        15000));
    return outcome;
}

} // namespace

SoakFigures soakReadWrite(Bed& bed, int cycles, const std::function<void(const SoakFigures&)>& progress)
{
    const QList<FieldValue> sets[2] = {factoryFields(0), otherFields()};
    const QString readOk = log::numbered(msg::kReadDevice, 1, msg::kReadSucceeded);
    const QString writeOk = log::numbered(msg::kSetDevice, 1, msg::kWriteSucceeded);
    // The second line of each failure entry.
    const QString failed = log::text(msg::kCheckAndRetry);
    const QString refused = log::text(msg::kCheckConnection);

    SoakFigures figures;
    int current = 0;    // the set the module holds in full
    int partlyNew = -1; // after a failed write: the set the module may hold part of
    auto note = [&](const QString& problem) {
        if (figures.firstProblem.isEmpty())
            figures.firstProblem = QStringLiteral("cycle %1: %2").arg(figures.cycles + 1).arg(problem);
    };
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // The bed's listener records every frame on the wire; the soak does not look at them, and
        // what they hold would count as the window's memory.
        bed.wire().clear();
        bed.ui().pickDevice(0);
        switch (waitForOutcome(bed, readOk, failed)) {
        case Outcome::Succeeded:
            ++figures.readsOk;
            for (int i = 0; i < sets[current].size(); ++i) {
                const QString shown = bed.ui().value(sets[current][i].field);
                const bool right =
                    shown == sets[current][i].value || (partlyNew >= 0 && shown == sets[partlyNew][i].value);
                if (!right) {
                    ++figures.wrongSuccesses;
                    note(QStringLiteral("%1 shows %2 after a successful read")
                             .arg(QString::fromLatin1(parameterOf(sets[current][i].field).name), shown));
                    break;
                }
            }
            break;
        case Outcome::Failed:
            ++figures.readsFailed;
            break;
        case Outcome::Stalled:
            ++figures.stalls;
            note(QStringLiteral("the read ended with neither outcome: ") + bed.ui().logLines().last());
            break;
        }

        // Write the other set; a write may follow a failed read, as a user may press 设  置 then.
        const int next = 1 - current;
        enter(bed.ui(), sets[next]);
        if (!bed.ui().isEnabled("Setting")) {
            // A failed read leaves 设  置 disabled: the cycle ends without a write.
        } else {
            bed.ui().click("Setting");
            switch (waitForOutcome(bed, writeOk, failed)) {
            case Outcome::Succeeded:
                ++figures.writesOk;
                current = next;
                partlyNew = -1;
                break;
            case Outcome::Failed:
                ++figures.writesFailed;
                partlyNew = next;
                break;
            case Outcome::Stalled:
                if (bed.ui().logLines().last() == refused) {
                    ++figures.writesFailed;
                    partlyNew = next;
                } else {
                    ++figures.stalls;
                    note(QStringLiteral("the write ended with neither outcome: ") + bed.ui().logLines().last());
                }
                break;
            }
        }
        ++figures.cycles;
        const int blocks = bed.ui().form().findChild<QPlainTextEdit*>(QStringLiteral("Help_Text"))->blockCount();
        figures.logBlocksMax = std::max(figures.logBlocksMax, blocks);
        figures.memory.cycleDone(figures.cycles);
        if (progress)
            progress(figures);
    }
    figures.memory.end();
    return figures;
}

} // namespace tarvik::test
