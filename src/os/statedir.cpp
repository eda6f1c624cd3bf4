#include "statedir.h"

#include <QDir>
#include <QStandardPaths>

namespace tarvik::os {

QString stateDirectory()
{
#ifdef Q_OS_WIN
    // Qt names the application data directory by the program; every Tarvik program shares this one.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Tarvik");
#else
    // Qt 6.4 has no StateLocation: the XDG base directory rules, as the specification gives them
    // (a relative path in the variable is ignored).
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.isEmpty() && QDir::isAbsolutePath(state))
        return state + QStringLiteral("/tarvik");
    return QDir::homePath() + QStringLiteral("/.local/state/tarvik");
#endif
}

} // namespace tarvik::os
