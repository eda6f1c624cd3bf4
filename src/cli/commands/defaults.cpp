// tarvik-cli defaults: each module restores its factory values.
#include "cli/modulecommand.h"

namespace tarvik::cli {

class DefaultsCommand : public ModuleCommand
{
public:
    DefaultsCommand() : ModuleCommand(batch::Task::Defaults)
    {
        name = QStringLiteral("defaults");
        description = QStringLiteral("Restore each module's factory values, then read and show what it holds.");
    }

protected:
    void reportSuccess(const batch::Job& job, const batch::Outcome& outcome, QJsonObject& module, bool json) override
    {
        reportValues(job, outcome.values, module, json);
    }
};

TARVIK_CLI_COMMAND(DefaultsCommand, 40);

} // namespace tarvik::cli
