// The subcommands that address modules (read, write, defaults, reset): one template for all of
// them. execute() takes the modules named (or --all), finds them with a scan, makes each a job for
// the many-module engine, runs the engine and reports; a subcommand fills in its own steps.
#pragma once

#include "cli/command.h"
#include "cli/session.h"
#include "ops/batch.h"
#include "ops/paramfile.h"

#include <QJsonObject>

#include <memory>
#include <optional>

namespace tarvik::cli {

// Opens the port on the chosen cards; nullptr with a complaint when that fails.
std::unique_ptr<Session> openSession(const QCommandLineParser& parser);
// After a scan: the status when nothing can be tried (no broadcast left any card; with --all, no
// module answered), with a complaint.
std::optional<int> scanRefused(const Session& session, const QList<Found>& found, bool all);

class ModuleCommand : public Command
{
protected:
    explicit ModuleCommand(batch::Task task);

    int execute(const QCommandLineParser& parser) final;

    // Checks made before anything goes out (a write's file); a status other than kOk ends the run.
    virtual int prepare(const QCommandLineParser& parser, const QList<QByteArray>& ids);
    // Whether the modules named are looked for on the network at all (a dry run of a write is not).
    virtual bool usesNetwork(const QCommandLineParser& parser) const;
    // Completes a module's job; false, with a complaint, ends the run with nothing sent.
    virtual bool complete(batch::Job& job, int place, const QCommandLineParser& parser);
    // Runs in place of the engine when it returns a status (a dry run).
    virtual std::optional<int> instead(const QList<batch::Job>& jobs, const QCommandLineParser& parser);
    // Whether named modules are looked for with the full scan, so that every other module on the LAN
    // is heard as well (not only until the named ones have answered).
    virtual bool hearsEveryModule(const QCommandLineParser& parser) const;
    // Runs the jobs; a status ends the run there, with nothing reported (a write refused by its
    // checks). By default the engine runs them, with progress on a terminal.
    virtual std::optional<int> runJobs(Session& session, const QList<batch::Job>& jobs, QList<batch::Outcome>& outcomes,
                                       const QCommandLineParser& parser);
    // What a module that succeeded adds to the report (text and JSON).
    virtual void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json);
    // Before the JSON is printed: what the run adds to it as a whole (an audit's findings); returns the
    // status, possibly made worse.
    virtual int extendReport(int status, QJsonObject& report, const QList<batch::Job>& jobs,
                             const QList<batch::Outcome>& outcomes, const QCommandLineParser& parser);
    // After the report: the status, possibly made worse (a file that could not be saved).
    virtual int afterReport(int status, const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes,
                            const QCommandLineParser& parser);

    // The values a module holds, in text (one line each) and in JSON ("parameters").
    static void reportValues(const batch::Job& job, const paramfile::Values& values, QJsonObject& module, bool json);
    // The engine's run of `jobs`, with progress on a terminal.
    static QList<batch::Outcome> runShowingProgress(Session& session, const QList<batch::Job>& jobs, int limit);

    batch::Task m_task;
    int m_limit = 0;           // --jobs
    QList<Found> m_heard;      // every module the scan heard, in the order they answered
    QList<QByteArray> m_named; // the modules named, in the order given (none with --all)

private:
    int report(const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes, const QStringList& notFound,
               const QCommandLineParser& parser);
};

} // namespace tarvik::cli
