#include "wireline.h"

namespace tarvik::sim {

QString printable(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<quint8>(byte);
        text += value >= 0x20 && value < 0x7F ? QChar(value) : QLatin1Char('.');
    }
    return text;
}

QString wireLine(const QTime& time, const QString& direction, const QString& who, const QByteArray& bytes)
{
    return QStringLiteral("%1 %2 %3 (%4 B) %5 |%6|")
        .arg(time.toString(QStringLiteral("HH:mm:ss.zzz")), direction, who)
        .arg(bytes.size())
        .arg(QString::fromLatin1(bytes.toHex(' ').toUpper()), printable(bytes));
}

} // namespace tarvik::sim
