// End to end: picking a simulated module reads its parameters into the real window.
#include "app/application.h"
#include "link/frames.h"
#include "support/simbed.h"
#include "support/testmain.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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

        // First attempt: the queries up to PT1, whose reply was lost; then all again, and all once
        // more in another order, which confirm them.
        const QList<QByteArray> queries = queriesSent();
        QCOMPARE(queries.size(), framesThrough("Ch1_Port_Number") + 2 * kParameterCount);
        QCOMPARE(m_bed->wire().countCommand("ATET"), 3);
        QCOMPARE(m_bed->wire().countCommand("ATPT1"), 3);
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

        // ET..UP, then ET..DA3, then all, then all again, which confirm them.
        QCOMPARE(m_bed->wire().countCommand("AT"),
                 framesThrough("UART_Parity") + framesThrough("Ch3_D_IP") + 2 * kParameterCount);
        QCOMPARE(m_bed->wire().countCommand("ATET"), 4);
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
        // The confirming pass waits until the late replies can no longer come: up to five seconds.
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("读取设备 1数据成功！"), 12000));
        // ET to DA2, ET, all, then all again (a query repeated where a late copy was set aside).
        QTRY_VERIFY_WITH_TIMEOUT(sim->count(QStringLiteral(" TX ")) - repliesBefore >=
                                     framesThrough("Ch2_D_IP") + 1 + 2 * kParameterCount,
                                 8000);
        QVERIFY(m_bed->wire().broadcast(QByteArray::fromHex("001A2B3C4D5E") + "06000", kLocalPort));
        QVERIFY(m_bed->wire().sync());

        // (And once more where its answer was set aside as a late reply of another query's bytes.)
        QVERIFY(m_bed->wire().countCommand("ATET") >= 4);
        QVERIFY(m_bed->wire().countCommand("AT") >= framesThrough("Ch2_D_IP") + 1 + 2 * kParameterCount);
        QCOMPARE(m_bed->ui().logLines(),
                 (QStringList{m_bed->ui().logLines().value(0), QStringLiteral("读取设备 1参数... ..."),
                              m_bed->ui().logLines().value(2), QStringLiteral("读取设备 1数据成功！")}));
        compareFields(factoryFields(0));
        QCOMPARE(m_bed->state().Retry_Count, 0);
    }

    void rejectedFirstStage()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--answer"), QStringLiteral("ET=06")}));
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
        QCOMPARE(m_bed->ui().logLines().last(), QStringLiteral("参数未导出，这些参数为空或无效：MASK"));
        m_bed->ui().click("Run_Device");
        QVERIFY(!exportAction->isEnabled());
        m_bed->ui().form().parameterFiles().exportParameters();
        QCOMPARE(m_bed->ui().logLines().last(), QStringLiteral("导出参数不可用：没有选择设备，请先选择设备。"));
        QVERIFY(!QFile::exists(chosen));
    }

    // Ctrl+O for the rows whose line is an import's, Ctrl+S for the others, once the modules picked
    // are read (with a module's replies delayed: 100 ms into the read) and fields typed. One line is
    // logged; a disabled action's tooltip ends it. The file dialog comes only for an import or an
    // export, and what is exported the window's own import and tarvik-cli write --from take back.
    void parameterFileKeys_data()
    {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QList<int>>("picks");
        QTest::addColumn<QStringList>("typed"); // FIELD=TEXT
        QTest::addColumn<QString>("logged");    // the line's start
        QTest::newRow("import while a read runs")
            << QStringList{"--delay", "300:SR3?"} << QList<int>{0} << QStringList()
            << QStringLiteral("导入参数不可用：设备操作正在进行，请等它结束。");
        QTest::newRow("import after a scan") << QStringList() << QList<int>() << QStringList()
                                             << QStringLiteral("导入参数不可用：没有选择设备，请先选择设备。");
        QTest::newRow("import after a failed read")
            << QStringList{"--drop", "ET?"} << QList<int>{0} << QStringList()
            << QStringLiteral("导入参数不可用：“设  置”不可用，请先完整读取所选设备。");
        QTest::newRow("import after a read") << QStringList() << QList<int>{0} << QStringList()
                                             << QStringLiteral("已从文件导入参数，请按“设  置”写入设备 1（");
        QTest::newRow("export of values import refuses")
            << QStringList() << QList<int>{0} << QStringList{"S_IP=192.168.1.300", "Ch1_Port_Number=99999"}
            << QStringLiteral("参数未导出，这些参数为空或无效：S_IP, Ch1_Port_Number");
        // Module 1's second answer for channel 3's mode is rejected; the field showed module 2's.
        QTest::newRow("export after a rejected reply")
            << QStringList{"--count", "2", "--answer", "SR3#2=09"} << QList<int>{0, 1, 0} << QStringList()
            << QStringLiteral("参数未导出，这些参数为空或无效：Ch3_SOCK_Mode");
        QTest::newRow("round trip") << QStringList() << QList<int>{0}
                                    << QStringList{"S_IP=10.0.0.7", "Ch1_Port_Number=7"}
                                    << QStringLiteral("参数已导出到文件：");
    }
    void parameterFileKeys()
    {
        QFETCH(QStringList, sim);
        QFETCH(QList<int>, picks);
        QFETCH(QStringList, typed);
        QFETCH(QString, logged);
        QVERIFY(m_bed->startSim(sim));
        QVERIFY(m_bed->scan(picks.contains(1) ? 2 : 1));
        QTemporaryDir dir;
        QString in = dir.filePath(QStringLiteral("in.json"));
        const QString out = dir.filePath(QStringLiteral("out.json"));
        QFile file(in);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{\"S_IP\": \"10.0.0.8\"}") > 0);
        file.close();
        int asked = 0;
        m_bed->ui().form().parameterFiles().setFileChooser([&](bool save) { return ++asked, save ? out : in; });
        const bool delayed = sim.contains(QStringLiteral("--delay"));
        for (int row : std::as_const(picks)) {
            m_bed->ui().pickDevice(row);
            QTRY_VERIFY(delayed || !m_bed->ui().operations().isBusy());
        }
        for (const QString& edit : std::as_const(typed))
            m_bed->ui().type(fieldNamed(edit.section(u'=', 0, 0).toLatin1().constData()), edit.section(u'=', 1));
        QTest::qWait(delayed ? 100 : 0);
        const auto shown = [this] {
            QStringList values;
            for (Field which : kAllFields)
                values << m_bed->ui().value(which);
            return values;
        };
        const QStringList typedIn = shown();

        const bool import = logged.contains(QStringLiteral("导入"));
        QTest::keyClick(&m_bed->ui().form(), import ? Qt::Key_O : Qt::Key_S, Qt::ControlModifier);
        const QString line = m_bed->ui().logLines().last();
        QVERIFY2(line.startsWith(logged), qPrintable(line));
        const auto* action = m_bed->ui().form().findChild<QAction*>(import ? "ImportParameters" : "ExportParameters");
        QVERIFY(action->isEnabled() != line.endsWith(action->toolTip()));
        QTRY_VERIFY(!m_bed->ui().operations().isBusy()); // a read that runs ends as usual
        const bool done = logged.startsWith(QStringLiteral("已从")) || logged.startsWith(QStringLiteral("参数已导出"));
        QCOMPARE(asked, int(done));
        QCOMPARE(m_bed->ui().value(fieldNamed("S_IP")) == QStringLiteral("10.0.0.8"), done && import);
        QCOMPARE(QFile::exists(out), done && !import);
        if (!QFile::exists(out))
            return;
        m_bed->ui().type(fieldNamed("S_IP"), QStringLiteral("10.0.0.9"));
        in = out;
        QTest::keyClick(&m_bed->ui().form(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(shown(), typedIn);
        QProcess cli;
        cli.start(QStringLiteral(TARVIK_CLI_PATH), {"write", "001A2B3C4D5E", "--from", out, "--dry-run"});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
    }
};

TARVIK_TEST_MAIN_GUI_NET(TestE2eRead)
#include "tst_e2e_read.moc"
