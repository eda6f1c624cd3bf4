// tarvik-cli write: the parameters of a file, all of them or those it names, to each module.
#include "cli/modulecommand.h"
#include "cli/options.h"
#include "cli/output.h"
#include "link/frames.h"
#include "ops/paramfile.h"

#include <QJsonArray>

namespace tarvik::cli {

namespace {

const QCommandLineOption kFrom{QStringLiteral("from"), QStringLiteral("Parameter file to write (required)."),
                               QStringLiteral("file")};
const QCommandLineOption kDryRun{QStringLiteral("dry-run"),
                                 QStringLiteral("Print the frames instead of sending them (with --all, the scan "
                                                "still runs).")};

} // namespace

class WriteCommand : public ModuleCommand
{
public:
    WriteCommand() : ModuleCommand(batch::Task::Write)
    {
        name = QStringLiteral("write");
        description = QStringLiteral("Write the parameters of a file (all of them, or those it names) to each module.");
        options << kFrom << kDryRun;
    }

protected:
    // The file is read and checked whole before anything goes out.
    int prepare(const QCommandLineParser& parser, const QList<QByteArray>& ids) override
    {
        if (!parser.isSet(kFrom)) {
            complain(QStringLiteral("write needs --from FILE"));
            return kRefused;
        }
        m_file = paramfile::load(parser.value(kFrom));
        if (!m_file.ok()) {
            complain(m_file.error);
            return kRefused;
        }
        for (const QByteArray& id : ids) {
            if (!valuesFor(id, parser))
                return kRefused;
        }
        return kOk;
    }

    bool usesNetwork(const QCommandLineParser& parser) const override { return !parser.isSet(kDryRun); }

    bool complete(batch::Job& job, int, const QCommandLineParser& parser) override
    {
        const paramfile::Values* values = valuesFor(job.module.identity, parser);
        if (!values)
            return false;
        job.values = *values;
        return true;
    }

    std::optional<int> instead(const QList<batch::Job>& jobs, const QCommandLineParser& parser) override
    {
        if (!parser.isSet(kDryRun))
            return std::nullopt;
        const bool json = parser.isSet(option::kJson);
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

private:
    // The values of the file for a module; nullptr, with a complaint, when it holds none.
    const paramfile::Values* valuesFor(const QByteArray& id, const QCommandLineParser& parser)
    {
        const paramfile::Values* values = paramfile::valuesFor(m_file, id);
        if (!values)
            complain(QStringLiteral("%1: no parameters for %2").arg(parser.value(kFrom), paramfile::identityText(id)));
        return values;
    }

    paramfile::Result m_file;
};

TARVIK_CLI_COMMAND(WriteCommand, 30);

} // namespace tarvik::cli
