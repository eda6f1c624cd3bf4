// The subcommands that change modules (write, defaults, undo): each module's backup and journal
// entry before the first setting, the address check of a write, and the entry in the report.
#pragma once

#include "cli/change.h"
#include "cli/modulecommand.h"

namespace tarvik::cli {

inline const QCommandLineOption kForce{QStringLiteral("force"),
                                       QStringLiteral("Write even when an address set would clash with another "
                                                      "one set, this PC's or another module's.")};

class ChangeCommand : public ModuleCommand
{
protected:
    // `command` names the change in the journal; `addresses`: it may set S_IP (then --force is an option).
    ChangeCommand(batch::Task task, const QString& command, bool addresses);

    // Whether each module is read before it is changed (write --no-backup: not).
    virtual bool backsUp(const QCommandLineParser& parser) const;
    // Whether the change gives any module an address (known after prepare()).
    virtual bool setsAddresses() const;
    // Undo: the entry it puts back.
    virtual int undoes() const;

    bool hearsEveryModule(const QCommandLineParser& parser) const override;
    std::optional<int> runJobs(Session& session, const QList<batch::Job>& jobs, QList<batch::Outcome>& outcomes,
                               const QCommandLineParser& parser) override;
    int afterReport(int status, const QList<batch::Job>& jobs, const QList<batch::Outcome>& outcomes,
                    const QCommandLineParser& parser) override;

    // The module's journal entry and backup in its JSON ("entry", "backup"; null without).
    void reportEntry(const batch::Job& job, QJsonObject& module) const;
    // Whether the addresses are checked in this run.
    bool checksAddresses(const QCommandLineParser& parser) const;

private:
    const journal::Entry* entryOf(const QByteArray& identity) const;

    QString m_command;
    bool m_addresses;
    ChangeResult m_result;
};

} // namespace tarvik::cli
