// tarvik-cli write: the parameters of a file, all of them or those it names, to each module, then
// read back and compared. A file of one module's parameters is cloned to every module named; --set
// overrides a field for all of them, and counts it up from one module to the next.
#include "cli/changecommand.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/cards.h"
#include "link/frames.h"
#include "ops/csvfile.h"
#include "ops/paramfile.h"

#include <QJsonArray>

namespace tarvik::cli {

namespace {

const QCommandLineOption kFrom{QStringLiteral("from"),
                               QStringLiteral("Parameter file to write (JSON, or CSV for a name ending in .csv): its "
                                              "own parameters to each module it names, or the one set it holds to "
                                              "every module (required)."),
                               QStringLiteral("file")};
const QCommandLineOption kDryRun{QStringLiteral("dry-run"),
                                 QStringLiteral("Print the frames instead of sending them (with --all, the scan "
                                                "still runs).")};
const QCommandLineOption kNoVerify{
    QStringLiteral("no-verify"),
    QStringLiteral(
        "Do not read the values back after writing them, unless something on the way made the write doubtful.")};
const QCommandLineOption kNoBackup{QStringLiteral("no-backup"),
                                   QStringLiteral("Do not read what each module holds before writing (its journal "
                                                  "entry then has \"backup\": null, and cannot be undone).")};
const QCommandLineOption kSet{QStringLiteral("set"),
                              QStringLiteral("Set FIELD to VALUE for every module (repeatable); a trailing + counts "
                                             "up from one module to the next, in the order they are named: "
                                             "S_IP=192.168.1.10+, Ch1_Port_Number=4001+."),
                              QStringLiteral("field=value")};

// One --set: a field, its value for the first module, and whether it counts up.
struct Override
{
    const Parameter* parameter = nullptr;
    frames::FieldValue first;
    bool countsUp = false;
};

// The value of an override for the module at `place`; nullopt, with the reason, past the range.
std::optional<frames::FieldValue> valueAt(const Override& o, int place, QString* error)
{
    if (!o.countsUp || place == 0)
        return o.first;
    frames::FieldValue value = o.first;
    if (o.parameter->layout == Layout::Address) {
        QStringList parts = value.text.split(QLatin1Char('.'));
        const int last = parts.last().toInt() + place;
        if (last > 254) {
            *error = QStringLiteral("%1 counted up for %2 modules passes .254").arg(o.first.text).arg(place + 1);
            return std::nullopt;
        }
        parts.last() = QString::number(last);
        value.text = parts.join(QLatin1Char('.'));
    } else {
        const int largest = paramfile::largestNumber(o.parameter->layout);
        const int number = value.text.toInt() + place;
        if (number > largest) {
            *error =
                QStringLiteral("%1 counted up for %2 modules passes %3").arg(o.first.text).arg(place + 1).arg(largest);
            return std::nullopt;
        }
        value.text = QString::number(number);
    }
    return value;
}

} // namespace

class WriteCommand : public ChangeCommand
{
public:
    WriteCommand() : ChangeCommand(batch::Task::Write, QStringLiteral("write"), true)
    {
        name = QStringLiteral("write");
        description = QStringLiteral("Write the parameters of a file (all of them, or those it names) to each module, "
                                     "then read them back and compare; each change is kept in the journal.");
        options << kFrom << kSet << kNoVerify << kNoBackup << kDryRun;
    }

protected:
    // The file and the overrides are read and checked whole before anything goes out.
    int prepare(const QCommandLineParser& parser, const QList<QByteArray>& ids) override
    {
        if (!parser.isSet(kFrom)) {
            complain(QStringLiteral("write needs --from FILE"));
            return kRefused;
        }
        m_file = csvfile::loadAny(parser.value(kFrom));
        if (!m_file.ok()) {
            complain(m_file.error);
            return kRefused;
        }
        m_overrides.clear();
        for (const QString& text : parser.values(kSet)) {
            const qsizetype equals = text.indexOf(QLatin1Char('='));
            Override o;
            o.parameter = equals > 0 ? paramfile::parameterNamed(text.left(equals)) : nullptr;
            if (!o.parameter) {
                complain(QStringLiteral("--set %1: not FIELD=VALUE with a field of the window").arg(text));
                return kRefused;
            }
            QString value = text.mid(equals + 1);
            o.countsUp = value.endsWith(QLatin1Char('+'));
            if (o.countsUp && o.parameter->isDropDown()) {
                complain(QStringLiteral("--set %1: a drop-down's entry does not count up").arg(text));
                return kRefused;
            }
            if (o.countsUp)
                value.chop(1);
            QString why;
            const std::optional<frames::FieldValue> first = paramfile::valueFromText(*o.parameter, value, &why);
            if (!first) {
                complain(QStringLiteral("--set %1: %2").arg(text, why));
                return kRefused;
            }
            o.first = *first;
            m_overrides << o;
        }
        for (int place = 0; place < ids.size(); ++place) {
            if (!valuesFor(ids[place], place, parser))
                return kRefused;
        }
        const int address = indexOf(parameterOf(fieldNamed("S_IP")));
        m_setsAddresses = false;
        for (const paramfile::ModuleValues& module : std::as_const(m_file.modules))
            m_setsAddresses = m_setsAddresses || module.values[static_cast<size_t>(address)].has_value();
        for (const Override& o : std::as_const(m_overrides))
            m_setsAddresses = m_setsAddresses || indexOf(*o.parameter) == address;
        return kOk;
    }

