// tarvik-demo-check: opens the configuration tool's window (usually offscreen), scans, expects a
// number of modules and reads the first one; exit status 0 when all of it worked. It shows that the
// demo's network (two namespaces, a veth pair, two subnets) carries the tool's broadcasts both ways.
#include "app/mainform.h"
#include "host.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <functional>

namespace {

// Runs the event loop until `done` holds (checked every 10 ms) or the time is up.
bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(10);
    if (!done())
        loop.exec();
    return done();
}

QString lastLogLine(const QWidget& form)
{
    const auto* log = form.findChild<QPlainTextEdit*>(QStringLiteral("Help_Text"));
    return log ? log->toPlainText().section(QLatin1Char('\n'), -1) : QString();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-demo-check"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Opens the configuration tool's window, scans, expects N modules and reads the first one.\n"
        "Runs only inside a private network namespace. Use QT_QPA_PLATFORM=offscreen without a display."));
    parser.addHelpOption();
    const QCommandLineOption expect(QStringLiteral("expect"), QStringLiteral("Modules to find (default 3)."),
                                    QStringLiteral("n"), QStringLiteral("3"));
    parser.addOption(expect);
    parser.process(app);
    const int expected = parser.value(expect).toInt();

    QString why;
    if (!tarvik::sim::insidePrivateNetworkNamespace(&why)) {
        err << "tarvik-demo-check: refusing to run on this network (" << why << ")" << Qt::endl;
        return 2;
    }

    tarvik::MainForm form;
    form.show();
    out << form.findChild<QWidget*>(QStringLiteral("DISP_IP"))->property("text").toString() << Qt::endl;

    auto* scan = form.findChild<QPushButton*>(QStringLiteral("Scan"));
    auto* list = form.findChild<QListWidget*>(QStringLiteral("Device_List"));
    scan->click();
    const QString report = QStringLiteral("检测到 %1个设备。").arg(expected);
    if (!waitFor([&] { return lastLogLine(form) == report; }, 5000)) {
        err << "scan: expected " << report << ", the log ends with: " << lastLogLine(form) << Qt::endl;
        return 1;
    }
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text() << Qt::endl;
    out << report << Qt::endl;

    list->setCurrentRow(0); // choosing a module reads it
    const QString done = QStringLiteral("读取设备 1数据成功！");
    if (!waitFor([&] { return lastLogLine(form) == done; }, 5000)) {
        err << "read: the log ends with: " << lastLogLine(form) << Qt::endl;
        return 1;
    }
    out << done << " S_IP " << qobject_cast<QLineEdit*>(form.field(tarvik::fieldNamed("S_IP")))->text() << Qt::endl;
    return 0;
}
