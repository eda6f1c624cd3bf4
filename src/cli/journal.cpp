#include "journal.h"

#include "os/statedir.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace tarvik::cli::journal {

namespace {

// Entries are small; anything much larger in the directory is no entry.
constexpr qint64 kMaxEntrySize = qint64(256) * 1024;

const QRegularExpression& entryName()
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+)-[0-9A-F]{12}-[a-z]+\\.json$"));
    return pattern;
}

QJsonValue valuesJson(const std::optional<paramfile::Values>& values)
{
    if (!values)
        return QJsonValue();
    QJsonObject object;
    for (const Parameter& p : kParameters) {
        const auto& value = (*values)[static_cast<size_t>(indexOf(p))];
        if (value && !(p.isDropDown() && paramfile::valueText(p, *value).isEmpty()))
            object.insert(QString::fromLatin1(p.name), paramfile::valueText(p, *value));
    }
    return object;
}

std::optional<paramfile::Values> valuesFrom(const QJsonValue& json, const QString& key, QString* error)
{
    if (json.isNull() || json.isUndefined())
        return std::nullopt;
    paramfile::Values values;
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Parameter* p = paramfile::parameterNamed(it.key());
        QString why;
        const std::optional<frames::FieldValue> value =
            p ? paramfile::valueFromText(*p, it.value().toString(), &why) : std::nullopt;
        if (!value) {
            *error = QStringLiteral("\"%1\": \"%2\": %3").arg(key, it.key(), p ? why : QStringLiteral("unknown field"));
            return std::nullopt;
        }
        values[static_cast<size_t>(indexOf(*p))] = value;
    }
    return values;
}

QString outcomeName(Entry::Outcome outcome)
{
    switch (outcome) {
    case Entry::Outcome::Done:
        return QStringLiteral("done");
    case Entry::Outcome::Failed:
        return QStringLiteral("failed");
    case Entry::Outcome::Pending:
        break;
    }
    return QStringLiteral("pending");
}

} // namespace

QString directory()
{
    const QString chosen = qEnvironmentVariable("TARVIK_JOURNAL");
    return chosen.isEmpty() ? os::stateDirectory() + QStringLiteral("/journal") : chosen;
}

QStringList Entry::fields() const
{
    QStringList list;
    for (const Parameter& p : kParameters) {
        if (!written || (*written)[static_cast<size_t>(indexOf(p))])
            list << QString::fromLatin1(p.name);
    }
    return list;
}

QStringList Entry::fieldsChanged() const
{
    QStringList list;
    for (const Parameter& p : kParameters) {
        const size_t i = static_cast<size_t>(indexOf(p));
        if (written && !(*written)[i])
            continue;
        const std::optional<frames::FieldValue> to = written ? (*written)[i] : (after ? (*after)[i] : std::nullopt);
        const std::optional<frames::FieldValue> from = backup ? (*backup)[i] : std::nullopt;
        if (!to || !from || !paramfile::sameValue(p, *from, *to))
            list << QString::fromLatin1(p.name);
    }
    return list;
}

paramfile::Values Entry::undoValues() const
{
    paramfile::Values values;
    if (!backup)
        return values;
    for (const Parameter& p : kParameters) {
        const size_t i = static_cast<size_t>(indexOf(p));
        if (!written || (*written)[i])
            values[i] = (*backup)[i];
    }
    return values;
}

