// End to end: writing, restoring factory values and resetting simulated modules from the real window.
#include "support/simbed.h"
#include "support/soak.h"
#include "support/testmain.h"

#include "link/frames.h"

#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QNetworkDatagram>
#include <QUdpSocket>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QByteArray kFirst = QByteArray::fromHex("001A2B3C4D5E");
const QByteArray kSecond = QByteArray::fromHex("001A2B3C4D5F");
const QByteArray kThird = QByteArray::fromHex("001A2B3C4D60");

const QString kWriteStarts = QStringLiteral("设置设备 1的参数... ...");
const QString kWriteSucceeded = QStringLiteral("设置设备 1数据成功，请重新读取设备参数以检查参数的设置是否正确。");

QList<FieldValue> with(QList<FieldValue> fields, const QList<FieldValue>& changes)
{
    for (const FieldValue& change : changes) {
        for (FieldValue& field : fields) {
            if (field.field == change.field)
                field.value = change.value;
        }
    }
    return fields;
}

} // namespace

class TestE2eWrite : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Bed> m_bed;

    // Starts one simulator with `arguments`, scans and reads module 1.
    void readModule(const QStringList& arguments = {})
    {
        QVERIFY(m_bed->startSim(arguments));
        QVERIFY(m_bed->scan(1));
        QVERIFY(m_bed->read(0));
        m_bed->wire().clear();
    }

    QList<QByteArray> settingsSent() const
    {
        QList<QByteArray> settings;
        for (const QByteArray& command : m_bed->wire().commands()) {
            if (command.startsWith("AT") && command.contains('='))
                settings << command;
        }
        return settings;
    }

    void compareFields(const QList<FieldValue>& expected)
    {
        QCOMPARE(expected.size(), kParameterCount);
        for (const FieldValue& field : expected) {
            QVERIFY2(m_bed->ui().value(field.field) == field.value,
                     qPrintable(QStringLiteral("%1: %2 instead of %3")
                                    .arg(m_bed->ui().form().field(field.field)->objectName(),
                                         m_bed->ui().value(field.field), field.value)));
        }
    }

    // Compares the log's messages, leaving out the time-stamp lines.
    void compareLog(const QStringList& messages)
    {
        QStringList shown;
        for (const QString& line : m_bed->ui().logLines()) {
            if (!QLocale::system().toDateTime(line, QLocale::ShortFormat).isValid())
                shown << line;
        }
        QCOMPARE(shown, messages);
    }

