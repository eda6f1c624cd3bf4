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
        {"deep arrays", QByteArray("{\"S_IP\": ") + QByteArray(100000, '['),
         QStringLiteral("too deeply nested document")},
        {"deep objects", deepObjects, QStringLiteral("too deeply nested document")},
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

// CSV files as a spreadsheet, or a hand, gets them wrong: tst_cli gives each to tarvik-cli write
// (refused, nothing sent), tst_plant to the reader. The message names the line and the cell.
inline QList<HostileFile> hostileCsvFiles()
{
    const QByteArray header = "id,S_IP,Ch1_Port_Number\r\n";
    return {
        {"CSV: empty", QByteArray(), QStringLiteral("the file is empty")},
        {"CSV: 100 MB", QByteArray(), QStringLiteral("larger than 1048576 bytes"), 100 * 1024 * 1024},
        {"CSV: quote not closed", header + "001A2B3C4D5E,\"10.0.0.5,4001\r\n",
         QStringLiteral("line 2, column 2 (B): the quote that opens the cell is not closed")},
        {"CSV: text after a closing quote", header + "001A2B3C4D5E,\"10.0.0.5\"x,4001\r\n",
         QStringLiteral("line 2, column 2 (B): text after the closing quote")},
        {"CSV: quote inside a cell", header + "001A2B3C4D5E,10\"0,4001\r\n",
         QStringLiteral("line 2, column 2 (B): a quote inside a cell")},
        {"CSV: bad cell on line 3", header + "001A2B3C4D5E,10.0.0.5,4001\r\n001A2B3C4D5F,10.0.0.6,70000\r\n",
         QStringLiteral("line 3, column 3 (C, Ch1_Port_Number): \"70000\" is not a number 0-65535")},
        {"CSV: a cell over two lines", header + "\"001A2B3C4D5E\",\"10.0.0.5\",\"4\n1\"\r\n",
         QStringLiteral("line 2, column 3 (C, Ch1_Port_Number): \"4\\n1\" is not a number")},
        {"CSV: unknown column", "id;S_IP;Baud\n001A2B3C4D5E;10.0.0.5;3\n",
         QStringLiteral("line 1, column 3 (C): \"Baud\" is not a column")},
        {"CSV: column twice", "id,S_IP,S_IP\n001A2B3C4D5E,10.0.0.5,10.0.0.6\n",
         QStringLiteral("line 1, column 3 (C): \"S_IP\" names a column twice")},
        {"CSV: a cell too many", header + "001A2B3C4D5E,10.0.0.5,4001,\r\n",
         QStringLiteral("line 2: 4 cells, the header row has 3")},
        {"CSV: not an identity", header + "001A2B3C4D5,10.0.0.5,4001\r\n",
         QStringLiteral("line 2, column 1 (A, id): \"001A2B3C4D5\" is not an identity")},
        {"CSV: one module twice", header + "001A2B3C4D5E,10.0.0.5,\r\n001a2b3c4d5e,,4001\r\n",
         QStringLiteral("line 3, column 1 (A, id): the identity occurs twice")},
        {"CSV: two rows, no id", "S_IP\n10.0.0.5\n10.0.0.6\n",
         QStringLiteral("line 3: a second row, and no id column")},
        {"CSV: a module without a value", header + "001A2B3C4D5E,,\r\n", QStringLiteral("line 2: names no parameter")},
        {"CSV: header alone", header, QStringLiteral("names no parameter")},
        {"CSV: no entry, no position", "UART_BaudRate\n9\n",
         QStringLiteral("line 2, column 1 (A, UART_BaudRate): \"9\" is not an entry (1200bps, 2400bps, 4800bps, "
                        "9600bps, 19200bps, 38400bps, 57600bps, 115200bps, 300000bps) nor a position (0-8)")},
        {"CSV: NUL", QByteArray("S_IP\n10.0.0.5\0\n", 15), QStringLiteral("byte 13 is a NUL character")},
        {"CSV: UTF-16", QByteArray("\xFF\xFES\0_\0I\0P\0", 10), QStringLiteral("UTF-16 text")},
        {"CSV: neither UTF-8 nor GB18030", "id,Ch1_SOCK_Mode\n001A2B3C4D5E,TCP\xFF\n",
         QStringLiteral("not UTF-8 text")},
        {"CSV: a value under no name", "id,S_IP,\n001A2B3C4D5E,10.0.0.5,x\n",
         QStringLiteral("line 2, column 3 (C): a value in a column without a name")},
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
