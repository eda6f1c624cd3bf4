// The log's three ways of writing and the device-number texts.
#include "ops/messagelog.h"
#include "ops/messages.h"
#include "support/testmain.h"

#include <QDateTime>
#include <QLocale>

using namespace tarvik;

class TestMessageLog : public QObject
{
    Q_OBJECT

private slots:
    void numbered_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first device") << 1 << QStringLiteral("读取设备 1参数... ...");
        QTest::newRow("two digits") << 12 << QStringLiteral("读取设备 12参数... ...");
        QTest::newRow("largest table") << 254 << QStringLiteral("读取设备 254参数... ...");
        // A negative number takes the sign position instead of the blank.
        QTest::newRow("negative") << -1 << QStringLiteral("读取设备-1参数... ...");
    }
    void numbered()
    {
        QFETCH(int, number);
        QFETCH(QString, expected);
        QCOMPARE(log::numbered(msg::kReadDevice, number, msg::kReadStarts), expected);
    }

    void numberedSecondLine()
    {
        QCOMPARE(log::numbered(msg::kReadDevice, 3, msg::kParamsFailed, msg::kCheckAndRetry),
                 QStringLiteral("读取设备 3参数不成功！\r\n请检查计算机与设备之间的网络连接，重新操作！"));
    }

    void beginAndAppend()
    {
        QString text = log::begin(QStringLiteral("T1"), QStringLiteral("first"));
        QCOMPARE(text, QStringLiteral("T1\r\nfirst"));
        text += log::appendix(QStringLiteral("T2"), QStringLiteral("second\r\nthird"));
        QCOMPARE(text, QStringLiteral("T1\r\nfirst\r\nT2\r\nsecond\r\nthird"));
        QVERIFY(!text.endsWith(QLatin1Char('\n')));
    }

    void lines()
    {
        QCOMPARE(log::lines({"a", "b", "c"}), QStringLiteral("a\r\nb\r\nc"));
        QCOMPARE(log::lines({"only"}), QStringLiteral("only"));
    }

    void timestampIsSystemShortForm()
    {
        const QString before = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
        const QString stamp = log::timestamp();
        const QString after = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
        QVERIFY2(stamp == before || stamp == after, qPrintable(stamp));
        QVERIFY(!stamp.contains(QLatin1Char('\n')));
    }
};

TARVIK_TEST_MAIN(TestMessageLog)
#include "tst_messagelog.moc"
