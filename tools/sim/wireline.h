// The line the simulator prints for each datagram: time, direction, who, length, hex and printable ASCII.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

namespace tarvik::sim {

// "12:00:00.123 RX 10.0.0.1:65002 (5 B) 53 45 54 55 50 |SETUP|"; bytes outside 0x20-0x7E show as ".".
QString wireLine(const QTime& time, const QString& direction, const QString& who, const QByteArray& bytes);
QString printable(const QByteArray& bytes);

} // namespace tarvik::sim
