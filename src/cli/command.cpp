#include "command.h"

#include "cli/options.h"
#include "cli/output.h"
#include "link/tracing.h"
#include "tarvik_version.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <map>

namespace tarvik::cli {

namespace {

// Filled while the program starts, by the commands' own files.
std::multimap<int, Command::Factory>& factories()
{
    static std::multimap<int, Command::Factory> map;
    return map;
}

} // namespace

int Command::add(int place, Factory make)
{
    factories().emplace(place, make);
    return place;
}

int Command::run(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addOptions(options);
    parser.addOptions({option::kTrace, option::kVerbose});
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
    if (parser.isSet(option::kVerbose))
        QLoggingCategory::setFilterRules(QStringLiteral("tarvik.wire.debug=true"));
    // Made before anything is sent, so that a file that cannot be written sends nothing.
    std::unique_ptr<wire::Capture> capture;
    if (parser.isSet(option::kTrace)) {
        QString error;
        capture = wire::startCapture(parser.value(option::kTrace), QStringLiteral("tarvik-cli " TARVIK_VERSION),
                                     complain, &error);
        if (!capture) {
            complain(error);
            return kRefused;
        }
    }
    return execute(parser);
}

QStringList Command::withOptionsInFront(const QStringList& arguments)
{
    // tarvik-cli --trace FILE --verbose COMMAND ...: the options the subcommands share may come
    // before the subcommand's name; they are handed to it.
    QStringList front;
    qsizetype i = 1;
    while (i < arguments.size()) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--verbose") || argument.startsWith(QLatin1String("--trace="))) {
            front << argument;
            ++i;
        } else if (argument == QLatin1String("--trace") && i + 1 < arguments.size()) {
            front << argument << arguments[i + 1];
            i += 2;
        } else {
            break;
        }
    }
    if (front.isEmpty() || i >= arguments.size())
        return arguments;
    return QStringList{arguments.first(), arguments[i]} + front + arguments.mid(i + 1);
}

const std::vector<std::unique_ptr<Command>>& Command::all()
{
    static const std::vector<std::unique_ptr<Command>> commands = [] {
        std::vector<std::unique_ptr<Command>> list;
        for (const auto& [place, make] : factories())
            list.push_back(make());
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
