// tarvik-cli's journal: every change of a module (write, defaults, undo) as a JSON file of its own,
// with what the module held before it and what was to be set, saved before the first setting goes
// out and completed with the outcome after, so that any change, finished or not, can be undone.
//
// The files live in TARVIK_JOURNAL when it is set, else in the user's state directory under
// journal/; each is named NUMBER-ID-COMMAND.json and written whole or not at all (QSaveFile).
// The port the program holds keeps a second tarvik-cli from changing modules at the same time.
#pragma once

#include "ops/paramfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvik::cli::journal {

// The directory the entries are kept in.
QString directory();

struct Entry
{
    enum class Outcome
    {
        Pending, // saved before the change; nothing recorded after it (the program stopped)
        Done,
        Failed
    };

    int number = 0; // 0 until saved
    QByteArray identity;
    QString command; // "write", "defaults", "undo"
    QDateTime time;
    std::optional<paramfile::Values> written; // what is set; none for defaults (the module's own values)
    std::optional<paramfile::Values> backup;  // what the module held before; none with --no-backup
    int undoes = 0;                           // undo: the entry whose backup it puts back
    Outcome outcome = Outcome::Pending;
    bool verified = false;                  // Done: every value set was read back
    std::optional<paramfile::Values> after; // the values read after the change, when they were
    QString error;                          // Failed: why, where it stopped
    QString path;                           // the file, once saved

    // The fields the change sets: those written, every field for defaults.
    QStringList fields() const;
    // Those of them whose value differs from the backup (all of them without one).
    QStringList fieldsChanged() const;
    // What undoing it writes: the backup's values of the fields the change set.
    paramfile::Values undoValues() const;
};

QByteArray toJson(const Entry& entry);
// An entry from its file; nullopt, with the reason, for anything that is not one.
std::optional<Entry> fromJson(const QByteArray& bytes, QString* error);

class Journal
{
public:
    explicit Journal(const QString& directory = journal::directory());

    QString directory() const { return m_directory; }

    // Saves the entry whole, replacing its earlier state; a new entry gets the next number. False,
    // with the system's reason, when it cannot be saved (no directory, no permission, full disk).
    bool save(Entry& entry, QString* error);
    // The same for many entries at once, written side by side (each file is synced to the disk, and
    // the disk takes many such syncs together about as fast as one); the reasons, of those not saved.
    QStringList saveAll(const QList<Entry*>& entries);
    // Every entry, in the order of their numbers; files that are not entries are named in `problems`.
    QList<Entry> entries(QStringList* problems = nullptr) const;

private:
    // Gives a new entry its number and file; false when the directory cannot be made.
    bool place(Entry& entry, QString* error);

    QString m_directory;
    int m_next = 0;
};

} // namespace tarvik::cli::journal
