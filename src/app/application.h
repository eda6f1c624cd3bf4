// What the tool sets up before the window opens: the command line, the display, the application object.
#pragma once

#include <QString>
#include <QStringList>

class QApplication;
class QCoreApplication;
class QTranslator;

namespace tarvik {

// What the command line asks for.
struct CommandLine
{
    bool exit = false; // answered (--help, --version) or wrong: print `text` and end with `exitStatus`
    int exitStatus = 0;
    QString text;     // standard output when exitStatus is 0, standard error otherwise
    QString language; // --lang: "zh" or "en"; empty when not given
    QString trace;    // --trace: the capture file; empty when not given
};

// Reads the command line (arguments[0] is the program). Before the application object exists,
// Qt's own options (-platform NAME, -style NAME, ...) are still among the arguments, so unknown
// options and arguments are let through; once it exists they are gone and are errors.
enum class ParseStage
{
    BeforeApplication,
    WithApplication
};
CommandLine parseCommandLine(const QStringList& arguments, ParseStage stage);

// Empty when the window has a display to go to (DISPLAY or WAYLAND_DISPLAY, xcb's -display, or a
// Qt platform that needs no display server, such as offscreen); otherwise the one line that says
// there is none and how to run the tool instead. Reads the environment and `arguments`.
QString missingDisplayMessage(const QStringList& arguments);

// The one line printed when a display is named (DISPLAY, WAYLAND_DISPLAY) but Qt cannot reach it;
// on Windows, when Qt's platform plugin cannot be loaded.
QString unreachableDisplayMessage();

// The window's language: --lang, else the TARVIK_LANG environment variable, else Chinese. An
// unknown TARVIK_LANG gives Chinese and a `warning` line.
QString windowLanguage(const CommandLine& commandLine, QString* warning = nullptr);

// Name, version and desktop entry, the window's 9-point font (on Windows in chineseFontFamily()), and
// the translations for `language` ("zh": Qt's own texts in Chinese where installed; "en": the window,
// the log and Qt's texts in English). Returns the translations installed (owned by `app`).
QList<QTranslator*> setUpApplication(QApplication& app, const QString& language);
// The face the window's Chinese is drawn in on Windows: Microsoft YaHei, else SimSun, else the first
// installed face with Simplified Chinese; empty when there is none.
QString chineseFontFamily();
// The translations alone; what was installed (owned by `app`).
QList<QTranslator*> installTranslations(QCoreApplication& app, const QString& language);

} // namespace tarvik
