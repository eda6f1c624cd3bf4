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

// The resident memory of a soak: after its tenth cycle and at its end, so that what a cycle leaves
// behind shows as growth between the two.
struct SoakMemory
{
    long afterTenKb = -1;
    long endKb = -1;

    // After every cycle, with the number of cycles done.
    void cycleDone(int cycles)
    {
        if (cycles == 10)
            afterTenKb = statusKb("VmRSS");
    }
    void end() { endKb = statusKb("VmRSS"); }
    // The figure at the end, or now while the soak runs.
    long nowKb() const { return endKb >= 0 ? endKb : statusKb("VmRSS"); }
    long grownKb() const { return endKb - afterTenKb; }
};

} // namespace tarvik::test
