// End to end: the real window scans for simulated modules over the wire.
#include "support/simbed.h"
#include "support/testmain.h"

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QString kScanning = QStringLiteral("计算机正在扫描网络中的设备... ...");

QString item(const char* hex)
{
    return deviceItem(QString::fromLatin1(hex));
}

} // namespace

class TestE2eScan : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Bed> m_bed;

    // Times of the "SETUP" datagrams seen on the wire.
    QList<qint64> setupTimes() const
    {
        QList<qint64> times;
        for (const WireTap::Frame& frame : m_bed->wire().frames()) {
            if (frame.bytes == "SETUP")
                times << frame.atMs;
        }
        return times;
    }

private slots:
    void init()
    {
        m_bed = std::make_unique<Bed>();
        QVERIFY(m_bed->open());
    }
    void cleanup() { m_bed.reset(); }

    void twoModulesFourBroadcasts()
    {
        SimProcess* sim = m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2")});
        QVERIFY(sim);
        FormDriver& ui = m_bed->ui();
        QVERIFY(!ui.isEnabled("Setting"));

        QVERIFY(m_bed->scan(2));

        // Four broadcasts of exactly "SETUP", about 400 ms apart, and nothing else.
        QCOMPARE(m_bed->wire().payloads(), QList<QByteArray>(4, "SETUP"));
        const QList<qint64> times = setupTimes();
        for (int i = 1; i < times.size(); ++i) {
            const qint64 gap = times[i] - times[i - 1];
            QVERIFY2(gap >= 370 && gap <= 1000, qPrintable(QStringLiteral("gap %1: %2 ms").arg(i).arg(gap)));
        }
        // Each module answered each broadcast; the list holds each once, in the order they answered.
        QCOMPARE(sim->count(QStringLiteral("|SETUP|")), 4);
        QCOMPARE(sim->count(QStringLiteral(" TX ")), 8);
        QCOMPARE(ui.deviceItems(), (QStringList{item("001A2B3C4D5E"), item("001A2B3C4D5F")}));
        QCOMPARE(m_bed->state().Device_Count, 2);
        QCOMPARE(m_bed->state().Scan_Round, 0);
        QCOMPARE(m_bed->state().Op_Code, 0);
        // The whole discovery reply is kept.
        QCOMPARE(m_bed->state().Device_Table[1].discovery,
                 QByteArray::fromHex("001A2B3C4D5F") + "192.168.001.102/V3.1");

        const QStringList lines = ui.logLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[1], kScanning);
        QCOMPARE(lines[4], QStringLiteral("检测到 2个设备。"));
        QVERIFY(ui.isEnabled("Device_List"));
        for (const char* page : {"Comm_Item", "Channel1", "Channel2", "Channel3"})
            QVERIFY2(ui.isEnabled(page), page);
        QVERIFY(!ui.isEnabled("Setting"));
        QVERIFY(!ui.isEnabled("L_Default"));
        QVERIFY(!ui.isEnabled("Run_Device"));
    }

    void noModule()
    {
        FormDriver& ui = m_bed->ui();
        QVERIFY(m_bed->scan(0));
        QCOMPARE(m_bed->wire().count("SETUP"), 4);
        const QStringList lines = ui.logLines();
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[4], QStringLiteral("未检查到网络中的设备！"));
        QVERIFY(ui.deviceItems().isEmpty());
        QVERIFY(!ui.isEnabled("Device_List"));
        QVERIFY(!ui.isEnabled("Comm_Item"));
        QCOMPARE(m_bed->state().Scan_Round, 0);
    }

    void secondScanAddsToTheFirst()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2")}));
        QVERIFY(m_bed->scan(2));
        QVERIFY(m_bed->startSim({QStringLiteral("--id"), QStringLiteral("0102030A0B0C")}));
        QVERIFY(m_bed->scan(3));
        QCOMPARE(m_bed->wire().count("SETUP"), 8);
        QCOMPARE(m_bed->ui().deviceItems(),
                 (QStringList{item("001A2B3C4D5E"), item("001A2B3C4D5F"), item("0102030A0B0C")}));
        // The second scan began a fresh log.
        QCOMPARE(m_bed->ui().logLines().size(), 5);
    }

    void lateRepliesListedAfterTheReport()
    {
        // Every discovery reply comes 2 s late: after the report of "no device".
        SimProcess* sim = m_bed->startSim({QStringLiteral("--delay"), QStringLiteral("2000:SETUP")});
        QVERIFY(sim);
        QVERIFY(m_bed->scan(0));
        QVERIFY(m_bed->ui().deviceItems().isEmpty());
        const QStringList report = m_bed->ui().logLines();

        QTRY_COMPARE_WITH_TIMEOUT(m_bed->ui().deviceItems(), QStringList{item("001A2B3C4D5E")}, 5000);
        // All four late replies arrived; the module is listed once and the log is untouched.
        QTRY_COMPARE_WITH_TIMEOUT(sim->count(QStringLiteral(" TX ")), 4, 5000);
        QTRY_COMPARE(m_bed->state().Device_Count, 1);
        QCOMPARE(m_bed->ui().logLines(), report);
    }

    void clickDuringScanIsOneOfTheFour()
    {
        QVERIFY(m_bed->startSim({}));
        m_bed->ui().click("Scan");
        QTRY_COMPARE(m_bed->wire().count("SETUP"), 1);
        QVERIFY(m_bed->scan(1)); // the second click: no fresh log, the report comes one round earlier
        QCOMPARE(m_bed->wire().count("SETUP"), 4);
        QCOMPARE(m_bed->ui().logLines().size(), 5);
        QCOMPARE(m_bed->ui().logLines()[1], kScanning);
        QCOMPARE(m_bed->state().Scan_Round, 0);
    }

    void closingTheWindowResetsEveryModule()
    {
        SimProcess* sim = m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2")});
        QVERIFY(sim);
        QVERIFY(m_bed->scan(2));
        m_bed->wire().clear();
        m_bed->ui().closeWindow();
        QTRY_COMPARE(m_bed->wire().frames().size(), 1);
        QCOMPARE(m_bed->wire().payloads().first(), QByteArray(6, '\xFF') + "END");
        QTRY_COMPARE(sim->count(QStringLiteral("reset: runs, answers only SETUP")), 2);
    }
};

TARVIK_TEST_MAIN_GUI_NET(TestE2eScan)
#include "tst_e2e_scan.moc"
