// tarvik-cli read: the 28 parameters of each module, shown and optionally saved as parameter files.
#include "cli/modulecommand.h"
#include "cli/output.h"
#include "ops/csvfile.h"
#include "ops/paramfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace tarvik::cli {

namespace {

const QCommandLineOption kOut{QStringLiteral("out"),
                              QStringLiteral("Save the values: one file for all modules (CSV, one row each, for a "
                                             "name ending in .csv), or DIR/ID.json per module when the path is a "
                                             "directory or ends with /."),
                              QStringLiteral("path")};

bool save(const QString& path, const QList<paramfile::ModuleValues>& modules)
{
    const bool perModule = path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir();
    if (perModule && !QDir().mkpath(path)) {
        complain(QStringLiteral("%1: cannot make the directory").arg(path));
        return false;
    }
    bool ok = true;
    const auto saveOne = [&ok](const QString& file, const QList<paramfile::ModuleValues>& content) {
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(csvfile::isCsv(file) ? csvfile::write(content) : paramfile::write(content)) < 0 ||
            !out.commit()) {
            complain(QStringLiteral("%1: %2").arg(file, out.errorString()));
            ok = false;
        }
    };
    if (perModule) {
        for (const paramfile::ModuleValues& module : modules)
            saveOne(QDir(path).filePath(paramfile::identityText(module.identity) + QStringLiteral(".json")), {module});
    } else if (!modules.isEmpty()) {
        saveOne(path, modules);
    }
    return ok;
}

} // namespace

class ReadCommand : public ModuleCommand
{
public:
    ReadCommand() : ModuleCommand(batch::Task::Read)
    {
        name = QStringLiteral("read");
        description = QStringLiteral("Read the 28 parameters of each module.");
        options << kOut;
    }

protected:
    void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json) override
    {
        reportValues(job, outcome.values, module, json);
    }

    int afterReport(int status, const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes,
                    const QCommandLineParser& parser) override
    {
        if (!parser.isSet(kOut))
            return status;
        QList<paramfile::ModuleValues> read;
        for (int i = 0; i < jobs.size(); ++i) {
            if (outcomes[i].ok)
                read.append({jobs[i].module.identity, outcomes[i].values});
        }
        return save(parser.value(kOut), read) ? status : kFailed;
    }
};

TARVIK_CLI_COMMAND(ReadCommand, 20);

} // namespace tarvik::cli
