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

} // namespace tarvik::cli::option
