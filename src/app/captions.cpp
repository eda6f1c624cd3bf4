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

QString cardsTip(const QList<Card>& cards)
{
    if (cards.isEmpty())
        return text(QT_TRANSLATE_NOOP("MainForm", "没有可以广播的网卡：扫描经由系统的路由发出。"));
    QString tip = text(QT_TRANSLATE_NOOP("MainForm", "扫描设备所经的网卡："));
    for (const Card& card : cards)
        tip += QLatin1Char('\n') + card.name + QStringLiteral("  ") + card.address;
    return tip;
}

} // namespace tarvik::captions
