// A change of modules (write, defaults, undo) made so that nothing is lost. When it sets addresses,
// they are checked first: against each other and this PC's cards (nothing sent yet), then against
// the address of every other module heard (one query each); a clash refuses the whole change
// before any setting. Then what each module holds is read (its backup), each module's journal entry
// is saved, and only a module whose entry was saved is changed; its outcome is recorded after.
#pragma once

#include "cli/journal.h"
#include "cli/session.h"
#include "link/link.h"
#include "ops/audit.h"
#include "ops/batch.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tarvik::cli {

struct Change
{
    batch::Job job;  // a write (its values) or a restore of defaults
    QString command; // "write", "defaults", "undo"
    int undoes = 0;  // undo: the entry put back
};

struct ChangeOptions
{
    bool backup = true; // read what each module holds first (--no-backup: not)
    // Check the addresses set against each other, the PC's cards and the other modules (`others`).
    bool checkAddresses = false;
    QList<batch::Module> others; // modules heard that the change does not touch
    QList<Card> cards;           // this PC's cards
    // Runs the engine (with progress, say); by default Session::run with no limit.
    std::function<QList<batch::Outcome>(const QList<batch::Job>&)> run;
};

struct ChangeResult
{
    QList<batch::Outcome> outcomes;               // one per change, in order
    QList<std::optional<journal::Entry>> entries; // the entry saved for each change
    QList<audit::Finding> clashes;                // addresses that clash: nothing was set
    QStringList unknown;                          // addresses the check needed and could not read: nothing set
    QStringList problems;                         // outcomes that could not be recorded in the journal

    bool refused() const { return !clashes.isEmpty() || !unknown.isEmpty(); }
};

// Whether a job sets the module's own address.
bool setsAddress(const batch::Job& job);

ChangeResult applyChanges(Session& session, journal::Journal& journal, const QList<Change>& changes,
                          const ChangeOptions& options);

} // namespace tarvik::cli
