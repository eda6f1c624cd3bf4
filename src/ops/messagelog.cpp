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
    return QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
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
