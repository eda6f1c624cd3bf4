// tarvik-demo-check: opens the configuration tool's window (usually offscreen), scans, expects a
// number of modules and reads the first one, or reads, writes, restores and resets the modules
// named with --operate; exit status 0 when all of it worked. It shows that the demo's network
// (namespaces joined by veth pairs, other subnets) carries the tool's broadcasts both ways.
#include "app/mainform.h"
#include "host.h"
#include "logwait.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTextStream>

namespace {

using tarvik::lastLogLine;

// Waits until the log's last line is `line`; prints it, or what the log ends with instead.
bool waitForLine(const QWidget& form, const QString& line, QTextStream& out, QTextStream& err)
{
    if (tarvik::waitForLastLogLine(form, line)) {
        out << "  " << line << Qt::endl;
        return true;
    }
    err << "expected " << line << ", the log ends with: " << lastLogLine(form) << Qt::endl;
    return false;
}

// Reads, writes back, restores the defaults of and resets the module with the identity `hex`.
bool operate(tarvik::MainForm& form, const QString& hex, QTextStream& out, QTextStream& err)
{
    auto* list = form.findChild<QListWidget*>(QStringLiteral("Device_List"));
    const auto row = [&] {
        for (int i = 0; i < list->count(); ++i) {
            if (list->item(i)->text().contains(hex))
                return i;
        }
        return -1;
    };
    const int index = row();
    if (index < 0) {
        err << hex << ": not in the device list" << Qt::endl;
        return false;
    }
    const QString number = QString::number(index + 1);
    const auto click = [&](const char* name) { form.findChild<QPushButton*>(QLatin1String(name))->click(); };
    const int card = form.operations().state().Device_Table[static_cast<size_t>(index)].card;
    out << hex << " (item " << number << "), through " << QNetworkInterface::interfaceNameFromIndex(card) << " (card "
        << card << "):" << Qt::endl;

    // Choosing a module reads it; choosing the one already chosen is no change, so it is read as
    // Enter on it would.
    if (list->currentRow() != index)
        list->setCurrentRow(index);
    else
        form.operations().pickDevice();
    if (!waitForLine(form, QStringLiteral("读取设备 %1数据成功！").arg(number), out, err))
        return false;
    out << "  S_IP " << qobject_cast<QLineEdit*>(form.field(tarvik::fieldNamed("S_IP")))->text() << Qt::endl;
    click("Setting");
    if (!waitForLine(form,
                     QStringLiteral("设置设备 %1数据成功，请重新读取设备参数以检查参数的设置是否正确。").arg(number),
                     out, err))
        return false;
    click("L_Default");
    if (!waitForLine(form, QStringLiteral("默认参数值请参考相关的用户手册。"), out, err))
        return false;
    click("Run_Device");
    if (!waitForLine(form, QStringLiteral("对设备 %1的复位运行成功。").arg(number), out, err))
        return false;
    if (row() >= 0) {
        err << hex << ": still listed after the reset" << Qt::endl;
        return false;
    }
    return true;
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
    const QCommandLineOption operateOption(
        QStringLiteral("operate"),
        QStringLiteral("Instead of reading the first module: read, write, restore and reset the module with this "
                       "identity (12 hex digits, repeatable)."),
        QStringLiteral("hex"));
    parser.addOption(operateOption);
    parser.process(app);
    const int expected = parser.value(expect).toInt();
    const QStringList operated = parser.values(operateOption);

    QString why;
    if (!tarvik::sim::insidePrivateNetworkNamespace(&why)) {
        err << "tarvik-demo-check: refusing to run on this network (" << why << ")" << Qt::endl;
        return 2;
    }

    tarvik::MainForm form;
    form.show();
    const auto* address = form.findChild<QWidget*>(QStringLiteral("DISP_IP"));
    out << address->property("text").toString() << Qt::endl;
    out << address->toolTip() << Qt::endl;

    auto* scan = form.findChild<QPushButton*>(QStringLiteral("Scan"));
    auto* list = form.findChild<QListWidget*>(QStringLiteral("Device_List"));
    scan->click();
    const QString report = QStringLiteral("检测到 %1个设备。").arg(expected);
    if (!tarvik::waitForLastLogLine(form, report)) {
        err << "scan: expected " << report << ", the log ends with: " << lastLogLine(form) << Qt::endl;
        return 1;
    }
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text() << Qt::endl;
    out << report << Qt::endl;

    if (!operated.isEmpty()) {
        for (const QString& hex : operated) {
            if (!operate(form, hex.toUpper(), out, err))
                return 1;
        }
        return 0;
    }

    list->setCurrentRow(0); // choosing a module reads it
    const QString done = QStringLiteral("读取设备 1数据成功！");
    if (!tarvik::waitForLastLogLine(form, done)) {
        err << "read: the log ends with: " << lastLogLine(form) << Qt::endl;
        return 1;
    }
    out << done << " S_IP " << qobject_cast<QLineEdit*>(form.field(tarvik::fieldNamed("S_IP")))->text() << Qt::endl;
    return 0;
}
