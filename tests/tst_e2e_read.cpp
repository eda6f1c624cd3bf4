// End to end: picking a simulated module reads its parameters into the real window.
#include "app/application.h"
#include "link/frames.h"
#include "support/simbed.h"
#include "support/testmain.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QByteArray kSecond = QByteArray::fromHex("001A2B3C4D5F");

QByteArray query(const QByteArray& id, const QByteArray& code)
{
    return (id + "AT" + code + '\r').leftJustified(12, '\0');
}

QString stampless(const QStringList& lines, int i)
{
    return i < lines.size() ? lines[i] : QString();
}

} // namespace

class TestE2eRead : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Bed> m_bed;

    QList<QByteArray> queriesSent() const
    {
        QList<QByteArray> queries;
        for (const QByteArray& bytes : m_bed->wire().payloads()) {
            if (bytes != "SETUP")
                queries << bytes;
        }
        return queries;
    }

    void compareFields(const QList<FieldValue>& expected)
    {
        for (const FieldValue& field : expected) {
            QVERIFY2(m_bed->ui().value(field.field) == field.value,
                     qPrintable(QStringLiteral("%1: %2 instead of %3")
                                    .arg(m_bed->ui().form().field(field.field)->objectName(),
                                         m_bed->ui().value(field.field), field.value)));
        }
    }