QByteArray toJson(const Entry& entry)
{
    QJsonObject object{{QStringLiteral("entry"), entry.number},
                       {QStringLiteral("id"), paramfile::identityText(entry.identity)},
                       {QStringLiteral("command"), entry.command},
                       {QStringLiteral("time"), entry.time.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("written"), valuesJson(entry.written)},
                       {QStringLiteral("backup"), valuesJson(entry.backup)},
                       {QStringLiteral("outcome"), outcomeName(entry.outcome)}};
    if (entry.undoes > 0)
        object.insert(QStringLiteral("undoes"), entry.undoes);
    if (entry.outcome == Entry::Outcome::Done)
        object.insert(QStringLiteral("verified"), entry.verified);
    if (entry.outcome != Entry::Outcome::Pending)
        object.insert(QStringLiteral("after"), valuesJson(entry.after));
    if (!entry.error.isEmpty())
        object.insert(QStringLiteral("error"), entry.error);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<Entry> fromJson(const QByteArray& bytes, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("not a journal entry (JSON: %1)").arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    Entry entry;
    entry.number = object.value(QStringLiteral("entry")).toInt();
    entry.identity = paramfile::identityFromText(object.value(QStringLiteral("id")).toString());
    entry.command = object.value(QStringLiteral("command")).toString();
    entry.time = QDateTime::fromString(object.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    entry.undoes = object.value(QStringLiteral("undoes")).toInt();
    const QString outcome = object.value(QStringLiteral("outcome")).toString();
    entry.outcome = outcome == QLatin1String("done")     ? Entry::Outcome::Done
                    : outcome == QLatin1String("failed") ? Entry::Outcome::Failed
                                                         : Entry::Outcome::Pending;
    entry.verified = object.value(QStringLiteral("verified")).toBool();
    entry.error = object.value(QStringLiteral("error")).toString();
    if (entry.number <= 0 || entry.identity.isEmpty() || entry.command.isEmpty() || !entry.time.isValid()) {
        *error = QStringLiteral("not a journal entry (no entry number, id, command or time)");
        return std::nullopt;
    }
    error->clear();
    entry.written = valuesFrom(object.value(QStringLiteral("written")), QStringLiteral("written"), error);
    if (error->isEmpty())
        entry.backup = valuesFrom(object.value(QStringLiteral("backup")), QStringLiteral("backup"), error);
    if (error->isEmpty())
        entry.after = valuesFrom(object.value(QStringLiteral("after")), QStringLiteral("after"), error);
    if (!error->isEmpty())
        return std::nullopt;
    return entry;
}

Journal::Journal(const QString& directory) : m_directory(directory) {}

bool Journal::place(Entry& entry, QString* error)
{
    if (!QDir().mkpath(m_directory)) {
        *error = QStringLiteral("cannot make the journal directory %1").arg(m_directory);
        return false;
    }
    if (entry.number != 0)
        return true;
    if (m_next == 0) {
        const QStringList names = QDir(m_directory).entryList(QDir::Files);
        for (const QString& name : names) {
            const QRegularExpressionMatch match = entryName().match(name);
            if (match.hasMatch())
                m_next = std::max(m_next, match.captured(1).toInt());
        }
        ++m_next;
    }
    entry.number = m_next++;
    entry.path = QDir(m_directory)
                     .filePath(QStringLiteral("%1-%2-%3.json")
                                   .arg(entry.number, 6, 10, QLatin1Char('0'))
                                   .arg(paramfile::identityText(entry.identity), entry.command));
    return true;
}

namespace {

// Writes an entry's file whole; touches nothing but the entry and its file, so that entries can be
// written from several threads.
bool writeEntry(Entry& entry, bool isNew, QString* error)
{
    QSaveFile file(entry.path);
    const QByteArray bytes = toJson(entry);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(entry.path, file.errorString());
        if (isNew)
            entry.number = 0; // not saved
        return false;
    }
    return true;
}

} // namespace

bool Journal::save(Entry& entry, QString* error)
{
    const bool isNew = entry.number == 0;
    return place(entry, error) && writeEntry(entry, isNew, error);
}

QStringList Journal::saveAll(const QList<Entry*>& entries)
{
    QStringList errors(entries.size());
    QList<bool> isNew;
    for (int i = 0; i < entries.size(); ++i) {
        isNew << (entries[i]->number == 0);
        if (!place(*entries[i], &errors[i]))
            isNew.last() = false; // not placed: not written either
    }
    constexpr int kWriters = 16;
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < entries.size(); i = next++) {
            if (errors[i].isEmpty())
                writeEntry(*entries[i], isNew[i], &errors[i]);
        }
    };
    std::vector<std::thread> writers;
    for (int w = 1; w < std::min<int>(kWriters, static_cast<int>(entries.size())); ++w)
        writers.emplace_back(work);
    work();
    for (std::thread& writer : writers)
        writer.join();
    return errors;
}

QList<Entry> Journal::entries(QStringList* problems) const
{
    QList<Entry> list;
    const QDir dir(m_directory);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (!entryName().match(name).hasMatch())
            continue;
        QFile file(dir.filePath(name));
        QString error;
        std::optional<Entry> entry;
        if (!file.open(QIODevice::ReadOnly))
            error = file.errorString();
        else if (file.size() > kMaxEntrySize)
            error = QStringLiteral("larger than %1 bytes: not a journal entry").arg(kMaxEntrySize);
        else
            entry = fromJson(file.readAll(), &error);
        if (!entry) {
            if (problems)
                *problems << QStringLiteral("%1: %2").arg(file.fileName(), error);
            continue;
        }
        entry->path = file.fileName();
        list << *entry;
    }
    std::sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    return list;
}

} // namespace tarvik::cli::journal
