// Parameter files built to hurt, shared by the command-line program's bad-file test and the
// window's import test: each one must be refused with a message that names the cause.
#pragma once

#include "ops/paramfile.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace tarvik::test {

struct HostileFile
{
    const char* name;
    QByteArray content; // ignored when `size` is set
    QString message;    // part of the refusal
    qint64 size = 0;    // a file of this many bytes, made sparse at test time
};

inline QList<HostileFile> hostileFiles()
{
    const QByteArray deepObjects = QByteArray("{\"a\":").repeated(5000) + "1" + QByteArray(5000, '}');
    return {
        {"empty", QByteArray(), QStringLiteral("the file is empty")},
        {"100 MB", QByteArray(), QStringLiteral("larger than 1048576 bytes"), 100 * 1024 * 1024},
        {"deep arrays", QByteArray("{\"S_IP\": ") + QByteArray(100000, '['), QStringLiteral("too deeply nested")},
        {"deep objects", deepObjects, QStringLiteral("too deeply nested")},
        {"nested within the limit", QByteArray("{\"S_IP\": ") + QByteArray(200, '[') + QByteArray(200, ']') + "}",
         QStringLiteral("key \"S_IP\": wrong type")},
        {"not UTF-8", QByteArray("{\"Ch1_SOCK_Mode\": \"TCP\xb7\xfe\xce\xf1\xc6\xf7\"}"), QStringLiteral("not UTF-8")},
        {"duplicate key", QByteArray("{\"S_IP\": \"1.2.3.4\",\n \"S_IP\": \"1.2.3.5\"}"),
         QStringLiteral("line 2: key \"S_IP\" occurs twice")},
        {"one module twice",
         QByteArray("{\"001a2b3c4d5e\": {\"S_IP\": \"1.2.3.4\"},\n \"001A2B3C4D5E\": {\"S_IP\": \"1.2.3.5\"}}"),
         QStringLiteral("the identity occurs twice")},
        {"1e999", QByteArray("{\"UART_Bits\": 1e999}"), QStringLiteral("line 1, column 20 (offset 19): bad JSON")},
        {"-0", QByteArray("{\"UART_Bits\": -0}"), QStringLiteral("key \"UART_Bits\": position out of range")},
        {"-0 in a text field", QByteArray("{\"Ch1_D_Port\": -0}"), QStringLiteral("key \"Ch1_D_Port\": wrong type")},
        {"NUL", QByteArray("{\"S_IP\": \"1.2.3.4\0\"}", 21), QStringLiteral("byte 17 is a NUL character")},
        {"escaped NUL", QByteArray("{\"S_IP\": \"1.2.3.4\\u0000\"}"),
         QStringLiteral("key \"S_IP\": \"1.2.3.4\\u0000\"")},
        {"Chinese address", QStringLiteral("{\"S_IP\": \"一.二.三.四\"}").toUtf8(),
         QStringLiteral("key \"S_IP\": \"一.二.三.四\" is not an address")},
        {"the first bad key as written", QByteArray("{\"S_IP\": \"1.2.3\", \"G_IP\": \"1.2.3\"}"),
         QStringLiteral("key \"S_IP\": \"1.2.3\" is not an address")},
        {"full-width digits", QStringLiteral("{\"G_IP\": \"１９２.1.1.1\"}").toUtf8(),
         QStringLiteral("key \"G_IP\": \"１９２.1.1.1\" is not an address")},
    };
}

// Writes the file at `path`; the large one is extended without writing its bytes.
inline bool writeHostileFile(const QString& path, const HostileFile& file)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.size > 0)
        return out.resize(file.size);
    return out.write(file.content) == file.content.size();
}

} // namespace tarvik::test
