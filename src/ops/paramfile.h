// Parameter files: a module's parameters as JSON, keyed by the window's field names, with the values
// as the window shows them. The window's export and import and the command-line program read and
// write the same files; everything about the keys and values is derived from the parameter table.
//
// Two forms are read:
//   { "UART_BaudRate": "9600bps", "S_IP": "192.168.1.101", ... }         one set, for any module
//   { "001A2B3C4D5E": { "UART_BaudRate": "9600bps", ... }, ... }         one set per identity
// and the second is written. A file names all parameters or only some of them.
#pragma once

#include "link/catalogue.h"
#include "link/frames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace tarvik::paramfile {

// Files larger than this are refused unread: a module's 28 values take about 1 KB.
inline constexpr qint64 kMaxFileSize = qint64{1024} * 1024;

// The values of one module; a field without a value is not named in the file (or was not read).
using Values = std::array<std::optional<frames::FieldValue>, kFieldCount>;

struct ModuleValues
{
    QByteArray identity; // 6 bytes; empty for the form without identities
    Values values;
};

struct Result
{
    QList<ModuleValues> modules; // in the order of their keys' text (not the file's order)
    QString error;               // empty when the file was taken
    bool ok() const { return error.isEmpty(); }
};

// Reads a file's bytes. On any fault the result holds no module and a message that names the key
// and its line, or the position of a syntax error.
Result parse(const QByteArray& bytes);
// Reads a file from disk (size cap, then parse()). Messages start with the file name.
Result load(const QString& path);

// The parameter whose field has this name (the key of a file, the FIELD of --set); nullptr when none has.
const Parameter* parameterNamed(const QString& name);
// The largest number a text field takes (an address: each of its numbers), as its layout has it.
int largestNumber(Layout layout);

// The text a value has in a file: a drop-down's entry text as the table holds it (untranslated),
// a text field's text. Empty for a drop-down without a valid position.
QString valueText(const Parameter& parameter, const frames::FieldValue& value);
// Checks one value as a file gives it, as text; the error names what is wrong, not the key.
std::optional<frames::FieldValue> valueFromText(const Parameter& parameter, const QString& text, QString* error);

// Whether two values of a parameter are the same setting: a drop-down's position, a number's value
// (a module answers with leading zeros: 7000 is 07000), an address's four numbers.
bool sameValue(const Parameter& parameter, const frames::FieldValue& a, const frames::FieldValue& b);

// The names of the fields, in table order, whose values a file cannot hold: an empty field, a
// drop-down without an entry, or a value that the import (valueFromText()) refuses. What is written
// while none is named is a file that the window's import and write --from take back whole.
QStringList unfitForFile(const Values& values);

// The file for these modules, keyed by identity, fields in table order; UTF-8 with a final newline.
QByteArray write(const QList<ModuleValues>& modules);
// The 12 upper-case hexadecimal digits of an identity, and back (empty when not 12 hex digits).
QString identityText(const QByteArray& identity);
QByteArray identityFromText(const QString& text);

// The values of `identity` in a parsed file: its own set, or the set without identity, or the
// only set of a file with one identity when `identity` is empty. nullptr when there is none.
const Values* valuesFor(const Result& file, const QByteArray& identity);

} // namespace tarvik::paramfile
