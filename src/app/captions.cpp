#include "captions.h"

#include <QCoreApplication>

namespace tarvik::captions {

QString text(const char* caption)
{
    return QCoreApplication::translate("MainForm", caption);
}

QString addressCaption(const QString& address, quint16 port)
{
    return text(QT_TRANSLATE_NOOP("MainForm", "本机IP地址：")) + address +
           text(QT_TRANSLATE_NOOP("MainForm", "    端口号：")) + QLatin1Char(' ') + QString::number(port);
}

} // namespace tarvik::captions
