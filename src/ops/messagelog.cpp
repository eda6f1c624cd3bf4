#include "messagelog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QStringBuilder>
#include <QStringList>

namespace tarvik::log {

QString text(const char* message)
{
    return QCoreApplication::translate("Message", message);
}

QString timestamp()
{
    const QLocale locale = QLocale::system();
    return locale.toString(QDateTime::currentDateTime(), timestampFormat(locale));
}

QString timestampFormat(const QLocale& locale)
{
    QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    // Letters between single quotes are literal text, not fields.
    bool quoted = false;
    qsizetype minutesStart = -1;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('s'))
            return format;
        else if (!quoted && c == QLatin1Char('m') && minutesStart < 0)
            minutesStart = i;
    }
    if (minutesStart < 0)
        return format;
    qsizetype minutesEnd = minutesStart;
    while (minutesEnd < format.size() && format.at(minutesEnd) == QLatin1Char('m'))
        ++minutesEnd;
    // The seconds follow the minutes with the separator that stands between hours and minutes.
    QChar separator = QLatin1Char(':');
    if (minutesStart > 0) {
        const QChar before = format.at(minutesStart - 1);
        if (!before.isLetter() && !before.isSpace() && before != QLatin1Char('\''))
            separator = before;
    }
    format.insert(minutesEnd, separator + QStringLiteral("ss"));
    return format;
}

QString begin(const QString& stamp, const QString& message)
{
    return stamp % kLineBreak % message;
}

QString appendix(const QString& stamp, const QString& message)
{
    return kLineBreak % stamp % kLineBreak % message;
}

QString numbered(const char* before, int number, const char* after)
{
    // The sign position of a non-negative number is a blank.
    const QLatin1StringView sign(number >= 0 ? " " : "");
    return text(before) % sign % QString::number(number) % text(after);
}

QString numbered(const char* before, int number, const char* after, const char* secondLine)
{
    return numbered(before, number, after) % kLineBreak % text(secondLine);
}

QString lines(std::initializer_list<const char*> parts)
{
    QStringList joined;
    for (const char* part : parts)
        joined << text(part);
    return joined.join(kLineBreak);
}

} // namespace tarvik::log
