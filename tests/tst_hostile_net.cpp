// The real window on real sockets under hostile conditions, without modules: port 65002 held by
// another process, and datagrams no module sends arriving through the endpoint.
#include "app/mainform.h"
#include "link/udpendpoint.h"
#include "support/netns.h"
#include "support/uiutil.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <cstring>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QString kNoDevice = QStringLiteral("未检查到网络中的设备！");

// Started as `tst_hostile_net --hold-port`: another program that owns the tool's port until its
// standard input closes.
int holdPort()
{
    QUdpSocket squatter;
    if (!squatter.bind(QHostAddress::AnyIPv4, kLocalPort)) {
        std::fprintf(stderr, "cannot bind port %d: %s\n", kLocalPort, qPrintable(squatter.errorString()));
        return 1;
    }
    std::printf("bound\n");
    std::fflush(stdout);
    char buffer[64];
    while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    return 0;
}

void sendToTool(const QList<QByteArray>& datagrams)
{
    QUdpSocket module;
    for (const QByteArray& datagram : datagrams)
        module.writeDatagram(datagram, QHostAddress::LocalHost, kLocalPort);
}

} // namespace

class TestHostileNet : public QObject
{
    Q_OBJECT

private slots:
    void portTakenByAnotherProcess();
    void badLengthsThroughTheEndpoint();
    void floodLeavesTheEventLoopTurns();
};

// The tool starts anyway; a scan runs its four rounds and reports that no device was found.
void TestHostileNet::portTakenByAnotherProcess()
{
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-port")});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY(other.canReadLine() || other.state() != QProcess::Running);
    QCOMPARE(other.readLine(), QByteArray("bound\n"));

    MainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!form.endpoint().isBound());
    QVERIFY(child<QLabel>(form, "DISP_IP")->text().endsWith(QStringLiteral("端口号： 65002")));
    // The start-up log says so in one line, with the system's reason.
    const QString portLine = QStringLiteral("无法使用本机UDP端口65002，收不到设备的回复：");
    const QStringList startLog = logLines(form);
    QCOMPARE(startLog.size(), 6);
    QVERIFY2(startLog.last().startsWith(portLine) && startLog.last().size() > portLine.size(),
             qPrintable(startLog.last()));

    click(form, "Scan");
    QTRY_VERIFY_WITH_TIMEOUT(logLines(form).contains(kNoDevice), 10000);
    // Not one broadcast went out: the report says why before the advice.
    const QStringList report = logLines(form);
    const qsizetype noDevice = report.indexOf(kNoDevice);
    QVERIFY2(report.value(noDevice - 1).startsWith(QStringLiteral("扫描广播未能从本计算机发出：")),
             qPrintable(report.join(QLatin1Char('\n'))));
    QCOMPARE(form.operations().state().Scan_Round, qint16(0));
    QCOMPARE(child<QListWidget>(form, "Device_List")->count(), 0);
    QVERIFY(form.isVisible());

    other.closeWriteChannel();
    QVERIFY(other.waitForFinished());
    QCOMPARE(other.exitCode(), 0);
}

// Through the real endpoint: datagrams too short for an identity are ignored, one longer than the
// arrival path takes is dropped, and a module answering after them is listed.
void TestHostileNet::badLengthsThroughTheEndpoint()
{
    MainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.endpoint().isBound());
    const QString logBefore = logLines(form).join(QLatin1Char('\n'));

    const QByteArray module = QByteArray::fromHex("001a2b3c4d5e") + "tail";
    sendToTool({QByteArray(), QByteArray(1, '\x01'), QByteArray(5, '\x05'), QByteArray(65507, '\x7E'),
                QByteArray(32768, '\x7F'), module});
    auto* list = child<QListWidget>(form, "Device_List");
    QTRY_COMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QStringLiteral("设备 ( 001A2B3C4D5E )"));
    QCOMPARE(form.operations().state().Device_Table[0].discovery, module);
    QCOMPARE(logLines(form).join(QLatin1Char('\n')), logBefore);

    // The largest datagram the arrival path takes is listed like any other.
    sendToTool({QByteArray(32767, '\x7D')});
    QTRY_COMPARE(list->count(), 2);
    QCOMPARE(form.operations().state().Device_Table[1].discovery.size(), 32767);
}

// A queue that never empties (a flood) must not keep the event loop inside the endpoint: one
// notification takes one datagram, the loop turns (timers, painting), and the rest follows,
// every datagram once and in order.
void TestHostileNet::floodLeavesTheEventLoopTurns()
{
    UdpEndpoint endpoint;
    endpoint.open();
    QVERIFY(endpoint.isBound());
    QList<QByteArray> arrived;
    connect(&endpoint, &UdpEndpoint::datagramArrived, this, [&](const QByteArray& d) { arrived << d; });

    // Queued in the socket before the loop runs again: more than one batch.
    constexpr int kQueued = 192;
    QList<QByteArray> sent;
    for (int i = 0; i < kQueued; ++i)
        sent << QByteArray::number(i).rightJustified(8, '0');
    sendToTool(sent);

    int turns = 0;
    QTimer::singleShot(0, this, [] {}); // something else for the loop to do
    while (arrived.size() < kQueued && turns < 1000) {
        const qsizetype before = arrived.size();
        QCoreApplication::processEvents();
        QVERIFY2(arrived.size() - before <= 1, qPrintable(QString::number(arrived.size())));
        ++turns;
    }
    QCOMPARE(arrived, sent);
    QVERIFY(turns >= 3);
}

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    if (argc > 1 && std::strcmp(argv[1], "--hold-port") == 0) {
        QCoreApplication app(argc, argv);
        return holdPort();
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestHostileNet test;
    QTEST_SET_MAIN_SOURCE_PATH
    return tarvik::test::testStatus(QTest::qExec(&test, argc, argv));
}

#include "tst_hostile_net.moc"