private slots:
    void init()
    {
        m_bed = std::make_unique<Bed>();
        QVERIFY(m_bed->open());
    }
    void cleanup() { m_bed.reset(); }

    // The short form of the soak: a module that loses 2 % of its replies, read and written cycle
    // after cycle. Every read ends in success or failure, and a success always shows right values.
    void soakUnderLoss()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--loss"), QStringLiteral("2:5"), QStringLiteral("--quiet")}));
        QVERIFY(m_bed->scan(1));
        const SoakFigures figures = soakReadWrite(*m_bed, 20);
        QVERIFY2(figures.firstProblem.isEmpty(), qPrintable(figures.firstProblem));
        QCOMPARE(figures.cycles, 20);
        QCOMPARE(figures.readsOk + figures.readsFailed, 20);
        QVERIFY(figures.readsOk > 0);
        QVERIFY(figures.writesOk > 0);
        QVERIFY(figures.logBlocksMax <= MainForm::kLogLineLimit);
    }

    void writeChangesAndReadThemBack()
    {
        readModule();
        FormDriver& ui = m_bed->ui();
        ui.choose(fieldNamed("UART_BaudRate"), 7); // 115200bps
        ui.choose(fieldNamed("Ch3_SOCK_Mode"), 4); // UDP模式1
        ui.type(fieldNamed("S_IP"), QStringLiteral("10.0.0.7"));
        ui.type(fieldNamed("Ch4_D_IP"), QStringLiteral("172.16.5.9"));
        ui.type(fieldNamed("Ch2_D_Port"), QStringLiteral("8080"));
        ui.type(fieldNamed("UART_TimeDeli"), QStringLiteral("150"));

        ui.click("Setting");
        QCOMPARE(ui.logLines().value(1), kWriteStarts);
        QVERIFY(!ui.isEnabled("Setting"));
        QVERIFY(m_bed->waitForLastLine(kWriteSucceeded));

        // A setting per parameter in the order of the chain, each the field's text as it stands (not
        // widened): the values read, with the user's changes.
        QList<FieldValue> shown = factoryFields(0);
        for (const auto& [name, value] : {std::pair{"UART_BaudRate", "7"},
                                          {"Ch3_SOCK_Mode", "4"},
                                          {"S_IP", "10.0.0.7"},
                                          {"Ch4_D_IP", "172.16.5.9"},
                                          {"Ch2_D_Port", "8080"},
                                          {"UART_TimeDeli", "150"}})
            shown[indexOf(parameterOf(fieldNamed(name)))].value = QString::fromLatin1(value);
        QList<QByteArray> expected;
        for (const Parameter& p : kParameters) {
            const QString& value = shown[indexOf(p)].value;
            const frames::FieldValue field{p.isDropDown() ? value.toInt() : -1, value};
            expected << frames::setting(kFirst, p, field).value_or(QByteArray()).mid(frames::kIdentitySize);
        }
        QCOMPARE(settingsSent(), expected);
        for (const QByteArray& frame : m_bed->wire().payloads())
            QCOMPARE(frame.left(6), kFirst);
        QCOMPARE(m_bed->state().Op_Code, 100 + kLastReadStage);
        QCOMPARE(m_bed->state().Retry_Count, 0);
        compareLog({kWriteStarts, kWriteSucceeded});
        for (const char* control : {"Device_List", "L_Default", "Setting", "Run_Device"})
            QVERIFY2(ui.isEnabled(control), control);

        // Read again: the module's fixed-width forms of what was written.
        QVERIFY(m_bed->read(0));
        compareFields(with(factoryFields(0), {
                                                 {fieldNamed("UART_BaudRate"), QStringLiteral("7")},
                                                 {fieldNamed("Ch3_SOCK_Mode"), QStringLiteral("4")},
                                                 {fieldNamed("S_IP"), QStringLiteral("010.000.000.007")},
                                                 {fieldNamed("Ch4_D_IP"), QStringLiteral("172.016.005.009")},
                                                 {fieldNamed("Ch2_D_Port"), QStringLiteral("08080")},
                                                 {fieldNamed("UART_TimeDeli"), QStringLiteral("0150")},
                                             }));
    }

    // A second PC on the LAN commissions module 2 while the window reads, writes and restores
    // module 1: it has set module 2 to values unlike module 1's, and it sends module 2 the same
    // request as the window sends module 1, each time the window sends one, so that module 2's reply
    // (broadcast, as all replies are) reaches the window while the window awaits one of the same
    // layout. Every outcome is module 1's own, with one entry per operation.
    void anotherPcOnTheLan()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--quiet")}));
        QVERIFY(m_bed->scan(2));
        QUdpSocket otherPc;
        QVERIFY(otherPc.bind(QHostAddress(QHostAddress::AnyIPv4), kModulePort,
                             QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
        const auto toModule2 = [&otherPc](const QByteArray& tail) {
            otherPc.writeDatagram(kSecond + tail, QHostAddress(QHostAddress::Broadcast), kModulePort);
        };
        for (const FieldValue& own : factoryFields(0)) {
            const Parameter& p = parameterOf(own.field);
            frames::FieldValue other{(own.value.toInt() + 1) % qMax(1, p.entries.count), QStringLiteral("4321")};
            if (p.layout == Layout::Address)
                other.text = QStringLiteral("10.20.30.40");
            toModule2(frames::setting(kSecond, p, other)->mid(6));
        }
        int mirrored = 0;
        connect(&otherPc, &QUdpSocket::readyRead, this, [&] {
            while (otherPc.hasPendingDatagrams()) {
                const QByteArray frame = otherPc.receiveDatagram().data();
                if (frame.startsWith(kFirst)) {
                    toModule2(frame.mid(6));
                    ++mirrored;
                }
            }
        });

        QVERIFY(m_bed->read(0));
        compareFields(factoryFields(0));
        compareLog({QStringLiteral("读取设备 1参数... ..."), QStringLiteral("读取设备 1数据成功！")});
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(kWriteSucceeded));
        compareLog({kWriteStarts, kWriteSucceeded});
        m_bed->ui().click("L_Default");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("默认参数值请参考相关的用户手册。")));
        compareLog({QStringLiteral("恢复设备 1默认参数... ..."),
                    QStringLiteral("恢复设备 1默认参数成功，请重新读取设备参数！"),
                    QStringLiteral("默认参数值请参考相关的用户手册。")});
        QCOMPARE(mirrored, kParameterCount + kParameterCount + 1);
    }

    // A module whose replies carry zeros where its identity belongs is read and written as any other.
    void moduleWithoutIdentity()
    {
        readModule({QStringLiteral("--no-identity")});
        compareFields(factoryFields(0));
        m_bed->ui().type(fieldNamed("S_IP"), QStringLiteral("10.0.0.7"));
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(kWriteSucceeded));
        QVERIFY(m_bed->read(0));
        compareFields(with(factoryFields(0), {{fieldNamed("S_IP"), QStringLiteral("010.000.000.007")}}));
    }

    void restoreDefaultsThenReadFactoryValues()
    {
        readModule();
        FormDriver& ui = m_bed->ui();
        ui.choose(fieldNamed("Disp_Mode"), 0);
        ui.type(fieldNamed("G_IP"), QStringLiteral("10.9.8.1"));
        ui.type(fieldNamed("Ch1_Port_Number"), QStringLiteral("23"));
        ui.click("Setting");
        QVERIFY(m_bed->waitForLastLine(kWriteSucceeded));
        QVERIFY(m_bed->read(0));
        const QList<FieldValue> written =
            with(factoryFields(0), {
                                       {fieldNamed("Disp_Mode"), QStringLiteral("0")},
                                       {fieldNamed("G_IP"), QStringLiteral("010.009.008.001")},
                                       {fieldNamed("Ch1_Port_Number"), QStringLiteral("00023")},
                                   });
        compareFields(written);
        m_bed->wire().clear();

        ui.click("L_Default");
        QCOMPARE(ui.logLines().value(1), QStringLiteral("恢复设备 1默认参数... ..."));
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("默认参数值请参考相关的用户手册。")));
        QCOMPARE(m_bed->wire().payloads(), QList<QByteArray>{kFirst + "ATDF\r"});
        compareLog({QStringLiteral("恢复设备 1默认参数... ..."),
                    QStringLiteral("恢复设备 1默认参数成功，请重新读取设备参数！"),
                    QStringLiteral("默认参数值请参考相关的用户手册。")});
        // The window keeps what it showed; the module holds its factory values again.
        compareFields(written);
        QVERIFY(m_bed->read(0));
        compareFields(factoryFields(0));
    }

    void resetAndFindAgain()
    {
        readModule();
        SimProcess& sim = m_bed->sim();
        FormDriver& ui = m_bed->ui();
        ui.click("Run_Device");
        compareLog({QStringLiteral("对设备 1的复位运行成功。")});
        QTRY_COMPARE(m_bed->wire().frames().size(), 1);
        QCOMPARE(m_bed->wire().payloads().first(), kFirst + "END");
        QTRY_COMPARE(sim.count(QStringLiteral("reset: runs, answers only SETUP")), 1);
        QVERIFY(ui.deviceItems().isEmpty());
        QCOMPARE(m_bed->state().Device_Count, 0);
        for (const FieldValue& field : factoryFields(0)) {
            const QString blank =
                qobject_cast<QLineEdit*>(ui.form().field(field.field)) ? QString() : QStringLiteral("-1");
            QCOMPARE(ui.value(field.field), blank);
        }

        // A new scan finds the module again, and it answers commands again.
        QVERIFY(m_bed->scan(1));
        QCOMPARE(ui.deviceItems(), QStringList{deviceItem(QStringLiteral("001A2B3C4D5E"))});
        QVERIFY(m_bed->read(0));
        compareFields(factoryFields(0));
    }

    void resetTheSecondOfThree()
    {
        QVERIFY(m_bed->startSim({QStringLiteral("--count"), QStringLiteral("3")}));
        QVERIFY(m_bed->scan(3));
        QVERIFY(m_bed->read(1));
        m_bed->wire().clear();
        m_bed->ui().click("Run_Device");
        compareLog({QStringLiteral("对设备 2的复位运行成功。")});
        QTRY_COMPARE(m_bed->wire().frames().size(), 1);
        QCOMPARE(m_bed->wire().payloads().first(), kSecond + "END");
        QCOMPARE(m_bed->ui().deviceItems(),
                 (QStringList{deviceItem(QStringLiteral("001A2B3C4D5E")), deviceItem(QStringLiteral("001A2B3C4D60"))}));
        QCOMPARE(m_bed->state().Device_Count, 2);
        QCOMPARE(m_bed->state().Device_Table[1].identity, kThird);

        // The list item and the table entry stay paired: the second item now reads the third module.
        m_bed->wire().clear();
        QVERIFY(m_bed->read(1));
        compareFields(factoryFields(2));
        QCOMPARE(m_bed->wire().payloads().first().left(6), kThird);
    }

    void refusalOfTheTenthSetting()
    {
        readModule({QStringLiteral("--refuse"), QStringLiteral("BT=")});
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("请检查计算机与设备之间的网络连接。")));
        const QList<QByteArray> settings = settingsSent();
        QCOMPARE(settings.size(), 10);
        QCOMPARE(settings.last(), QByteArray("ATBT=0512\r"));
        compareLog({kWriteStarts, QStringLiteral("设置设备 1数据不成功！"),
                    QStringLiteral("请检查计算机与设备之间的网络连接。")});
        QCOMPARE(m_bed->state().Retry_Count, 0);
        for (const char* control : {"Device_List", "L_Default", "Setting", "Run_Device"})
            QVERIFY2(m_bed->ui().isEnabled(control), control);
    }

    void moduleRefusesAnInvalidAddress()
    {
        readModule();
        m_bed->ui().type(fieldNamed("S_IP"), QStringLiteral("192.168.1.300"));
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("请检查计算机与设备之间的网络连接。")));
        QCOMPARE(settingsSent().size(), 3);
        QCOMPARE(settingsSent().last(), QByteArray("ATIP=192.168.1.300\r"));
        // The module kept its address.
        QVERIFY(m_bed->read(0));
        QCOMPARE(m_bed->ui().value(fieldNamed("S_IP")), QStringLiteral("192.168.001.101"));
    }

    void silenceGivesThreeAttempts()
    {
        readModule({QStringLiteral("--drop"), QStringLiteral("*=")});
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("请检查计算机与设备之间的网络连接，重新操作！")));
        QCOMPARE(settingsSent(), QList<QByteArray>(3, "ATET=0\r"));
        compareLog({kWriteStarts, QStringLiteral("设置设备 1参数不成功！"),
                    QStringLiteral("请检查计算机与设备之间的网络连接，重新操作！")});
        QCOMPARE(m_bed->state().Retry_Count, 0);
        for (const char* control : {"Device_List", "L_Default", "Setting", "Run_Device"})
            QVERIFY2(m_bed->ui().isEnabled(control), control);
    }

    void oneLostAcknowledgementRestartsTheWrite()
    {
        SimProcess* sim = nullptr;
        readModule({QStringLiteral("--drop"), QStringLiteral("TM=#1")});
        sim = &m_bed->sim();
        m_bed->ui().click("Setting");
        QVERIFY(m_bed->waitForLastLine(kWriteSucceeded));
        const QList<QByteArray> settings = settingsSent();
        QCOMPARE(settings.size(), framesThrough("UART_TimeDeli") + kParameterCount);
        QCOMPARE(settings[framesThrough("UART_TimeDeli")], QByteArray("ATET=0\r"));
        QCOMPARE(m_bed->wire().countCommand("ATET="), 2);
        QCOMPARE(sim->count(QStringLiteral("loses its reply to TM=")), 1);
        compareLog({kWriteStarts, kWriteSucceeded});
        QCOMPARE(m_bed->state().Retry_Count, 0);
    }

    void defaultsRefused()
    {
        readModule({QStringLiteral("--refuse"), QStringLiteral("DF")});
        m_bed->ui().click("L_Default");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("请检查计算机与设备之间的网络连接，重新操作！")));
        compareLog({QStringLiteral("恢复设备 1默认参数... ..."), QStringLiteral("恢复设备 1默认参数不成功！"),
                    QStringLiteral("请检查计算机与设备之间的网络连接，重新操作！")});
    }

    void defaultsUnanswered()
    {
        readModule({QStringLiteral("--drop"), QStringLiteral("DF")});
        m_bed->ui().click("L_Default");
        QVERIFY(m_bed->waitForLastLine(QStringLiteral("恢复设备 1默认参数不成功，请重新操作！")));
        // No retry: one request, one entry.
        QCOMPARE(m_bed->wire().payloads(), QList<QByteArray>{kFirst + "ATDF\r"});
        compareLog(
            {QStringLiteral("恢复设备 1默认参数... ..."), QStringLiteral("恢复设备 1默认参数不成功，请重新操作！")});
    }

    // The acknowledgement comes twice: one outcome; once it is written nothing is awaited.
    void duplicateDefaultsAcknowledgementGivesOneEntry()
    {
        readModule({QStringLiteral("--duplicate"), QStringLiteral("DF")});
        const int sent = m_bed->sim().count(QStringLiteral(" TX "));
        m_bed->ui().click("L_Default");
        QTRY_COMPARE(m_bed->sim().count(QStringLiteral(" TX ")), sent + 2);
        QTRY_COMPARE(m_bed->ui().logLines().count(QStringLiteral("恢复设备 1默认参数成功，请重新读取设备参数！")), 1);
        QCOMPARE(m_bed->ui().logLines().size(), 5);
    }
};

TARVIK_TEST_MAIN_GUI_NET(TestE2eWrite)
#include "tst_e2e_write.moc"
