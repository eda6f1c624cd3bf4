#include "command.h"

#include "cli/output.h"

#include <QCoreApplication>

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
