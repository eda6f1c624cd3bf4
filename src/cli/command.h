// tarvik-cli's subcommands: each a small class that declares its options and arguments and runs.
// Help and errors come from QCommandLineParser, so every subcommand behaves the same.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace tarvik::cli {

// Exit status: every addressed module succeeded; some failed; nothing was tried (bad arguments
// or file, the port in use).
enum Status
{
    kOk = 0,
    kFailed = 1,
    kRefused = 2
};

class Command
{
public:
    virtual ~Command() = default;

    QString name;
    QString description;
    QString arguments; // synopsis of the positional arguments ("ID...")
    QList<QCommandLineOption> options;

    // Parses `arguments` (the command's name first) and runs.
    int run(const QStringList& arguments);

    static const std::vector<std::unique_ptr<Command>>& all();
    static Command* named(const QString& name);

protected:
    virtual int execute(const QCommandLineParser& parser) = 0;
};

} // namespace tarvik::cli
