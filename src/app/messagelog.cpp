#include "messagelog.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace tarvik::log {

QString timestamp()
{
    return QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
}

QString begin(const QString& stamp, const QString& message)
{
    return stamp + kLineBreak + message;
}

QString appendix(const QString& stamp, const QString& message)
{
    return kLineBreak + stamp + kLineBreak + message;
}

QString numbered(const char* before, int number, const char* after)
{
    const QString digits = number >= 0 ? QLatin1Char(' ') + QString::number(number) : QString::number(number);
    return QString::fromUtf8(before) + digits + QString::fromUtf8(after);
}

QString numbered(const char* before, int number, const char* after, const char* secondLine)
{
    return numbered(before, number, after) + kLineBreak + QString::fromUtf8(secondLine);
}

QString lines(std::initializer_list<const char*> parts)
{
    QStringList text;
    for (const char* part : parts)
        text << QString::fromUtf8(part);
    return text.join(kLineBreak);
}

} // namespace tarvik::log
