// The options that several subcommands share, each described once.
#pragma once

#include <QCommandLineOption>

namespace tarvik::cli::option {

inline const QCommandLineOption kJson{QStringLiteral("json"),
                                      QStringLiteral("Machine-readable output (JSON) on stdout.")};
inline const QCommandLineOption kAll{QStringLiteral("all"), QStringLiteral("Every module a scan finds.")};
inline const QCommandLineOption kJobs{QStringLiteral("jobs"),
                                      QStringLiteral("Modules in conversation at once (default: all)."),
                                      QStringLiteral("n"), QStringLiteral("0")};
inline const QCommandLineOption kInterface{QStringLiteral("interface"),
                                           QStringLiteral("Use only this network card (default: every card)."),
                                           QStringLiteral("name")};
// Taken by every subcommand, and before the subcommand's name too.
inline const QCommandLineOption kTrace{
    QStringLiteral("trace"),
    QStringLiteral("Write every datagram sent and received, with what became of it, to this file as it goes "
                   "(pcapng, for Wireshark; at most 64 MiB)."),
    QStringLiteral("file")};
inline const QCommandLineOption kVerbose{
    QStringLiteral("verbose"),
    QStringLiteral("Log every datagram that was not taken, and why, and every send that failed, on stderr.")};

} // namespace tarvik::cli::option
