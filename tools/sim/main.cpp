// tarvik-sim: simulated Tarvik modules for trying and testing the configuration tool without hardware.
#include "host.h"
#include "options.h"
#include "tarvik_version.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const tarvik::sim::ParsedOptions parsed = tarvik::sim::parseOptions(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case tarvik::sim::ParsedOptions::Help:
        out << tarvik::sim::helpText() << Qt::flush;
        return 0;
    case tarvik::sim::ParsedOptions::Version:
        out << "tarvik-sim " TARVIK_VERSION << Qt::endl;
        return 0;
    case tarvik::sim::ParsedOptions::Error:
        err << "tarvik-sim: " << parsed.error << "\nTry tarvik-sim --help." << Qt::endl;
        return 1;
    case tarvik::sim::ParsedOptions::Run:
        break;
    }

    // The modules answer by broadcast: on the machine's real network they would reach every host
    // of the LAN, so by default they live only in a network namespace of their own.
    QString why;
    if (!parsed.options.anyNetwork && !tarvik::sim::insidePrivateNetworkNamespace(&why)) {
        err << "tarvik-sim: refusing to run on this network (" << why
            << "); run it inside a private network namespace (see scripts/run.sh --demo) or give --any-network."
            << Qt::endl;
        return 2;
    }

    tarvik::sim::Host host(parsed.options, out);
    QString error;
    if (!host.start(&error)) {
        err << "tarvik-sim: " << error << Qt::endl;
        return 1;
    }
    return app.exec();
}
