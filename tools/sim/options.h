// Command line of tarvik-sim.
#pragma once

#include "faults.h"

#include "link/link.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik::sim {

using tarvik::kLocalPort;  // the configuration tool listens here
using tarvik::kModulePort; // the modules listen here

struct Options
{
    int count = 1;
    QList<QByteArray> identities; // given with --id, for the first modules
    QByteArray firstIdentity = QByteArray::fromHex("001A2B3C4D5E");
    quint16 port = kModulePort;
    QString replyHost = QStringLiteral("255.255.255.255");
    quint16 replyPort = kLocalPort;
    bool quiet = false;
    bool anyNetwork = false;
    bool noIdentity = false; // replies to commands carry zeros for the identity
    FaultPlan faults;

    // The identity of every module: the --id values first, then the first identity plus the
    // module's index, skipping any identity already taken.
    QList<QByteArray> moduleIdentities() const;
};

struct ParsedOptions
{
    enum Outcome
    {
        Run,
        Help,
        Version,
        Error
    };
    Outcome outcome = Run;
    Options options;
    QString error;
};

// `arguments` includes the program name first, as QCoreApplication::arguments() gives it.
ParsedOptions parseOptions(const QStringList& arguments);
QString helpText();
// The factory values as a table, one parameter a line.
QString factoryTable();

} // namespace tarvik::sim
