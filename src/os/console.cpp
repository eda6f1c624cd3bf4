#include "console.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <QIODevice>
#include <QStringDecoder>

#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarvik::console {

#ifdef Q_OS_WIN

namespace {

HANDLE handleOf(FILE* stream)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        return handle;
    // A window program started from a console: no standard handles, the console of the parent.
    static const HANDLE parentConsole = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return INVALID_HANDLE_VALUE;
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }();
    return parentConsole;
}

bool consoleMode(HANDLE handle, DWORD* mode)
{
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, mode);
}

class ConsoleDevice : public QIODevice
{
public:
    explicit ConsoleDevice(FILE* stream) : m_stream(stream), m_handle(handleOf(stream))
    {
        DWORD mode = 0;
        m_console = consoleMode(m_handle, &mode);
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (!m_console) {
            const size_t written = std::fwrite(data, 1, static_cast<size_t>(size), m_stream);
            std::fflush(m_stream);
            return static_cast<qint64>(written);
        }
        // The decoder keeps a character cut between two writes for the next.
        const QString text = m_decoder(QByteArrayView(data, size));
        DWORD written = 0;
        WriteConsoleW(m_handle, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr);
        return size;
    }

private:
    FILE* m_stream;
    HANDLE m_handle;
    bool m_console = false;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

QIODevice* makeDevice(FILE* stream)
{
    return new ConsoleDevice(stream);
}

} // namespace

bool isTerminal(FILE* stream)
{
    const HANDLE handle = handleOf(stream);
    DWORD mode = 0;
    if (!consoleMode(handle, &mode))
        return false;
    // Escape sequences are shown once asked for; a console that cannot (before Windows 10) would
    // print them as text.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
}

#else

namespace {

QIODevice* makeDevice(FILE* stream)
{
    auto* file = new QFile;
    file->open(stream, QIODevice::WriteOnly);
    return file;
}

} // namespace

bool isTerminal(FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

#endif

QIODevice* device(FILE* stream)
{
    // One per stream, kept to the very end: a QTextStream that outlives main() flushes into it.
    if (stream == stderr) {
        static QIODevice* const err = makeDevice(stderr);
        return err;
    }
    static QIODevice* const out = makeDevice(stdout);
    return out;
}

void write(FILE* stream, const QString& text)
{
    QIODevice* const out = device(stream);
    out->write(text.toUtf8());
    if (auto* file = qobject_cast<QFile*>(out))
        file->flush();
}

} // namespace tarvik::console