    bool backsUp(const QCommandLineParser& parser) const override { return !parser.isSet(kNoBackup); }
    bool setsAddresses() const override { return m_setsAddresses; }

    bool usesNetwork(const QCommandLineParser& parser) const override { return !parser.isSet(kDryRun); }

    bool complete(batch::Job& job, int place, const QCommandLineParser& parser) override
    {
        const std::optional<paramfile::Values> values = valuesFor(job.module.identity, place, parser);
        if (!values)
            return false;
        job.values = *values;
        job.verify = !parser.isSet(kNoVerify);
        return true;
    }

    std::optional<int> instead(const QList<batch::Job>& jobs, const QCommandLineParser& parser) override
    {
        if (!parser.isSet(kDryRun))
            return std::nullopt;
        // Without the network, the addresses set are checked against each other and this PC's.
        if (checksAddresses(parser)) {
            QList<audit::Address> addresses;
            for (const batch::Job& job : jobs) {
                if (setsAddress(job))
                    addresses << audit::Address{
                        job.module.identity,
                        job.values[static_cast<size_t>(indexOf(parameterOf(fieldNamed("S_IP"))))]->text, true};
            }
            const QList<audit::Finding> clashes = audit::clashes(addresses, cards::usable());
            for (const audit::Finding& clash : clashes)
                complain(clash.message);
            if (!clashes.isEmpty()) {
                complain(QStringLiteral("write refused: nothing was set (--force writes anyway)"));
                return kRefused;
            }
        }
        const bool json = parser.isSet(option::kJson);
        QJsonArray list;
        for (const batch::Job& job : jobs) {
            const QString id = paramfile::identityText(job.module.identity);
            for (const Parameter* p : batch::planOf(job).order) {
                const QByteArray frame =
                    frames::setting(job.module.identity, *p, *job.values[static_cast<size_t>(indexOf(*p))])
                        .value_or(QByteArray());
                const QString field = QString::fromLatin1(p->name);
                list.append(QJsonObject{{QStringLiteral("id"), id},
                                        {QStringLiteral("parameter"), field},
                                        {QStringLiteral("hex"), QString::fromLatin1(frame.toHex())}});
                if (!json)
                    out() << id << "  " << field.leftJustified(16) << QString::fromLatin1(frame.toHex()) << "  "
                          << frameText(frame.mid(frames::kIdentitySize)) << Qt::endl;
            }
        }
        if (json)
            printJson({{QStringLiteral("frames"), list}});
        return kOk;
    }

    void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json) override
    {
        module.insert(QStringLiteral("verified"), outcome.verified);
        reportEntry(job, module);
        if (!json)
            out() << paramfile::identityText(job.module.identity)
                  << (outcome.verified ? "  ok, read back" : "  ok (not read back)") << ", journal entry "
                  << module.value(QStringLiteral("entry")).toInt() << Qt::endl;
    }

private:
    // What a module gets: its own set in the file, or the file's one set (a clone), then the
    // overrides; nullopt, with a complaint, when the file holds none for it or a count runs over.
    std::optional<paramfile::Values> valuesFor(const QByteArray& id, int place, const QCommandLineParser& parser)
    {
        const paramfile::Values* own = paramfile::valuesFor(m_file, id);
        if (!own && m_file.modules.size() == 1)
            own = &m_file.modules.first().values;
        if (!own) {
            complain(QStringLiteral("%1: no parameters for %2").arg(parser.value(kFrom), paramfile::identityText(id)));
            return std::nullopt;
        }
        paramfile::Values values = *own;
        for (const Override& o : std::as_const(m_overrides)) {
            QString error;
            const std::optional<frames::FieldValue> value = valueAt(o, place, &error);
            if (!value) {
                complain(QStringLiteral("--set %1: %2").arg(QString::fromLatin1(o.parameter->name), error));
                return std::nullopt;
            }
            values[static_cast<size_t>(indexOf(*o.parameter))] = value;
        }
        return values;
    }

    paramfile::Result m_file;
    QList<Override> m_overrides;
    bool m_setsAddresses = false;
};

TARVIK_CLI_COMMAND(WriteCommand, 30);

} // namespace tarvik::cli
