#include "output.h"

#include "os/console.h"

#include <QJsonDocument>

#include <cstdio>

namespace tarvik::cli {

QTextStream& out()
{
    static QTextStream stream(console::device(stdout));
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(console::device(stderr));
    return stream;
}

void complain(const QString& text)
{
    err() << "tarvik-cli: " << text << Qt::endl;
}

void printJson(const QJsonObject& object)
{
    out() << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)) << Qt::flush;
}

std::optional<QString> printable(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c < 0x20 || c > 0x7E)
            return std::nullopt;
    }
    return QString::fromLatin1(bytes);
}

QString frameText(const QByteArray& frame)
{
    QString text;
    for (const char c : frame) {
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c >= 0x20 && c < 0x7F && c != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

Progress::Progress() : m_on(console::isTerminal(stderr))
{
    m_clock.start();
}

Progress::~Progress()
{
    clear();
}

void Progress::show(int done, int total, const std::function<QString()>& stage)
{
    if (!m_on || (m_shown && m_clock.elapsed() < 100 && done < total))
        return;
    m_clock.restart();
    m_shown = true;
    err() << "\r\x1b[K" << done << '/' << total << " modules  " << stage() << Qt::flush;
}

void Progress::clear()
{
    if (m_on && m_shown)
        err() << "\r\x1b[K" << Qt::flush;
    m_shown = false;
}

} // namespace tarvik::cli
