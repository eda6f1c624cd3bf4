#include "cli/command.h"
#include "cli/session.h"
#include "link/cards.h"
#include "link/frames.h"
#include "ops/batch.h"
#include "ops/paramfile.h"
#include "os/console.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace tarvik::cli {

namespace {

QTextStream& out()
{
    static QTextStream stream(console::device(stdout));
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(console::device(stderr));
    return stream;
}

void complain(const QString& text)
{
    err() << "tarvik-cli: " << text << Qt::endl;
}

void printJson(const QJsonObject& object)
{
    out() << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)) << Qt::flush;
}

// Bytes as text when every one is printable ASCII; nothing otherwise.
std::optional<QString> printable(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c < 0x20 || c > 0x7E)
            return std::nullopt;
    }
    return QString::fromLatin1(bytes);
}

// Frame bytes for people: printable ASCII as it is, the rest as \xHH (CR as \r).
QString frameText(const QByteArray& frame)
{
    QString text;
    for (const char c : frame) {
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c >= 0x20 && c < 0x7F && c != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

// Progress on standard error, only while it is a terminal, at most ten times a second.
class Progress
{
public:
    Progress() : m_on(console::isTerminal(stderr)) { m_clock.start(); }
    ~Progress() { clear(); }

    void show(int done, int total, const std::function<QString()>& stage)
    {
        if (!m_on || (m_shown && m_clock.elapsed() < 100 && done < total))
            return;
        m_clock.restart();
        m_shown = true;
        err() << "\r\x1b[K" << done << '/' << total << " modules  " << stage() << Qt::flush;
    }
    void clear()
    {
        if (m_on && m_shown)
            err() << "\r\x1b[K" << Qt::flush;
        m_shown = false;
    }

private:
    bool m_on;
    bool m_shown = false;
    QElapsedTimer m_clock;
};

const QCommandLineOption kJson{QStringLiteral("json"), QStringLiteral("Machine-readable output (JSON) on stdout.")};
const QCommandLineOption kAll{QStringLiteral("all"), QStringLiteral("Every module a scan finds.")};
const QCommandLineOption kJobs{QStringLiteral("jobs"),
                               QStringLiteral("Modules in conversation at once (default: all)."), QStringLiteral("n"),
                               QStringLiteral("0")};
const QCommandLineOption kInterface{QStringLiteral("interface"),
                                    QStringLiteral("Use only this network card (default: every card)."),
                                    QStringLiteral("name")};
const QCommandLineOption kOut{QStringLiteral("out"),
                              QStringLiteral("Save the values: one file for all modules, or DIR/ID.json per module "
                                             "when the path is a directory or ends with /."),
                              QStringLiteral("path")};
const QCommandLineOption kFrom{QStringLiteral("from"), QStringLiteral("Parameter file to write (required)."),
                               QStringLiteral("file")};
const QCommandLineOption kDryRun{QStringLiteral("dry-run"),
                                 QStringLiteral("Print the frames instead of sending them (with --all, the scan "
                                                "still runs).")};

// Opens the port on the chosen cards; nullptr with a complaint when that fails.
std::unique_ptr<Session> openSession(const QCommandLineParser& parser)
{
    QString error;
    auto session = std::make_unique<Session>();
    if (!session->useCard(parser.value(kInterface), &error) || !session->open(&error)) {
        complain(error);
        return nullptr;
    }
    session->onNotice = [](const QString& text) { complain(text); };
    return session;
}

class ScanCommand : public Command
{
public:
    ScanCommand()
    {
        name = QStringLiteral("scan");
        description = QStringLiteral("Find the modules: four SETUP broadcasts, then one line per module: identity, "
                                     "the card it answered on, the rest of its reply.");
        options = {kJson, kInterface};
    }

protected:
    int execute(const QCommandLineParser& parser) override
    {
        if (!parser.positionalArguments().isEmpty()) {
            complain(QStringLiteral("scan takes no arguments"));
            return kRefused;
        }
        const std::unique_ptr<Session> session = openSession(parser);
        if (!session)
            return kRefused;
        const QList<Found> found = session->scan();
        QJsonArray modules;
        for (const Found& f : found) {
            const QString id = paramfile::identityText(frames::identityOf(f.reply));
            const QString card = cards::nameOf(f.interfaceIndex);
            const QByteArray rest = f.reply.mid(frames::kIdentitySize);
            const std::optional<QString> text = printable(rest);
            QJsonObject module{{QStringLiteral("id"), id}, {QStringLiteral("interface"), card}};
            if (text)
                module.insert(QStringLiteral("reply"), *text);
            else
                module.insert(QStringLiteral("replyHex"), QString::fromLatin1(rest.toHex()));
            modules.append(module);
            if (!parser.isSet(kJson))
                out() << id << "  " << (card.isEmpty() ? QStringLiteral("-") : card) << "  "
                      << (text ? *text : QStringLiteral("hex:") + QString::fromLatin1(rest.toHex())) << Qt::endl;
        }
        if (parser.isSet(kJson))
            printJson({{QStringLiteral("modules"), modules}});
        return kOk;
    }
};

// read, write, defaults and reset: the modules named (or --all), each a job for the engine.
class ModuleCommand : public Command
{
public:
    explicit ModuleCommand(batch::Task task) : m_task(task)
    {
        arguments = QStringLiteral("ID...");
        options = {kAll, kJson, kJobs, kInterface};
        switch (task) {
        case batch::Task::Read:
            name = QStringLiteral("read");
            description = QStringLiteral("Read the 28 parameters of each module.");
            options << kOut;
            break;
        case batch::Task::Write:
            name = QStringLiteral("write");
            description =
                QStringLiteral("Write the parameters of a file (all of them, or those it names) to each module.");
            options << kFrom << kDryRun;
            break;
        case batch::Task::Defaults:
            name = QStringLiteral("defaults");
            description = QStringLiteral("Restore each module's factory values.");
            break;
        case batch::Task::Reset:
            name = QStringLiteral("reset");
            description = QStringLiteral("Reset each module so that it runs (it leaves configuration).");
            break;
        }
    }

protected:
    int execute(const QCommandLineParser& parser) override
    {
        const bool all = parser.isSet(kAll);
        QList<QByteArray> ids;
        for (const QString& text : parser.positionalArguments()) {
            const QByteArray id = paramfile::identityFromText(text);
            if (id.isEmpty()) {
                complain(QStringLiteral("%1 is not an identity (12 hexadecimal digits)").arg(text));
                return kRefused;
            }
            if (!ids.contains(id))
                ids << id;
        }
        if (ids.isEmpty() && !all) {
            complain(QStringLiteral("name the modules (ID...) or give --all"));
            return kRefused;
        }
        bool jobsOk = false;
        const int jobs = parser.value(kJobs).toInt(&jobsOk);
        if (!jobsOk || jobs < 0) {
            complain(QStringLiteral("--jobs takes a number"));
            return kRefused;
        }
        // A write's file is read and checked whole before anything goes out.
        if (m_task == batch::Task::Write) {
            if (!parser.isSet(kFrom)) {
                complain(QStringLiteral("write needs --from FILE"));
                return kRefused;
            }
            m_file = paramfile::load(parser.value(kFrom));
            if (!m_file.ok()) {
                complain(m_file.error);
                return kRefused;
            }
            for (const QByteArray& id : std::as_const(ids)) {
                if (!missingValues(id, parser).isEmpty())
                    return kRefused;
            }
        }

        std::unique_ptr<Session> session;
        QList<batch::Module> modules;
        QStringList notFound;
        if (m_task == batch::Task::Write && parser.isSet(kDryRun) && !all) {
            for (const QByteArray& id : std::as_const(ids))
                modules << batch::Module{id, 0, 0, {}};
        } else {
            session = openSession(parser);
            if (!session)
                return kRefused;
            const QList<Found> found =
                session->scan(all ? QSet<QByteArray>() : QSet<QByteArray>(ids.begin(), ids.end()));
            for (const Found& f : found) {
                if (all || ids.contains(frames::identityOf(f.reply)))
                    modules << session->moduleOf(f);
            }
            // Named modules in the order given.
            if (!all) {
                QList<batch::Module> ordered;
                for (const QByteArray& id : std::as_const(ids)) {
                    auto it = std::find_if(modules.begin(), modules.end(),
                                           [&](const batch::Module& m) { return m.identity == id; });
                    if (it != modules.end())
                        ordered << *it;
                    else
                        notFound << paramfile::identityText(id);
                }
                modules = ordered;
            }
        }

        QList<batch::Job> jobList;
        for (const batch::Module& module : std::as_const(modules)) {
            batch::Job job;
            job.module = module;
            job.task = m_task;
            if (m_task == batch::Task::Write) {
                if (!missingValues(module.identity, parser).isEmpty())
                    return kRefused;
                job.values = *paramfile::valuesFor(m_file, module.identity);
            }
            jobList << job;
        }

        if (m_task == batch::Task::Write && parser.isSet(kDryRun))
            return dryRun(jobList, parser.isSet(kJson));

        QList<batch::Outcome> outcomes;
        {
            Progress progress;
            session->onProgress = [&progress](int done, int total, const std::function<QString()>& stage) {
                progress.show(done, total, stage);
            };
            outcomes = session->run(jobList, jobs);
        }
        return report(jobList, outcomes, notFound, parser);
    }

private:
    // Complains and returns the message when the file holds no values for this module.
    QString missingValues(const QByteArray& id, const QCommandLineParser& parser)
    {
        if (paramfile::valuesFor(m_file, id))
            return {};
        const QString message =
            QStringLiteral("%1: no parameters for %2").arg(parser.value(kFrom), paramfile::identityText(id));
        complain(message);
        return message;
    }

    int dryRun(const QList<batch::Job>& jobs, bool json)
    {
        QJsonArray list;
        for (const batch::Job& job : jobs) {
            const QString id = paramfile::identityText(job.module.identity);
            for (const batch::Exchange& exchange : batch::chainOf(job)) {
                const QString field = QString::fromLatin1(exchange.parameter->name);
                list.append(QJsonObject{{QStringLiteral("id"), id},
                                        {QStringLiteral("parameter"), field},
                                        {QStringLiteral("hex"), QString::fromLatin1(exchange.frame.toHex())}});
                if (!json)
                    out() << id << "  " << field.leftJustified(16) << QString::fromLatin1(exchange.frame.toHex())
                          << "  " << frameText(exchange.frame.mid(frames::kIdentitySize)) << Qt::endl;
            }
        }
        if (json)
            printJson({{QStringLiteral("frames"), list}});
        return kOk;
    }

    int report(const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes, const QStringList& notFound,
               const QCommandLineParser& parser)
    {
        const bool json = parser.isSet(kJson);
        int status = notFound.isEmpty() ? kOk : kFailed;
        QJsonArray list;
        QList<paramfile::ModuleValues> read;
        for (int i = 0; i < jobs.size(); ++i) {
            const batch::Outcome& outcome = outcomes[i];
            const QString id = paramfile::identityText(jobs[i].module.identity);
            QJsonObject module{{QStringLiteral("id"), id},
                               {QStringLiteral("ok"), outcome.ok},
                               {QStringLiteral("retries"), outcome.retries}};
            if (!outcome.ok) {
                status = kFailed;
                complain(QStringLiteral("%1: %2").arg(id, outcome.error));
                module.insert(QStringLiteral("error"), outcome.error);
            }
            if (m_task == batch::Task::Read && outcome.ok) {
                read.append({jobs[i].module.identity, outcome.values});
                QJsonObject values;
                if (!json)
                    out() << id << Qt::endl;
                for (const Parameter& p : kParameters) {
                    const auto& value = outcome.values[static_cast<size_t>(indexOf(p))];
                    const QString text = value ? paramfile::valueText(p, *value) : QString();
                    values.insert(QString::fromLatin1(p.name), text);
                    if (!json)
                        out() << "  " << QString::fromLatin1(p.name).leftJustified(16) << text << Qt::endl;
                }
                module.insert(QStringLiteral("parameters"), values);
            } else if (outcome.ok && !json) {
                out() << id << "  ok" << Qt::endl;
            }
            list.append(module);
        }
        for (const QString& id : notFound) {
            complain(QStringLiteral("%1: not found (no answer to SETUP)").arg(id));
            list.append(QJsonObject{{QStringLiteral("id"), id},
                                    {QStringLiteral("ok"), false},
                                    {QStringLiteral("error"), QStringLiteral("not found")}});
        }
        if (json)
            printJson({{QStringLiteral("modules"), list}});
        if (m_task == batch::Task::Read && parser.isSet(kOut) && !save(parser.value(kOut), read))
            status = kFailed;
        return status;
    }

    static bool save(const QString& path, const QList<paramfile::ModuleValues>& modules)
    {
        const bool perModule = path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir();
        if (perModule && !QDir().mkpath(path)) {
            complain(QStringLiteral("%1: cannot make the directory").arg(path));
            return false;
        }
        bool ok = true;
        const auto saveOne = [&ok](const QString& file, const QList<paramfile::ModuleValues>& content) {
            QSaveFile out(file);
            if (!out.open(QIODevice::WriteOnly) || out.write(paramfile::write(content)) < 0 || !out.commit()) {
                complain(QStringLiteral("%1: %2").arg(file, out.errorString()));
                ok = false;
            }
        };
        if (perModule) {
            for (const paramfile::ModuleValues& module : modules)
                saveOne(QDir(path).filePath(paramfile::identityText(module.identity) + QStringLiteral(".json")),
                        {module});
        } else if (!modules.isEmpty()) {
            saveOne(path, modules);
        }
        return ok;
    }

    batch::Task m_task;
    paramfile::Result m_file;
};

} // namespace

int Command::run(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addOptions(options);
    if (!arguments.isEmpty())
        parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("12 hexadecimal digits, as scan shows them."),
                                     arguments);
    if (!parser.parse(args)) {
        complain(parser.errorText());
        return kRefused;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(QCoreApplication::arguments().constFirst(), QStringLiteral("tarvik-cli ") + name);
        out() << help << Qt::flush;
        return kOk;
    }
    return execute(parser);
}

const std::vector<std::unique_ptr<Command>>& Command::all()
{
    static const std::vector<std::unique_ptr<Command>> commands = [] {
        std::vector<std::unique_ptr<Command>> list;
        list.push_back(std::make_unique<ScanCommand>());
        list.push_back(std::make_unique<ModuleCommand>(batch::Task::Read));
        list.push_back(std::make_unique<ModuleCommand>(batch::Task::Write));
        list.push_back(std::make_unique<ModuleCommand>(batch::Task::Defaults));
        list.push_back(std::make_unique<ModuleCommand>(batch::Task::Reset));
        return list;
    }();
    return commands;
}

Command* Command::named(const QString& commandName)
{
    for (const auto& command : all()) {
        if (command->name == commandName)
            return command.get();
    }
    return nullptr;
}

} // namespace tarvik::cli
