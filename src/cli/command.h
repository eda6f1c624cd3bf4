// tarvik-cli's subcommands: each a small class in a file of its own under commands/, which declares
// its options and arguments and runs, and registers itself with one line:
//   TARVIK_CLI_COMMAND(ProbeCommand, 60); // the number orders the list of --help
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

// Exit status: every addressed module succeeded; at least one failed or was not found; nothing was
// tried (bad arguments or file, an unusable card, the port in use, no broadcast could leave any
// card, --all and no module answered).
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

    // Parses `args` (the command's name first) and runs.
    int run(const QStringList& args);

    // Every subcommand, in the order of --help.
    static const std::vector<std::unique_ptr<Command>>& all();
    static Command* named(const QString& name);
    // The program's arguments with the shared options given before the subcommand's name
    // (--trace FILE, --verbose) moved behind it.
    static QStringList withOptionsInFront(const QStringList& arguments);

    using Factory = std::unique_ptr<Command> (*)();
    // Adds a subcommand; `place` orders the list of --help. Returns `place`, for a static initializer.
    static int add(int place, Factory make);

protected:
    virtual int execute(const QCommandLineParser& parser) = 0;
};

} // namespace tarvik::cli

#define TARVIK_CLI_COMMAND(Class, place)                                                                               \
    [[maybe_unused]] static const int registered##Class = ::tarvik::cli::Command::add(                                 \
        place, []() -> std::unique_ptr<::tarvik::cli::Command> { return std::make_unique<Class>(); })
