// Reading this process's own memory figures.
#pragma once

#include <QByteArray>
#include <QFile>

namespace tarvik::test {

// A value of /proc/self/status in kB ("VmHWM" is the peak resident set, "VmRSS" the current one);
// -1 when it cannot be read.
inline long statusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace tarvik::test
