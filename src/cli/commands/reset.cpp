// tarvik-cli reset: each module resets and runs (it leaves configuration).
#include "cli/modulecommand.h"

namespace tarvik::cli {

class ResetCommand : public ModuleCommand
{
public:
    ResetCommand() : ModuleCommand(batch::Task::Reset)
    {
        name = QStringLiteral("reset");
        description = QStringLiteral("Reset each module so that it runs (it leaves configuration).");
    }
};

TARVIK_CLI_COMMAND(ResetCommand, 50);

} // namespace tarvik::cli
