// The real window against a simulated module while another process floods port 65002 with
// 100,000 datagrams of random length and content; and a whole scan, read and write, the run that
// valgrind checks for leaks (see docs/testing.md, "Hostile input and leaks").
#include "support/netns.h"
#include "support/procstatus.h"
#include "support/simbed.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace tarvik;
using namespace tarvik::test;

namespace {

constexpr int kFloodDatagrams = 100000;
constexpr int kLargestDatagram = 65507;

// Started as `tst_hostile_flood --flood N SEED [MAX]`: sends N datagrams to the tool's port as fast
// as it can. Half are up to 64 bytes long (as long as a module's replies), half up to MAX bytes (by
// default the largest a UDP datagram carries); their bytes are random.
int flood(int count, unsigned seed, int largest)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return 1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kLocalPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(seed);
    std::vector<char> pool(2 * kLargestDatagram);
    for (char& c : pool)
        c = static_cast<char>(random());
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        const size_t size = i % 2 ? random() % 65 : random() % (static_cast<unsigned>(largest) + 1);
        const size_t offset = random() % kLargestDatagram;
        if (sendto(fd, pool.data() + offset, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0)
            ++sent;
    }
    close(fd);
    std::printf("%d\n", sent);
    return 0;
}

} // namespace

class TestHostileFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodDuringRead_data();
    void floodDuringRead();
    void scanReadWrite();
};

void TestHostileFlood::floodDuringRead_data()
{
    QTest::addColumn<int>("largest");
    QTest::newRow("up to 65507 bytes") << kLargestDatagram;
    QTest::newRow("up to 64 bytes") << 64;
}

void TestHostileFlood::floodDuringRead()
{
    QFETCH(int, largest);
    Bed bed;
    QVERIFY(bed.open());
    QVERIFY(bed.startSim({QStringLiteral("--quiet")}));
    QVERIFY(bed.scan(1));
    const long rssBefore = statusKb("VmRSS");

    // How long the event loop goes without running a timer while the flood lasts.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, this, [&] {
        longestGap = qMax(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    heartbeat.start(10);
    int arrivals = 0;
    connect(&bed.ui().form().endpoint(), &UdpEndpoint::datagramArrived, this, [&] { ++arrivals; });

    bed.ui().pickDevice(0);
    QVERIFY(bed.state().Op_Code >= 1 && bed.state().Op_Code <= kLastReadStage);
    QProcess flooder;
    flooder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--flood"), QString::number(kFloodDatagrams),
                                                            QStringLiteral("7"), QString::number(largest)});
    QVERIFY(flooder.waitForStarted());
    lastTick = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(flooder.state() == QProcess::NotRunning, 120000);
    const qint64 floodMs = clock.elapsed();
    QCOMPARE(flooder.exitCode(), 0);
    const int sent = flooder.readAllStandardOutput().trimmed().toInt();
    QCOMPARE(sent, kFloodDatagrams);
    // Whatever the socket still holds is taken before the check.
    QTest::qWait(500);
    heartbeat.stop();

    const long peak = statusKb("VmHWM");
    qInfo("flood: %d datagrams sent in %lld ms, %d taken; RSS before %ld kB, peak %ld kB, after %ld kB; longest time "
          "without a 10 ms timer tick %lld ms",
          sent, floodMs, arrivals, rssBefore, peak, statusKb("VmRSS"), longestGap);
    // Bounded: the device table, the log and the socket's queue have fixed limits (a few MB each);
    // anything that kept every datagram would need gigabytes.
    QVERIFY2(peak - rssBefore < 256 * 1024, qPrintable(QString::number(peak - rssBefore)));
    QVERIFY(bed.ui().form().isVisible());

    // The tool still works: the module is found again and read with its own values.
    QVERIFY(bed.scan(1));
    QVERIFY(bed.read(0));
    for (const FieldValue& field : factoryFields(0))
        QCOMPARE(bed.ui().value(field.field), field.value);
}

// The whole run a user makes: scan, read, change a value, write, read it back, and close.
void TestHostileFlood::scanReadWrite()
{
    Bed bed;
    QVERIFY(bed.open());
    QVERIFY(bed.startSim({QStringLiteral("--quiet")}));
    QVERIFY(bed.scan(1));
    QVERIFY(bed.read(0));
    bed.ui().type(fieldNamed("Ch1_Port_Number"), QStringLiteral("04321"));
    bed.ui().choose(fieldNamed("UART_BaudRate"), 7);
    bed.ui().click("Setting");
    QVERIFY(bed.waitForLastLine(QStringLiteral("设置设备 1数据成功，请重新读取设备参数以检查参数的设置是否正确。")));
    QVERIFY(bed.read(0));
    QCOMPARE(bed.ui().value(fieldNamed("Ch1_Port_Number")), QStringLiteral("04321"));
    QCOMPARE(bed.ui().value(fieldNamed("UART_BaudRate")), QStringLiteral("7"));
    bed.ui().closeWindow();
}

int main(int argc, char* argv[])
{
    tarvik::test::requirePrivateNetworkNamespace(argv[0]);
    if (argc > 3 && std::strcmp(argv[1], "--flood") == 0)
        return flood(std::atoi(argv[2]), static_cast<unsigned>(std::atoi(argv[3])),
                     argc > 4 ? std::atoi(argv[4]) : kLargestDatagram);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestHostileFlood test;
    QTEST_SET_MAIN_SOURCE_PATH
    return tarvik::test::testStatus(QTest::qExec(&test, argc, argv));
}

#include "tst_hostile_flood.moc"
