// Where a program keeps what it must still have at its next run (tarvik-cli's journal): the user's
// state directory, which differs between Linux and Windows.
#pragma once

#include <QString>

namespace tarvik::os {

// Linux: $XDG_STATE_HOME/tarvik, by default ~/.local/state/tarvik. Windows: %LOCALAPPDATA%\Tarvik
// (the application data location Qt gives a program named Tarvik). Not created here.
QString stateDirectory();

} // namespace tarvik::os
