// The console, where Windows and Linux differ: how text reaches a console window, whether a stream
// is a terminal, and the console of a window program started from one.
#pragma once

#include <QString>

#include <cstdio>

class QIODevice;

namespace tarvik::console {

// The device behind standard output or standard error (`stream`), for a QTextStream: it takes
// UTF-8. On Linux it writes the bytes as they are. A Windows console window would read them in its
// own code page (437, 936, ...): there the text is handed over as Unicode and shows right whatever
// the code page; a file or a pipe gets the UTF-8 bytes. Windows starts a window program (such as
// tarvik.exe) without standard output even from a console: then the text goes to the console it was
// started from, if any.
QIODevice* device(FILE* stream);

// Prints `text` on `stream` (stdout or stderr) through device() and flushes.
void write(FILE* stream, const QString& text);

// Whether `stream` (stdout or stderr) is a terminal that shows the escape sequences a progress line
// redraws itself with: a tty, or a Windows console window (Windows 10 and later).
bool isTerminal(FILE* stream);

} // namespace tarvik::console
