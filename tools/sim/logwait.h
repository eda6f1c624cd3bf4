// The window's message log as a program that drives the window reads it (tarvik-demo-check, the
// end-to-end test bed): its last line, and a wait for a last line while the event loop runs.
#pragma once

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

namespace tarvik {

// The last line of the log (Help_Text) as the window shows it.
inline QString lastLogLine(const QWidget& form)
{
    const auto* log = form.findChild<QPlainTextEdit*>(QStringLiteral("Help_Text"));
    return log ? log->toPlainText().section(QLatin1Char('\n'), -1) : QString();
}

// Runs the event loop until the log's last line is `line` (looked at every 10 ms) or `timeoutMs`
// has passed; whether it is.
inline bool waitForLastLogLine(const QWidget& form, const QString& line, int timeoutMs = 5000)
{
    const auto done = [&] { return lastLogLine(form) == line; };
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(10);
    loop.exec();
    return done();
}

} // namespace tarvik
