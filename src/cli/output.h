// What tarvik-cli prints: results on standard output (text or JSON), complaints and progress on
// standard error.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QTextStream>

#include <functional>
#include <optional>

namespace tarvik::cli {

QTextStream& out();
QTextStream& err();

// One line on standard error: "tarvik-cli: TEXT".
void complain(const QString& text);
void printJson(const QJsonObject& object);

// Bytes as text when every one is printable ASCII; nothing otherwise.
std::optional<QString> printable(const QByteArray& bytes);
// Frame bytes for people: printable ASCII as it is, the rest as \xHH (CR as \r).
QString frameText(const QByteArray& frame);

// Progress on standard error, only while it is a terminal, at most ten times a second.
class Progress
{
public:
    Progress();
    ~Progress();

    void show(int done, int total, const std::function<QString()>& stage);
    void clear();

private:
    bool m_on;
    bool m_shown = false;
    QElapsedTimer m_clock;
};

} // namespace tarvik::cli
