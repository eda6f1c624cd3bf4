#include "application.h"

#include "tarvik_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <algorithm>

namespace tarvik {

namespace {

const QString kHowToRun = QStringLiteral(
    "run it in a desktop session or over `ssh -X`, or try it without a display with `scripts/run.sh --demo --check`");

// Qt platforms that draw through a display server (X11 or Wayland). "xcb:opt=value" names xcb.
bool drawsThroughDisplayServer(const QString& platform)
{
    const QString name = platform.section(QLatin1Char(':'), 0, 0).trimmed();
    return name == QLatin1String("xcb") || name.startsWith(QLatin1String("wayland"));
}

bool isLanguage(const QString& language)
{
    return language == QLatin1String("zh") || language == QLatin1String("en");
}

} // namespace

QString windowLanguage(const CommandLine& commandLine, QString* warning)
{
    if (!commandLine.language.isEmpty())
        return commandLine.language;
    const QString fromEnvironment = qEnvironmentVariable("TARVIK_LANG");
    if (fromEnvironment.isEmpty() || isLanguage(fromEnvironment))
        return fromEnvironment.isEmpty() ? QStringLiteral("zh") : fromEnvironment;
    if (warning)
        *warning = QStringLiteral("tarvik: unknown language '%1' in TARVIK_LANG (zh or en); the window is in Chinese")
                       .arg(fromEnvironment);
    return QStringLiteral("zh");
}

CommandLine parseCommandLine(const QStringList& arguments, ParseStage stage)
{
    QCommandLineParser parser;
    // Single-dash words are options, as for Qt's own (-platform, -reverse): "-reverse" is not -r -e -v ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Tarvik网络配置工具: finds Tarvik serial-to-Ethernet modules on the local network (UDP "
        "broadcast, port 65000 out, 65002 in) and reads, writes, restores and resets their parameters."));
    // Not addHelpOption(): its --help-all would list Qt's own options, which are not read here.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption lang(QStringLiteral("lang"),
                                  QStringLiteral("The window's language: zh (Chinese, the default) or en (English). "
                                                 "Without it, the TARVIK_LANG environment variable decides."),
                                  QStringLiteral("language"));
    parser.addOption(lang);
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Write every datagram sent and received, with what became of it, to "
                                                  "this file as it goes (pcapng, for Wireshark; at most 64 MiB)."),
                                   QStringLiteral("file"));
    parser.addOption(trace);

    CommandLine result;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        result.exit = true;
        // Without an application object Qt cannot name the program in the usage line.
        result.text = parser.helpText().replace(QLatin1String("<executable_name>"), arguments.value(0));
        return result;
    }
    if (parser.isSet(version)) {
        result.exit = true;
        result.text = QStringLiteral("tarvik %1\n").arg(QStringLiteral(TARVIK_VERSION));
        return result;
    }

    QString error;
    if (stage == ParseStage::WithApplication) {
        if (!parsed)
            error = parser.errorText();
        else if (!parser.positionalArguments().isEmpty())
            error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
    }
    if (error.isEmpty() && parser.isSet(trace))
        result.trace = parser.value(trace);
    if (error.isEmpty() && parser.isSet(lang)) {
        result.language = parser.value(lang);
        if (!isLanguage(result.language))
            error = QStringLiteral("unknown language '%1' for --lang (zh or en)").arg(result.language);
    }
    if (!error.isEmpty()) {
        result.exit = true;
        result.exitStatus = 1;
        result.text = QStringLiteral("tarvik: %1\nTry tarvik --help.\n").arg(error);
    }
    return result;
}

QString missingDisplayMessage(const QStringList& arguments)
{
#ifdef Q_OS_WIN
    // Windows draws every window itself: there is no display server to miss.
    Q_UNUSED(arguments)
    return {};
#endif
    // Qt's own options, which QApplication would take: -platform NAME, and xcb's -display NAME.
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    bool displayOption = false;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        QString option = arguments.at(i);
        if (option.startsWith(QLatin1String("--")))
            option.remove(0, 1);
        if (option == QLatin1String("-platform"))
            platform = arguments.at(++i);
        else if (option == QLatin1String("-display"))
            displayOption = !arguments.at(++i).isEmpty();
    }

    // No platform named means X11 or Wayland. A list ("wayland;xcb") is tried in turn.
    const QStringList platforms = platform.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const bool needsDisplay =
        platforms.isEmpty() || std::all_of(platforms.cbegin(), platforms.cend(), drawsThroughDisplayServer);
    if (!needsDisplay || displayOption || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    return QStringLiteral("tarvik: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); ") +
           kHowToRun;
}

QString unreachableDisplayMessage()
{
#ifdef Q_OS_WIN
    // No display server on Windows: what fails there is Qt's Windows plugin, shipped with the tool.
    return QStringLiteral("tarvik: the window cannot open: Qt's platform plugin platforms\\qwindows.dll, beside "
                          "tarvik.exe, is missing or cannot be loaded; reinstall Tarvik");
#endif
    const char* const variable = qEnvironmentVariableIsEmpty("DISPLAY") ? "WAYLAND_DISPLAY" : "DISPLAY";
    return QStringLiteral("tarvik: the display %1=%2 cannot be reached; ")
               .arg(QLatin1String(variable), qEnvironmentVariable(variable)) +
           kHowToRun;
}

QList<QTranslator*> setUpApplication(QApplication& app, const QString& language)
{
    QApplication::setApplicationName(QStringLiteral("tarvik"));
    QApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
    // The installed .desktop file: Wayland compositors find the menu entry and icon through it.
    QApplication::setDesktopFileName(QStringLiteral("io.github.tarvik.Tarvik"));

    QFont font = QApplication::font();
#ifdef Q_OS_WIN
    // Windows' UI font has no Chinese, and the face its fallback takes for Chinese depends on the
    // system's language (a Japanese one on some): the window names a Chinese face.
    if (const QString family = chineseFontFamily(); !family.isEmpty())
        font.setFamilies({family});
#endif
    font.setPointSize(9);
    QApplication::setFont(font);

    return installTranslations(app, language);
}

QString chineseFontFamily()
{
    const QStringList families = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const char* preferred : {"Microsoft YaHei", "SimSun"}) {
        if (families.contains(QLatin1String(preferred)))
            return QLatin1String(preferred);
    }
    return families.value(0);
}

QList<QTranslator*> installTranslations(QCoreApplication& app, const QString& language)
{
    // The texts in the source are Chinese; English comes from the translation built into the program.
    // Qt's own texts (dialog buttons, context menus) follow the window's language.
    QList<QTranslator*> installed;
    auto install = [&](QTranslator* translator, bool loaded) {
        if (loaded && QCoreApplication::installTranslator(translator))
            installed << translator;
        else
            delete translator;
        return loaded;
    };
    if (language == QLatin1String("en")) {
        auto* translator = new QTranslator(&app);
        if (!install(translator, translator->load(QStringLiteral(":/i18n/tarvik_en.qm"))))
            qWarning("tarvik: the English translation is missing from this build; the window is in Chinese");
    } else {
        auto* qtTranslator = new QTranslator(&app);
        install(qtTranslator,
                qtTranslator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    }
    return installed;
}

} // namespace tarvik
