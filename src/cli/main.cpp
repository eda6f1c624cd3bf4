// tarvik-cli: scripted and batch configuration of Tarvik modules. See README.md.
#include "cli/command.h"
#include "cli/journal.h"
#include "cli/output.h"
#include "tarvik_version.h"

#include <QCoreApplication>

using namespace tarvik::cli;

namespace {

QString usage()
{
    QString text = QStringLiteral("Usage: tarvik-cli COMMAND [options] [ID...]\n\n"
                                  "Configures Tarvik serial-to-Ethernet modules on the local network, many at once.\n\n"
                                  "Commands:\n");
    for (const auto& command : Command::all())
        text += QStringLiteral("  %1%2\n").arg(command->name.leftJustified(10), command->description);
    text +=
        QStringLiteral("\nEvery command takes --trace FILE (a capture for Wireshark) and --verbose (the datagrams not "
                       "taken, on stderr).\n'tarvik-cli COMMAND --help' describes a command's options. Exit status: 0 "
                       "when every module succeeded,\n1 when one failed (one line each on stderr), 2 when nothing was "
                       "tried.\n");
    text += QStringLiteral("Every change is kept in the journal, %1 (TARVIK_JOURNAL sets another).\n")
                .arg(journal::directory());
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
    const QStringList arguments = Command::withOptionsInFront(QCoreApplication::arguments());
    const QString first = arguments.value(1);
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        out() << "tarvik-cli " << TARVIK_VERSION << Qt::endl;
        return kOk;
    }
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        (first.isEmpty() ? err() : out()) << usage() << Qt::flush;
        return first.isEmpty() ? kRefused : kOk;
    }
    Command* command = Command::named(first);
    if (!command) {
        err() << "tarvik-cli: unknown command " << first << "\n\n" << usage() << Qt::flush;
        return kRefused;
    }
    return command->run(arguments.mid(1));
}
