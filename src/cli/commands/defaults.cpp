// tarvik-cli defaults: each module restores its factory values, after what it held is saved in the
// journal.
#include "cli/changecommand.h"

namespace tarvik::cli {

class DefaultsCommand : public ChangeCommand
{
public:
    DefaultsCommand() : ChangeCommand(batch::Task::Defaults, QStringLiteral("defaults"), false)
    {
        name = QStringLiteral("defaults");
        description = QStringLiteral("Restore each module's factory values, then read and show what it holds; what "
                                     "it held before is kept in the journal.");
    }

protected:
    void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json) override
    {
        reportValues(job, outcome.values, module, json);
        reportEntry(job, module);
    }
};

TARVIK_CLI_COMMAND(DefaultsCommand, 40);

} // namespace tarvik::cli
