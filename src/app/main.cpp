#include "app/application.h"
#include "app/mainform.h"
#include "link/tracing.h"
#include "os/console.h"
#include "tarvik_version.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

void print(const QString& text, FILE* stream)
{
    tarvik::console::write(stream, text);
}

int finish(const tarvik::CommandLine& commandLine)
{
    print(commandLine.text, commandLine.exitStatus == 0 ? stdout : stderr);
    return commandLine.exitStatus;
}

// Messages from Qt while the application object is made, until it exists.
struct HeldMessage
{
    QtMsgType type;
    QByteArray category;
    QString text;
};
QList<HeldMessage> heldMessages;
QtMessageHandler qtHandler = nullptr;

void passOnHeldMessages()
{
    qInstallMessageHandler(qtHandler);
    for (const HeldMessage& held : std::as_const(heldMessages)) {
        const QMessageLogContext context(nullptr, 0, nullptr,
                                         held.category.isNull() ? nullptr : held.category.constData());
        if (qtHandler)
            qtHandler(held.type, context, held.text);
        else
            print(held.text + QLatin1Char('\n'), stderr);
    }
    heldMessages.clear();
}

// A display that is named but cannot be reached (a stale DISPLAY, an X server gone, ssh without X
// forwarding) makes Qt end the process with a fatal message about its platform plugin, after
// warnings that suggest reinstalling. That becomes one line and status 1; any other message is
// passed on once the application object exists (or before a fatal one ends the process).
void onStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        print(tarvik::unreachableDisplayMessage() + QLatin1Char('\n'), stderr);
        std::_Exit(1);
    }
    heldMessages.append({type, QByteArray(context.category), message});
    if (type == QtFatalMsg)
        passOnHeldMessages();
}

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version need no display, and without one QApplication would abort: both are
    // settled before it exists.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const tarvik::CommandLine early = tarvik::parseCommandLine(arguments, tarvik::ParseStage::BeforeApplication);
    if (early.exit)
        return finish(early);
    if (const QString missing = tarvik::missingDisplayMessage(arguments); !missing.isEmpty()) {
        print(missing + QLatin1Char('\n'), stderr);
        return 1;
    }

    qtHandler = qInstallMessageHandler(onStartMessage);
    QApplication app(argc, argv);
    passOnHeldMessages();

    // Qt has taken its own options (-platform, -style, ...); what is left must all be ours.
    const tarvik::CommandLine commandLine =
        tarvik::parseCommandLine(QApplication::arguments(), tarvik::ParseStage::WithApplication);
    if (commandLine.exit)
        return finish(commandLine);

    QString warning;
    const QString language = tarvik::windowLanguage(commandLine, &warning);
    if (!warning.isEmpty())
        print(warning + QLatin1Char('\n'), stderr);
    tarvik::setUpApplication(app, language);
    // The window opens the endpoint: a capture that cannot be written stops the tool before it.
    std::unique_ptr<tarvik::wire::Capture> capture;
    if (!commandLine.trace.isEmpty()) {
        QString error;
        capture = tarvik::wire::startCapture(
            commandLine.trace, QStringLiteral("tarvik " TARVIK_VERSION),
            [](const QString& why) { print(QStringLiteral("tarvik: ") + why + QLatin1Char('\n'), stderr); }, &error);
        if (!capture) {
            print(QStringLiteral("tarvik: ") + error + QLatin1Char('\n'), stderr);
            return 1;
        }
    }
    tarvik::MainForm form;
    form.show();
    return app.exec();
}
