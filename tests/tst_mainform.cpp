// The window: its controls at start-up, page switching, the log as the user sees it, and exit.
#include "app/application.h"
#include "app/captions.h"
#include "app/mainform.h"
#include "link/frames.h"
#include "ops/dispatch.h"
#include "support/fakes.h"
#include "support/hostilefiles.h"
#include "support/testmain.h"
#include "support/uiutil.h"
#include "tarvik_version.h"

#include <QAccessible>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTranslator>
#include <QUdpSocket>

#include <memory>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QStringList kAdvice = {
    QStringLiteral("请注意下面提示的本机IP地址和端口号值。"),
    QStringLiteral("在使用本工具扫描设备之前，请确保所有的设备都在同一个物理局域网内，没有经过路由器隔离。"),
    QStringLiteral("请先扫描网络中的设备，然后读取指定设备的参数，并可对每一个设备的参数进行修改。"),
    QStringLiteral("扫描设备的过程可能需要几秒钟的时间。"),
};

const char* const kPageNames[] = {"Comm_Item", "Channel1", "Channel2", "Channel3"};

// A socket on the modules' port that sees what the tool broadcasts.
std::unique_ptr<QUdpSocket> listenAsModule()
{
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress::AnyIPv4, kModulePort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        qFatal("cannot bind the modules' port");
    return socket;
}

// The width a line edit draws its text in: its contents less frame, text margins and the two
// pixels it keeps free on either side.
int textAreaWidth(QLineEdit* edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    return contents.marginsRemoved(edit->textMargins()).width() - 2 * 2;
}

QList<QByteArray> receivedBy(QUdpSocket& socket)
{
    QList<QByteArray> datagrams;
    while (socket.hasPendingDatagrams()) {
        QByteArray datagram(static_cast<qsizetype>(socket.pendingDatagramSize()), '\0');
        socket.readDatagram(datagram.data(), datagram.size());
        datagrams << datagram;
    }
    return datagrams;
}