private slots:
    void init()
    {
        m_bed = std::make_unique<Bed>();
        QVERIFY(m_bed->open());
    }
    void cleanup() { m_bed.reset(); }

    // The window's language changes what the user reads, never what goes on the wire.
    void fullReadFillsEveryField_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("begins");
        QTest::addColumn<QString>("ends");
        QTest::newRow("zh") << "zh"
                            << "读取设备 2参数... ..."
                            << "读取设备 2数据成功！";
        QTest::newRow("en") << "en"
                            << "Reading device 2: parameters... ..."
                            << "Reading device 2: succeeded!";
    }
    void fullReadFillsEveryField()
    {
        QFETCH(QString, language);
        QFETCH(QString, begins);
        QFETCH(QString, ends);
        m_bed.reset();
        const QList<QTranslator*> translators = installTranslations(*QCoreApplication::instance(), language);
        auto removeTranslators = qScopeGuard([&] {
            for (QTranslator* translator : translators) {
                QCoreApplication::removeTranslator(translator);
                delete translator;
            }
        });
        m_bed = std::make_unique<Bed>();
        QVERIFY(m_bed->open());

        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2")}));
        QVERIFY(m_bed->scan(2));
        m_bed->wire().clear();

        m_bed->ui().pickDevice(1);
        QVERIFY(!m_bed->ui().isEnabled("Device_List"));
        QVERIFY(m_bed->waitForLastLine(ends));
        QCOMPARE(m_bed->ui().logLines().value(1), begins);

        // A query for the second module per parameter, in the order of the stages.
        QList<QByteArray> expected;
        for (const Parameter& p : kParameters)
            expected << frames::query(kSecond, p);
        QCOMPARE(queriesSent(), expected);
        compareFields(factoryFields(1));

        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(m_bed->state().Op_Code, kLastReadStage);
        QCOMPARE(m_bed->state().Retry_Count, 0);
        QCOMPARE(m_bed->state().Sel_Device, 1);
        for (const char* control : {"Device_List", "L_Default", "Setting", "Run_Device"})
            QVERIFY2(m_bed->ui().isEnabled(control), control);
    }

    void secondReadOfAnotherModule()
    {
        // Channels 3 and 4 keep the first module's values until their stages are read; at the end
        // every field shows the second module.
        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2")}));
        QVERIFY(m_bed->scan(2));
        QVERIFY(m_bed->read(0));
        compareFields(factoryFields(0));
        QVERIFY(m_bed->read(1));
        compareFields(factoryFields(1));
        QCOMPARE(m_bed->ui().logLines().size(), 4); // the log was begun anew
    }

    void oneLostReplyRestartsTheReadOnce()
    {
        SimProcess* sim = m_bed->startSim({QStringLiteral("--drop"), QStringLiteral("PT1?#1")});
        QVERIFY(sim);
        QVERIFY(m_bed->scan(1));
        m_bed->wire().clear();
        QVERIFY(m_bed->read(0));

        // First attempt: the queries up to PT1, whose reply was lost; then all again.
        const QList<QByteArray> queries = queriesSent();
        QCOMPARE(queries.size(), framesThrough("Ch1_Port_Number") + kParameterCount);
        QCOMPARE(m_bed->wire().countCommand("ATET"), 2);
        QCOMPARE(m_bed->wire().countCommand("ATPT1"), 2);
        QCOMPARE(queries[framesThrough("Ch1_Port_Number")], query(QByteArray::fromHex("001A2B3C4D5E"), "ET"));
        QCOMPARE(sim->count(QStringLiteral("loses its reply to PT1?")), 1);
        compareFields(factoryFields(0));

        // One start entry, one success entry, no failure; the retry count is back at 0.
        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[1], QStringLiteral("读取设备 1参数... ..."));
        QCOMPARE(m_bed->state().Retry_Count, 0);

        // So the next read writes its start entry again.
        m_bed->ui().pickDevice(0);
        QCOMPARE(stampless(m_bed->ui().logLines(), 1), QStringLiteral("读取设备 1参数... ..."));
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("读取设备 1数据成功！")));
    }

    void silentModuleFailsAfterThreeAttempts()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--drop"), QStringLiteral("*")}));
        QVERIFY(m_bed->scan(1));
        m_bed->wire().clear();

        QElapsedTimer clock;
        clock.start();
        m_bed->ui().pickDevice(0);
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("请检查计算机与设备之间的网络连接，重新操作！")));
        const qint64 elapsed = clock.elapsed();
        // Queries at 0, 400 and 800 ms; the failure at 1200 ms.
        QVERIFY2(elapsed >= 1100, qPrintable(QString::number(elapsed)));

        const QByteArray first = query(QByteArray::fromHex("001A2B3C4D5E"), "ET");
        QCOMPARE(queriesSent(), (QList<QByteArray>{first, first, first}));
        const QList<WireTap::Frame> frames = m_bed->wire().frames();
        QVERIFY(frames[1].atMs - frames[0].atMs >= 370);
        QVERIFY(frames[2].atMs - frames[1].atMs >= 370);

        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[1], QStringLiteral("读取设备 1参数... ..."));
        QCOMPARE(lines[3], QStringLiteral("读取设备 1参数不成功！"));
        QVERIFY(m_bed->ui().isEnabled("Device_List"));
        QVERIFY(m_bed->ui().isEnabled("Run_Device"));
        QVERIFY(!m_bed->ui().isEnabled("Setting"));
        QVERIFY(!m_bed->ui().isEnabled("L_Default"));
        QCOMPARE(m_bed->state().Retry_Count, 0);
        // Blanked by each attempt, never filled.
        QCOMPARE(m_bed->ui().value(fieldNamed("S_IP")), QString());
        QCOMPARE(m_bed->ui().value(fieldNamed("Ethernet_Mode")), QStringLiteral("-1"));
    }

    void rejectedValues()
    {
        // The module answers the Ethernet mode with 6 and the baud rate with 9.
        QVERIFY(m_bed->startSim({QStringLiteral("--answer"), QStringLiteral("ET=06"), QStringLiteral("--answer"),
                                 QStringLiteral("UB=09")}));
        QVERIFY(m_bed->scan(1));
        QVERIFY(m_bed->read(0));

        // The last rejected value's message stands alone; the success entry is appended below it.
        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("读取通道1串口波特率错误！"));
        QCOMPARE(lines[2], QStringLiteral("读取设备 1数据成功！"));

        QCOMPARE(m_bed->ui().value(fieldNamed("Ethernet_Mode")), QStringLiteral("-1"));
        QCOMPARE(m_bed->ui().value(fieldNamed("UART_BaudRate")), QStringLiteral("-1"));
        // The rest is read as usual.
        QList<FieldValue> others;
        for (const FieldValue& field : factoryFields(0)) {
            if (field.field != fieldNamed("Ethernet_Mode") && field.field != fieldNamed("UART_BaudRate"))
                others << field;
        }
        QCOMPARE(others.size(), kParameterCount - 2);
        compareFields(others);
        QCOMPARE(m_bed->wire().countCommand("AT"), kParameterCount);
    }

    // A reply too short for its stage counts as lost, at a drop-down (the parity, one byte short of
    // its digit) as at a text field (channel 3's address): the real timer runs on and restarts the
    // read, which then reads every field whole.
    void shortRepliesRestartTheRead()
    {
        SimProcess* sim = m_bed->startSim({QStringLiteral("--truncate"), QStringLiteral("7:UP?#1"),
                                           QStringLiteral("--truncate"), QStringLiteral("20:DA3?#1")});
        QVERIFY(sim);
        QVERIFY(m_bed->scan(1));
        m_bed->wire().clear();
        m_bed->ui().pickDevice(0);
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("读取设备 1数据成功！"), 8000));

        // ET..UP, then ET..DA3, then all.
        QCOMPARE(m_bed->wire().countCommand("AT"),
                 framesThrough("UART_Parity") + framesThrough("Ch3_D_IP") + kParameterCount);
        QCOMPARE(m_bed->wire().countCommand("ATET"), 3);
        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[1], QStringLiteral("读取设备 1参数... ..."));
        compareFields(factoryFields(0));
        QCOMPARE(m_bed->state().Retry_Count, 0);
    }

    // The first reply to DA2 comes 600 ms late, after the read restarted at 400 ms; the restart's
    // own ET reply comes 2 s late, so a second restart at 800 ms reads everything. Neither late reply
    // shows in any field, nor does a whole reply for DP4 sent after the read has ended: the read
    // ends once, with every value the module holds.
    void lateRepliesNeverShowInAnotherField()
    {
        SimProcess* sim = m_bed->startSim({QStringLiteral("--delay"), QStringLiteral("600:DA2?#1"),
                                           QStringLiteral("--delay"), QStringLiteral("2000:ET?#2")});
        QVERIFY(sim);
        QVERIFY(m_bed->scan(1));
        const int repliesBefore = sim->count(QStringLiteral(" TX "));
        m_bed->ui().pickDevice(0);
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("读取设备 1数据成功！")));
        QTRY_COMPARE_WITH_TIMEOUT(sim->count(QStringLiteral(" TX ")) - repliesBefore,
                                  framesThrough("Ch2_D_IP") + 1 + kParameterCount, 8000);
        QVERIFY(m_bed->wire().broadcast(QByteArray::fromHex("001A2B3C4D5E") + "06000", kLocalPort));
        QVERIFY(m_bed->wire().sync());

        QCOMPARE(m_bed->wire().countCommand("ATET"), 3);
        // ET to DA2, ET, then all
        QCOMPARE(m_bed->wire().countCommand("AT"), framesThrough("Ch2_D_IP") + 1 + kParameterCount);
        QCOMPARE(m_bed->ui().logLines(),
                 (QStringList{m_bed->ui().logLines().value(0), QStringLiteral("读取设备 1参数... ..."),
                              m_bed->ui().logLines().value(2), QStringLiteral("读取设备 1数据成功！")}));
        compareFields(factoryFields(0));
        QCOMPARE(m_bed->state().Retry_Count, 0);
    }

    void rejectedFirstStage()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--answer"), QStringLiteral("ET=0\\x2F")}));
        QVERIFY(m_bed->scan(1));
        QVERIFY(m_bed->read(0));
        const QStringList lines = m_bed->ui().logLines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("以太网工作模式读取错误！"));
        QCOMPARE(m_bed->ui().value(fieldNamed("Ethernet_Mode")), QStringLiteral("-1"));
    }
    // Export after a read, import into the fields: the values come back; a refused file leaves
    // the fields as they were and says why in the log. Nothing is sent by either. An empty field is
    // not exported, and once Run_Device has removed the module read nothing is.
    void parameterFiles()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("3")}));
        QVERIFY(m_bed->scan(3));
        QVERIFY(m_bed->read(1));
        QTemporaryDir dir;
        QString chosen = dir.filePath(QStringLiteral("second.json"));
        m_bed->ui().form().parameterFiles().setFileChooser([&chosen](bool) { return chosen; });
        m_bed->wire().clear();
        auto* exportAction = m_bed->ui().form().findChild<QAction*>(QStringLiteral("ExportParameters"));
        exportAction->trigger();
        QFile exported(chosen);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QVERIFY(exported.readAll().contains("\"001A2B3C4D5F\": {\n    \"Ethernet_Mode\": \"自动握手\""));

        const Field ip = fieldNamed("S_IP");
        m_bed->ui().type(ip, QStringLiteral("10.0.0.7"));
        const auto importFile = [&](const QString& name, const QByteArray& bytes) {
            chosen = dir.filePath(name);
            QFile file(chosen);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            file.close();
            m_bed->ui().form().parameterFiles().importParameters();
        };
        importFile(QStringLiteral("bad.json"), "{\"S_IP\": \"10.0.0.8\", \"MASK\": \"1.2.3\"}");
        QCOMPARE(m_bed->ui().value(ip), QStringLiteral("10.0.0.7"));
        QVERIFY(m_bed->ui().logLines().last().startsWith(QStringLiteral("参数文件未导入，参数保持不变：")));
        QVERIFY(m_bed->ui().logLines().last().contains(QStringLiteral("key \"MASK\"")));
        // Another module's own set, while this one is selected.
        importFile(QStringLiteral("other.json"), "{\"001A2B3C4D5E\": {\"S_IP\": \"10.0.0.9\"}}");
        QCOMPARE(m_bed->ui().value(ip), QStringLiteral("10.0.0.7"));
        QVERIFY(m_bed->ui().logLines().last().endsWith(QStringLiteral("no parameters for 001A2B3C4D5F")));

        chosen = dir.filePath(QStringLiteral("second.json"));
        m_bed->ui().form().parameterFiles().importParameters();
        compareFields(factoryFields(1));
        QVERIFY(m_bed->wire().sync());
        for (const QByteArray& bytes : m_bed->wire().payloads())
            QVERIFY2(bytes.startsWith("tap-sync-"), bytes.toHex().constData());

        m_bed->ui().type(fieldNamed("MASK"), QString());
        chosen = dir.filePath(QStringLiteral("refused.json"));
        exportAction->trigger();
        QCOMPARE(m_bed->ui().logLines().last(), QStringLiteral("参数未导出，这些参数为空：MASK"));
        m_bed->ui().click("Run_Device");
        QVERIFY(!exportAction->isEnabled());
        const QStringList log = m_bed->ui().logLines();
        m_bed->ui().form().parameterFiles().exportParameters();
        QCOMPARE(m_bed->ui().logLines(), log);
        QVERIFY(!QFile::exists(chosen));
    }
};

TARVIK_TEST_MAIN_GUI_NET(TestE2eRead)
#include "tst_e2e_read.moc"
