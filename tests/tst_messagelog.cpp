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

    // The locale's short date-time form, with seconds added after the minutes (with the same
    // separator) where it has none.
    void timestampFormat_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("time");        // the time as the locale's short form shows it
        QTest::addColumn<QString>("withSeconds"); // and as the log's time stamp shows it
        QTest::newRow("Chinese") << QLocale(QLocale::Chinese, QLocale::China) << QStringLiteral("13:29")
                                 << QStringLiteral("13:29:05");
        QTest::newRow("US English, 12 hours")
            << QLocale(QLocale::English, QLocale::UnitedStates) << QStringLiteral("1:29") << QStringLiteral("1:29:05");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << QStringLiteral("13:29")
                                << QStringLiteral("13:29:05");
        QTest::newRow("Finnish, dot") << QLocale(QLocale::Finnish, QLocale::Finland) << QStringLiteral("13.29")
                                      << QStringLiteral("13.29.05");
    }
    void timestampFormat()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, time);
        QFETCH(QString, withSeconds);
        const QDateTime at(QDate(2026, 12, 7), QTime(13, 29, 5));
        const QString shortForm = locale.toString(at, QLocale::ShortFormat);
        QVERIFY2(shortForm.contains(time) && !shortForm.contains(withSeconds), qPrintable(shortForm));
        QString expected = shortForm;
        expected.replace(time, withSeconds);
        QCOMPARE(locale.toString(at, log::timestampFormat(locale)), expected);
    }

    // The example of the Chinese locale in full.
    void chineseTimestamp()
    {
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        const QDateTime at(QDate(2026, 12, 7), QTime(13, 29, 5));
        QCOMPARE(chinese.toString(at, log::timestampFormat(chinese)), QStringLiteral("2026/12/7 13:29:05"));
    }

    void timestampIsSystemFormWithSeconds()
    {
        const QLocale system = QLocale::system();
        const QString before = system.toString(QDateTime::currentDateTime(), log::timestampFormat(system));
        const QString stamp = log::timestamp();
        const QString after = system.toString(QDateTime::currentDateTime(), log::timestampFormat(system));
        QVERIFY2(stamp == before || stamp == after, qPrintable(stamp));
        QVERIFY(!stamp.contains(QLatin1Char('\n')));
        QVERIFY(log::timestampFormat(system).contains(QLatin1Char('s')));
    }
};

TARVIK_TEST_MAIN(TestMessageLog)
#include "tst_messagelog.moc"