// The next `count` datagrams the tool sends (fewer when they do not come).
QList<QByteArray> nextSent(QUdpSocket& socket, int count)
{
    QList<QByteArray> datagrams;
    static_cast<void>(QTest::qWaitFor([&] {
        datagrams += receivedBy(socket);
        return datagrams.size() >= count;
    }));
    return datagrams;
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    // The application as main() sets it up: its font (on Windows a Chinese face) and translations.
    void initTestCase() { m_chinese = setUpApplication(*qApp, QStringLiteral("zh")); }

    void init()
    {
        m_form = std::make_unique<MainForm>();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    void cleanup() { m_form.reset(); }

    // On Windows the window names a face with Chinese (Windows' UI font has none, and its fallback
    // depends on the system's language), and that face has every character of the captions. On
    // Linux fontconfig's fallback finds one.
    void chineseFont()
    {
#ifdef Q_OS_WIN
        const QString family = chineseFontFamily();
        QVERIFY(!family.isEmpty());
        QCOMPARE(QFontInfo(m_form->font()).family(), family);
        const QRawFont face = QRawFont::fromFont(m_form->font());
        QString captions;
        for (const QAbstractButton* button : m_form->findChildren<QAbstractButton*>())
            captions += button->text();
        for (const QLabel* label : m_form->findChildren<QLabel*>())
            captions += label->text();
        for (const QChar c : std::as_const(captions))
            QVERIFY2(c.isSpace() || face.supportsCharacter(c),
                     qPrintable(QStringLiteral("%1 lacks %2").arg(family, c)));
#else
        QSKIP("fontconfig chooses the face for Chinese on Linux");
#endif
    }

    // In English, nothing the user reads is left in Chinese: captions, labels, tooltips, accessible
    // names, drop-down entries, tabs and the start-up log.
    void englishWindowHasNoChinese()
    {
        // As the program started in English would have them: Qt's Chinese texts (where Qt's
        // translations are installed) are not.
        for (QTranslator* translator : std::as_const(m_chinese))
            QCoreApplication::removeTranslator(translator);
        const QList<QTranslator*> translators =
            installTranslations(*QCoreApplication::instance(), QStringLiteral("en"));
        auto removeTranslators = qScopeGuard([&] {
            for (QTranslator* translator : translators) {
                QCoreApplication::removeTranslator(translator);
                delete translator;
            }
            for (QTranslator* translator : std::as_const(m_chinese))
                QCoreApplication::installTranslator(translator);
        });
        QVERIFY(!translators.isEmpty());
        MainForm form;
        QStringList texts{form.windowTitle()};
        for (const QWidget* widget : form.findChildren<QWidget*>()) {
            texts << widget->toolTip() << widget->accessibleName();
            if (auto* button = qobject_cast<const QAbstractButton*>(widget))
                texts << button->text();
            if (auto* label = qobject_cast<const QLabel*>(widget))
                texts << label->text();
            if (auto* group = qobject_cast<const QGroupBox*>(widget))
                texts << group->title();
            if (auto* box = qobject_cast<const QComboBox*>(widget)) {
                for (int i = 0; i < box->count(); ++i)
                    texts << box->itemText(i);
            }
            if (auto* tabs = qobject_cast<const QTabBar*>(widget)) {
                for (int i = 0; i < tabs->count(); ++i)
                    texts << tabs->tabText(i);
            }
            if (auto* log = qobject_cast<const QPlainTextEdit*>(widget))
                texts << log->toPlainText();
        }
        static const QRegularExpression kCjk(QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
        for (const QString& text : std::as_const(texts))
            QVERIFY2(!text.contains(kCjk), qPrintable(text));
        QCOMPARE(child(form, "Scan")->property("text").toString(), QStringLiteral("Scan devices"));
    }

    void captionsAndLabels()
    {
        const MainForm& form = *m_form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Tarvik网络配置工具"));
        QCOMPARE(child<QPushButton>(form, "Scan")->text(), QStringLiteral("扫描设备"));
        QCOMPARE(child<QPushButton>(form, "L_Default")->text(), QStringLiteral("默认值"));
        QCOMPARE(child<QPushButton>(form, "Setting")->text(), QStringLiteral("设  置"));
        QCOMPARE(child<QPushButton>(form, "Run_Device")->text(), QStringLiteral("运  行"));
        QCOMPARE(child<QPushButton>(form, "Run_Device")->toolTip(), QStringLiteral("运行当前选择的模块"));
        QCOMPARE(child<QPushButton>(form, "Exit_Command")->text(), QStringLiteral("退  出"));
        for (const char* bold : {"Scan", "Run_Device", "Exit_Command"})
            QVERIFY2(child<QPushButton>(form, bold)->font().bold(), bold);
        for (const char* plain : {"L_Default", "Setting"})
            QVERIFY2(!child<QPushButton>(form, plain)->font().bold(), plain);
        QCOMPARE(child<QGroupBox>(form, "Frame1")->title(), QStringLiteral("提示信息"));
        QCOMPARE(child<QLabel>(form, "Label1")->text(), QStringLiteral("Tarvik  v" TARVIK_VERSION));
        QVERIFY(!child<QLabel>(form, "Label5")->text().isEmpty());
        QCOMPARE(child<QLabel>(form, "Image1")->pixmap().size(), QSize(128, 28));

        auto* tabs = child<QTabBar>(form, "Parameters");
        QCOMPARE(tabs->count(), 4);
        const QStringList tabCaptions = {QStringLiteral("通用参数"), QStringLiteral("串行接口参数"),
                                         QStringLiteral("网络通道参数1"), QStringLiteral("网络通道参数2")};
        const QStringList frameCaptions = {QStringLiteral("通用参数"), QStringLiteral("串行通道"),
                                           QStringLiteral("网络通道A"), QStringLiteral("网络通道B")};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(tabs->tabText(i), tabCaptions[i]);
            QCOMPARE(child<QGroupBox>(form, kPageNames[i])->title(), frameCaptions[i]);
        }
        QCOMPARE(child<QGroupBox>(form, "UART1_Control")->title(), QStringLiteral("串行通道"));
        QCOMPARE(child<QGroupBox>(form, "Deli_Mode")->title(), QStringLiteral("数据包分割方式"));
    }

    // Screen readers announce every frame by its own caption (not the caption of the page around
    // it) and the device list by a name of its own.
    void accessibleNames()
    {
        const auto announced = [](QWidget* widget) {
            return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        };
        const QList<QGroupBox*> frames = m_form->findChildren<QGroupBox*>();
        QCOMPARE(frames.size(), 4 + 6 + 1); // pages, groups inside them, Frame1
        for (QGroupBox* frame : frames)
            QCOMPARE(announced(frame), frame->title());
        QCOMPARE(announced(child(*m_form, "Device_List")), QStringLiteral("设备列表"));
    }

    // Channel groups: which frame holds which channel's fields.
    void channelGroups()
    {
        struct Group
        {
            const char* page;
            const char* name;
            const char* caption;
            const char* field;
        };
        const Group groups[] = {
            {"Channel2", "Net2_Control", "网络通道1", "Ch1_SOCK_Mode"},
            {"Channel2", "Net2_Control", "网络通道2", "Ch2_D_Port"},
            {"Channel2", "Net3_Control", "网络通道3", "Ch3_D_IP"},
            {"Channel3", "Net2_Control", "网络通道4", "Ch4_Port_Number"},
        };
        for (const Group& g : groups) {
            QWidget* field = child(*m_form, g.field);
            auto* group = qobject_cast<QGroupBox*>(field->parentWidget());
            QVERIFY(group);
            QCOMPARE(group->objectName(), QString::fromLatin1(g.name));
            QCOMPARE(group->title(), QString::fromUtf8(g.caption));
            QCOMPARE(group->parentWidget()->objectName(), QString::fromLatin1(g.page));
        }
    }

    // Every field: kind, tooltip, typing limit, accessible name from its label; nothing selected.
    void fieldsAtStartUp()
    {
        struct Expected
        {
            const char* name;
            const char* label;
            const char* tooltip;
            int maxLength; // 0: a drop-down, or a text field without a limit (20 characters fit)
        };
        const Expected fields[] = {
            {"Ethernet_Mode", "以太网模式", "选择以太网的工作模式", 0},
            {"G_IP", "网关IP地址", "设置模块所在子网的网关IP地址", 15},
            {"S_IP", "本机IP地址", "设置模块的IP地址", 15},
            {"MASK", "子网掩码", "设置模块所在子网的子网掩码值", 15},
            {"Disp_Mode", "显示控制", nullptr, 0},
            {"UART_BaudRate", "波特率", "选择异步通信的波特率", 0},
            {"UART_Stream", "数据流控制", "选择异步通信数据流的控制方式", 0},
            {"UART_Bits", "数据位", "选择异步通信数据位长度，然后按“设置”键确认。一般使用8个位的字节数据", 0},
            {"UART_TimeDeli", "时间分割", nullptr, 0},
            {"UART_ByteDeli", "字节分割", nullptr, 0},
            {"UART_Parity", "奇偶校验位", "选择异步通信数据的校验方式", 0},
            {"UART_Stopbit", "停止位", "选择异步通信数据的停止位的位数", 0},
            {"Ch1_SOCK_Mode", "端口模式", "选择端口的工作模式", 0},
            {"Ch1_Port_Number", "本机端口号", "设置工作端口的端口号", 5},
            {"Ch1_D_IP", "目的IP地址", "设置目的IP地址", 15},
            {"Ch1_D_Port", "目的端口号", "设置目的端口号", 5},
            {"Ch2_SOCK_Mode", "端口模式", "选择端口的工作模式", 0},
            {"Ch2_Port_Number", "本机端口号", "设置工作端口的端口号", 5},
            {"Ch2_D_IP", "目的IP地址", "设置目的IP地址", 15},
            {"Ch2_D_Port", "目的端口号", "设置目的端口号", 5},
            {"Ch3_SOCK_Mode", "端口模式", "选择端口的工作模式", 0},
            {"Ch3_Port_Number", "本机端口号", "设置工作端口的端口号", 5},
            {"Ch3_D_IP", "目的IP地址", "设置目的IP地址", 15},
            {"Ch3_D_Port", "目的端口号", "设置目的端口号", 5},
            {"Ch4_SOCK_Mode", "端口模式", "选择端口的工作模式", 0},
            {"Ch4_Port_Number", "本机端口号", "设置工作端口的端口号", 5},
            {"Ch4_D_IP", "目的IP地址", "设置目的IP地址", 15},
            {"Ch4_D_Port", "目的端口号", "设置目的端口号", 5},
        };
        for (const Expected& expected : fields) {
            QWidget* widget = child(*m_form, expected.name);
            const Field which = fieldNamed(expected.name);
            QCOMPARE(widget, m_form->field(which));
            QCOMPARE(widget->toolTip(), expected.tooltip ? QString::fromUtf8(expected.tooltip) : QString());
            QCOMPARE(widget->accessibleName(), QString::fromUtf8(expected.label));
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible);
            QCOMPARE(accessible->text(QAccessible::Name), QString::fromUtf8(expected.label));
            if (parameterOf(which).isDropDown()) {
                auto* box = qobject_cast<QComboBox*>(widget);
                QVERIFY2(box, expected.name);
                QCOMPARE(box->currentIndex(), -1);
                QVERIFY(box->currentText().isEmpty());
                QVERIFY(!box->isEditable());
                QCOMPARE(box->count(), parameterOf(which).entries.count);
            } else {
                auto* edit = qobject_cast<QLineEdit*>(widget);
                QVERIFY2(edit, expected.name);
                QVERIFY(edit->text().isEmpty());
                edit->parentWidget()
                    ->window()
                    ->findChild<QWidget*>(QString::fromLatin1(kPageNames[fieldTextOf(which).place.page]))
                    ->setEnabled(true);
                QTest::keyClicks(edit, QString(20, QLatin1Char('1')));
                QCOMPARE(edit->text().size(), expected.maxLength ? expected.maxLength : 20);
            }
        }
    }

    void dropDownEntries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("baud") << "UART_BaudRate"
                              << QStringList{"1200bps",  "2400bps",  "4800bps",   "9600bps",  "19200bps",
                                             "38400bps", "57600bps", "115200bps", "300000bps"};
        QTest::newRow("flow") << "UART_Stream" << QStringList{"无", "RTS/CTS"};
        QTest::newRow("bits") << "UART_Bits" << QStringList{"8", "9"};
        QTest::newRow("parity") << "UART_Parity" << QStringList{"无校验", "奇校验", "偶校验"};
        QTest::newRow("stop") << "UART_Stopbit" << QStringList{"1", "2"};
        const QStringList modes{"端口关闭", "TCP服务器", "TCP客户端", "UDP模式0", "UDP模式1"};
        for (const char* name : {"Ch1_SOCK_Mode", "Ch2_SOCK_Mode", "Ch3_SOCK_Mode", "Ch4_SOCK_Mode"})
            QTest::newRow(name) << name << modes;
        QTest::newRow("ethernet") << "Ethernet_Mode"
                                  << QStringList{"自动握手",           "100M全双工自动握手", "100M全双工手动握手",
                                                 "100M半双工手动握手", "10M全双工手动握手",  "10M半双工手动握手"};
        QTest::newRow("display") << "Disp_Mode" << QStringList{"不显示", "显示"};
    }
    void dropDownEntries()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, entries);
        auto* box = child<QComboBox>(*m_form, name.toLatin1().constData());
        QStringList actual;
        for (int i = 0; i < box->count(); ++i)
            actual << box->itemText(i);
        QCOMPARE(actual, entries);
    }

    void enabledAtStartUp()
    {
        const MainForm& form = *m_form;
        for (const char* page : kPageNames)
            QVERIFY2(!child(form, page)->isEnabled(), page);
        for (const char* off : {"L_Default", "Setting", "Run_Device"})
            QVERIFY2(!child(form, off)->isEnabled(), off);
        for (const char* on : {"Scan", "Exit_Command", "Device_List", "Parameters"})
            QVERIFY2(child(form, on)->isEnabled(), on);
        // The pages can be looked at, but no field can be edited before a scan finds a device.
        QVERIFY(!child(form, "G_IP")->isEnabled());
        QVERIFY(!child(form, "Ch4_D_Port")->isEnabled());
    }

    void pagesAtStartUp()
    {
        const QPoint origin(216, 80);
        QVERIFY(child(*m_form, "Comm_Item")->isVisible());
        QCOMPARE(child(*m_form, "Comm_Item")->pos(), origin);
        for (const char* hidden : {"Channel1", "Channel2", "Channel3"})
            QVERIFY2(!child(*m_form, hidden)->isVisible(), hidden);
        QCOMPARE(child<QTabBar>(*m_form, "Parameters")->currentIndex(), 0);
    }

    void logAtStartUp()
    {
        const QStringList lines = logLines(*m_form);
        QCOMPARE(lines.size(), 5);
        QVERIFY(!lines[0].isEmpty());
        QCOMPARE(lines.mid(1), kAdvice);
    }

    void addressLabel()
    {
        const QString caption = child<QLabel>(*m_form, "DISP_IP")->text();
        static const QRegularExpression form(
            QStringLiteral("^本机IP地址：(\\d+\\.\\d+\\.\\d+\\.\\d+)    端口号： 65002$"));
        const QRegularExpressionMatch match = form.match(caption);
        QVERIFY2(match.hasMatch(), qPrintable(caption));
        QVERIFY(match.captured(1) != QStringLiteral("0.0.0.0"));
        QCOMPARE(child<QLabel>(*m_form, "DISP_IP")->palette().color(QPalette::WindowText), QColor(Qt::red));
        // The test's namespace has only the loopback: no card to list, and the tooltip says so.
        QCOMPARE(child<QLabel>(*m_form, "DISP_IP")->toolTip(),
                 QStringLiteral("没有可以广播的网卡：扫描经由系统的路由发出。"));
    }

    void pageSwitching_data()
    {
        QTest::addColumn<int>("tab");
        for (int tab = 0; tab < 4; ++tab)
            QTest::newRow(kPageNames[tab]) << tab;
    }
    void pageSwitching()
    {
        QFETCH(int, tab);
        auto* tabs = child<QTabBar>(*m_form, "Parameters");
        auto* baud = child<QComboBox>(*m_form, "UART_BaudRate");
        auto* gateway = child<QLineEdit>(*m_form, "G_IP");
        baud->setCurrentIndex(3);
        gateway->setText(QStringLiteral("192.168.001.001"));

        // Twice: the second click is on the tab already selected and shows the same page again.
        for (int round = 0; round < 2; ++round) {
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tab).center());
            QCOMPARE(tabs->currentIndex(), tab);
            for (int page = 0; page < 4; ++page) {
                QWidget* frame = child(*m_form, kPageNames[page]);
                QCOMPARE(frame->isVisible(), page == tab);
                if (page == tab)
                    QCOMPARE(frame->pos(), QPoint(216, 80));
            }
        }
        QCOMPARE(baud->currentIndex(), 3);
        QCOMPARE(gateway->text(), QStringLiteral("192.168.001.001"));
        for (const char* page : kPageNames)
            QVERIFY(!child(*m_form, page)->isEnabled());
    }

    // Typing stops at 15 characters in an address field and at 5 in a port field. A reply that is
    // not digits where the value's digits belong is not taken: the fields keep what was typed.
    void typingLimits()
    {
        auto* address = child<QLineEdit>(*m_form, "Ch3_D_IP");
        auto* port = child<QLineEdit>(*m_form, "Ch3_D_Port");
        child(*m_form, "Channel2")->setEnabled(true);
        QTest::keyClicks(address, QStringLiteral("255.255.255.2551"));
        QCOMPARE(address->text(), QStringLiteral("255.255.255.255"));
        QTest::keyClicks(port, QStringLiteral("655350"));
        QCOMPARE(port->text(), QStringLiteral("65535"));

        Operations& ops = m_form->operations();
        ops.state().Device_Count = 1;
        ops.state().Device_Table[0] = Device::fromDiscovery(QByteArray::fromHex("010203040506"), kAnyCard);
        ops.state().Op_Code = parameterOf(fieldNamed("Ch3_D_IP")).stage;
        ops.Winsock_DataArrival(QByteArray::fromHex("010203040506") + "01/.000.001.0/2");
        QCOMPARE(address->text(), QStringLiteral("255.255.255.255"));
        ops.state().Op_Code = parameterOf(fieldNamed("Ch3_D_Port")).stage;
        ops.Winsock_DataArrival(QByteArray::fromHex("010203040506") + "/1080");
        QCOMPARE(port->text(), QStringLiteral("65535"));
    }

    // Every text field shows its longest legal value whole, measured with the field's own font:
    // 15 characters for an address, 5 for a port and for the splitting values. (Run again at
    // 150 % scaling by the test tst_mainform_scaled.)
    void fieldWidths()
    {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(m_form->devicePixelRatio(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        auto* tabs = child<QTabBar>(*m_form, "Parameters");
        for (int tab = 0; tab < 4; ++tab) {
            QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tab).center());
            for (Field which : kAllFields) {
                const Parameter& parameter = parameterOf(which);
                if (parameter.isDropDown() || fieldTextOf(which).place.page != tab)
                    continue;
                auto* edit = qobject_cast<QLineEdit*>(m_form->field(which));
                QVERIFY(edit->isVisible());
                const QString pattern =
                    parameter.layout == Layout::Address ? QStringLiteral("ddd.ddd.ddd.ddd") : QStringLiteral("ddddd");
                // The widest digit, whichever it is in the font.
                int needed = 0;
                for (char digit = '0'; digit <= '9'; ++digit) {
                    QString value = pattern;
                    value.replace(QLatin1Char('d'), QLatin1Char(digit));
                    needed = qMax(needed, edit->fontMetrics().horizontalAdvance(value));
                }
                QVERIFY2(needed <= textAreaWidth(edit), qPrintable(QStringLiteral("%1: %2 px needed, %3 px shown")
                                                                       .arg(edit->objectName())
                                                                       .arg(needed)
                                                                       .arg(textAreaWidth(edit))));
                // Whole inside its frame: the fixed page leaves the room, the field is not cut off.
                QWidget* frame = edit->parentWidget();
                QVERIFY2(frame->contentsRect().contains(edit->geometry()), qPrintable(edit->objectName()));
            }
        }
    }

    // Every change of the selected item by the keyboard is a pick: it reads that module, and the
    // buttons then act on it. The list gets the focus back when the read gives the list back.
    void keyboardPicks_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("to");
        QTest::newRow("Down") << 0 << int(Qt::Key_Down) << 1;
        QTest::newRow("Up") << 2 << int(Qt::Key_Up) << 1;
        QTest::newRow("Home") << 2 << int(Qt::Key_Home) << 0;
        QTest::newRow("End") << 0 << int(Qt::Key_End) << 2;
        QTest::newRow("letter") << 0 << 0 << 1; // the items' first character: the next item
    }
    void keyboardPicks()
    {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, to);
        auto module = listenAsModule();
        listModules(3);
        auto* list = child<QListWidget>(*m_form, "Device_List");
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        list->setFocus();
        readAndFail(from);
        QVERIFY(list->hasFocus());
        QCOMPARE(nextSent(*module, 3).size(), 3);

        if (key) {
            QTest::keyClick(list, Qt::Key(key));
        } else {
            QKeyEvent letter(QEvent::KeyPress, 0, Qt::NoModifier, list->item(0)->text().left(1));
            QApplication::sendEvent(list, &letter);
        }
        QCOMPARE(m_form->operations().state().Sel_Device, qint16(to));
        QTRY_COMPARE(logLines(*m_form).value(1), QStringLiteral("读取设备 %1参数... ...").arg(to + 1));
        QCOMPARE(nextSent(*module, 1), QList<QByteArray>{frames::query(identity(to + 1), kParameters[0])});

        failRead();
        QCOMPARE(nextSent(*module, 2).size(), 2);
        click(*m_form, "Run_Device");
        QCOMPARE(logLines(*m_form).value(1), QStringLiteral("对设备 %1的复位运行成功。").arg(to + 1));
        QCOMPARE(nextSent(*module, 1), QList<QByteArray>{frames::resetAndRun(identity(to + 1))});
    }

    // Return and Enter, and a click, on the selected item read it again; with nothing selected
    // they do nothing at all.
    void pickSelectedAgain_data()
    {
        QTest::addColumn<int>("key"); // 0: a click
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
        QTest::newRow("click") << 0;
    }
    void pickSelectedAgain()
    {
        QFETCH(int, key);
        auto module = listenAsModule();
        listModules(3);
        auto* list = child<QListWidget>(*m_form, "Device_List");
        const auto pick = [&] {
            if (key)
                QTest::keyClick(list, Qt::Key(key));
            else
                clickDevice(*m_form, 1);
        };
        if (key) {
            const QStringList before = logLines(*m_form);
            pick();
            QCOMPARE(logLines(*m_form), before);
            QCOMPARE(m_form->operations().state().Op_Code, qint16(kOpScan));
        }
        readAndFail(1);
        QCOMPARE(nextSent(*module, 3).size(), 3);
        pick();
        QCOMPARE(logLines(*m_form).value(1), QStringLiteral("读取设备 2参数... ..."));
        QVERIFY(!list->isEnabled());
        QCOMPARE(nextSent(*module, 1), QList<QByteArray>{frames::query(identity(2), kParameters[0])});
    }

    // A right-click leaves the selection, the module addressed and the log as they are; the list
    // still gets the request for a context menu.
    void rightClickChangesNothing()
    {
        auto module = listenAsModule();
        listModules(3);
        auto* list = child<QListWidget>(*m_form, "Device_List");
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        int menus = 0;
        connect(list, &QWidget::customContextMenuRequested, this, [&menus] { ++menus; });
        readAndFail(0);
        QCOMPARE(nextSent(*module, 3).size(), 3);
        const QStringList before = logLines(*m_form);
        // Through the window, as the platform delivers a click, so that the context menu event
        // follows the press.
        for (int row : {1, 2}) {
            const QPoint at = list->viewport()->mapTo(m_form.get(), list->visualItemRect(list->item(row)).center());
            QTest::mouseClick(m_form->windowHandle(), Qt::RightButton, {}, at);
            QTest::mouseDClick(m_form->windowHandle(), Qt::RightButton, {}, at);
        }
        QVERIFY(menus >= 2);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(0)});
        QCOMPARE(logLines(*m_form), before);
        QCOMPARE(m_form->operations().state().Sel_Device, qint16(0));
        QTest::qWait(50);
        QVERIFY(receivedBy(*module).isEmpty());
    }

    // Reset and run removes the module; the list selects none of the others, of itself or by the
    // item that moves up, so a second press has no module to act on.
    void runLeavesNothingSelected()
    {
        auto module = listenAsModule();
        listModules(3);
        auto* list = child<QListWidget>(*m_form, "Device_List");
        readAndFail(1);
        QCOMPARE(nextSent(*module, 3).size(), 3);
        click(*m_form, "Run_Device");
        QCOMPARE(logLines(*m_form).value(1), QStringLiteral("对设备 2的复位运行成功。"));
        QCOMPARE(list->count(), 2);
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(nextSent(*module, 1), QList<QByteArray>{frames::resetAndRun(identity(2))});

        click(*m_form, "Run_Device");
        QCOMPARE(logLines(*m_form).mid(1), QStringList{QStringLiteral("没有选择设备！")});
        QCOMPARE(list->count(), 2);
        QTest::qWait(50);
        QVERIFY(receivedBy(*module).isEmpty());
    }

    // With no module selected, the three buttons that act on one write the same bare notice.
    void noSelectionEntry()
    {
        m_form->operations().Setting_Click();
        const QStringList lines = logLines(*m_form);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[1], QStringLiteral("没有选择设备！"));
    }

    // A whole scan that hears nothing: the begin entry, then the report appended under its own stamp.
    void scanLogAsShown()
    {
        Operations& ops = m_form->operations();
        auto* timer = m_form->findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(timer);
        ops.Scan_Click();
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 400);
        // Never early: a reply that comes within 400 ms is never counted as lost.
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        for (int expiry = 0; expiry < 4; ++expiry)
            ops.Timer1_Timer();
        QVERIFY(!timer->isActive());
        const QStringList lines = logLines(*m_form);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[1], QStringLiteral("计算机正在扫描网络中的设备... ..."));
        QCOMPARE(lines[4], QStringLiteral("未检查到网络中的设备！"));
        QCOMPARE(lines[5],
                 QStringLiteral("设备与计算机必须是在同一个交换机或路由器所支持的局域网内，不能经过路由器隔离。"
                                "请检查网络连接，重新操作！"));
        QVERIFY(!child(*m_form, "Device_List")->isEnabled());
    }

    // The log keeps its newest lines when entry after entry is appended.
    void logStaysBounded()
    {
        // Whatever stands in the log (typed into it, say) is followed by the next entry: the
        // oldest lines go.
        auto* log = child<QPlainTextEdit>(*m_form, "Help_Text");
        QStringList typed;
        for (int i = 0; i < 2 * MainForm::kLogLineLimit; ++i)
            typed << QStringLiteral("line %1").arg(i);
        log->setPlainText(typed.join(QLatin1Char('\n')));
        Operations& ops = m_form->operations();
        ops.state().Device_Count = 1;
        ops.state().Device_Table[0] = Device::fromDiscovery(QByteArray::fromHex("010203040506"), kAnyCard);
        ops.state().Op_Code = kOpScan;
        ops.state().Scan_Round = kScanBroadcasts; // the scan's last time-out: its report is appended
        ops.Timer1_Timer();
        const QStringList lines = logLines(*m_form);
        QCOMPARE(lines.size(), MainForm::kLogLineLimit);
        QCOMPARE(lines.last(), QStringLiteral("检测到 1个设备。"));
    }

    // Replies arriving back to back hold repaints, but never for long: the log still gets painted.
    void paintsUnderStreamOfReplies()
    {
        struct PaintCounter : QObject
        {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                paints += event->type() == QEvent::Paint;
                return false;
            }
        } counter;
        auto* log = child<QPlainTextEdit>(*m_form, "Help_Text");
        log->viewport()->installEventFilter(&counter);
        OperationState& state = m_form->operations().state();
        state.Device_Count = 1;
        state.Device_Table[0] = Device::fromDiscovery(QByteArray::fromHex("010203040506"), kAnyCard);
        state.Op_Code = kOpScan;
        // Each arrival comes after the scan's report, which changes the log.
        int fed = 0;
        QTimer feed;
        connect(&feed, &QTimer::timeout, m_form.get(), [this, &fed, &state] {
            ++fed;
            state.Scan_Round = kScanBroadcasts;
            m_form->operations().Timer1_Timer();
            emit m_form->endpoint().datagramArrived(QByteArray::fromHex("0102030405064f4b"), kAnyCard);
        });
        feed.start(1);
        const int paintsBefore = counter.paints;
        QTRY_VERIFY_WITH_TIMEOUT(counter.paints >= paintsBefore + 3 && fed >= 20, 10000);
        feed.stop();
    }

    void exitCancelChangesNothing()
    {
        auto module = listenAsModule();
        const QStringList logBefore = logLines(*m_form);
        QString text;
        QString title;
        answerNextMessageBox(QMessageBox::Cancel, &text, &title);
        click(*m_form, "Exit_Command");
        QCOMPARE(text, QStringLiteral("确认退出配置系统！"));
        QCOMPARE(title, QStringLiteral("退出"));
        QVERIFY(m_form->isVisible());
        QCOMPARE(logLines(*m_form), logBefore);
        QTest::qWait(50);
        QVERIFY(receivedBy(*module).isEmpty());
    }

    void exitConfirmedSendsNotice()
    {
        auto module = listenAsModule();
        answerNextMessageBox(QMessageBox::Ok);
        click(*m_form, "Exit_Command");
        QVERIFY(!m_form->isVisible());
        QCOMPARE(nextSent(*module, 1), QList<QByteArray>{frames::shutdownNotice()});
    }

    // The close box asks nothing and sends the notice once.
    void closeBoxSendsNotice()
    {
        auto module = listenAsModule();
        m_form->close();
        QVERIFY(!QApplication::activeModalWidget());
        QTRY_VERIFY(module->hasPendingDatagrams());
        const QList<QByteArray> received = receivedBy(*module);
        QCOMPARE(received, QList<QByteArray>{QByteArray::fromHex("ffffffffffff454e44")});
        m_form.reset();
        QTest::qWait(50);
        QVERIFY(receivedBy(*module).isEmpty());
    }

    // The window's import of each hostile file (the rows of tst_cli's bad-file test): refused in the
    // log with the cause, every field left as it was, nothing sent.
    void importOfHostileFileChangesNothing()
    {
        listModules(1);
        readModule(0);
        auto module = listenAsModule();
        QStringList before;
        for (Field which : kAllFields) {
            QWidget* widget = m_form->field(which);
            if (auto* box = qobject_cast<QComboBox*>(widget))
                box->setCurrentIndex(box->count() - 1);
            else
                qobject_cast<QLineEdit*>(widget)->setText(QStringLiteral("12"));
        }
        const auto fields = [this] {
            QStringList values;
            for (Field which : kAllFields) {
                QWidget* widget = m_form->field(which);
                auto* box = qobject_cast<QComboBox*>(widget);
                values << (box ? QString::number(box->currentIndex()) : qobject_cast<QLineEdit*>(widget)->text());
            }
            return values;
        };
        before = fields();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hostile.json"));
        m_form->parameterFiles().setFileChooser([&path](bool) { return path; });
        for (const HostileFile& file : hostileFiles()) {
            QVERIFY2(writeHostileFile(path, file), file.name);
            m_form->parameterFiles().importParameters();
            const QString last = logLines(*m_form).last();
            // The JSON parser's words are Qt's: in Chinese where Qt's translations are installed.
            QVERIFY2(last.startsWith(QStringLiteral("参数文件未导入，参数保持不变：") + path) &&
                         (last.contains(file.message) ||
                          last.contains(QCoreApplication::translate("QJsonParseError", qPrintable(file.message)))),
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(file.name), last)));
            QCOMPARE(fields(), before);
        }
        QTest::qWait(50);
        QVERIFY(receivedBy(*module).isEmpty());
    }

private:
    // Lists modules 1..n, as the replies to a scan do.
    void listModules(int n)
    {
        for (int i = 1; i <= n; ++i)
            m_form->operations().Winsock_DataArrival(discoveryReply(i));
    }
    // The read in progress hears nothing: its two retries and its failure, which gives the list
    // and Run_Device back.
    void failRead()
    {
        for (int expiry = 0; expiry < 3; ++expiry)
            m_form->operations().Timer1_Timer();
    }
    // Picks item `row` and answers every query as its module does.
    void readModule(int row)
    {
        clickDevice(*m_form, row);
        const OperationState& state = m_form->operations().state();
        while (m_form->operations().isBusy())
            m_form->operations().Winsock_DataArrival(moduleReply(sampleValue(state.Op_Code), row + 1));
    }
    void readAndFail(int row)
    {
        clickDevice(*m_form, row);
        failRead();
    }

    std::unique_ptr<MainForm> m_form;
    QList<QTranslator*> m_chinese; // what the window in Chinese installed: Qt's own texts
};

TARVIK_TEST_MAIN_GUI_NET(TestMainForm)
#include "tst_mainform.moc"
