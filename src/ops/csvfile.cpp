#include "csvfile.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>

#include <optional>

namespace tarvik::csvfile {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QString kIdColumn = QStringLiteral("id");

struct Cell
{
    QString text;
    int line = 0; // where the cell starts, counted from 1
};

using Row = QList<Cell>;

// Spreadsheets name their columns A, B, ..., Z, AA, ...: a message gives the number and the letters,
// and the column's name when it has one.
QString where(int line, int column, const char* name = nullptr)
{
    QString letters;
    for (int n = column; n > 0; n = (n - 1) / 26)
        letters.prepend(QLatin1Char(char('A' + (n - 1) % 26)));
    if (name)
        letters += QStringLiteral(", ") + QString::fromLatin1(name);
    return QStringLiteral("line %1, column %2 (%3)").arg(line).arg(column).arg(letters);
}

// The separator of the header line: the one of "," and ";" it has more of outside quotes.
QChar separatorOf(const QString& text)
{
    int commas = 0, semicolons = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char('\n') || c == QLatin1Char('\r')))
            break;
        else if (!quoted && c == QLatin1Char(','))
            ++commas;
        else if (!quoted && c == QLatin1Char(';'))
            ++semicolons;
    }
    return semicolons > commas ? QLatin1Char(';') : QLatin1Char(',');
}

// RFC 4180 records; a line ends with CRLF, LF or CR. Empty on a fault, with the message.
std::optional<QList<Row>> records(const QString& text, QChar separator, QString* error)
{
    QList<Row> rows;
    Row row;
    int line = 1;
    qsizetype i = 0;
    const qsizetype size = text.size();
    const auto atLineEnd = [&](qsizetype at) {
        return at < size && (text.at(at) == QLatin1Char('\n') || text.at(at) == QLatin1Char('\r'));
    };
    const auto skipLineEnd = [&] {
        if (text.at(i) == QLatin1Char('\r') && i + 1 < size && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        ++i;
        ++line;
    };
    while (i < size) {
        Cell cell;
        cell.line = line;
        const int column = static_cast<int>(row.size()) + 1;
        if (text.at(i) == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < size) {
                const QChar c = text.at(i);
                if (c == QLatin1Char('"')) {
                    if (i + 1 < size && text.at(i + 1) == QLatin1Char('"')) {
                        cell.text += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (c == QLatin1Char('\n') ||
                    (c == QLatin1Char('\r') && !(i + 1 < size && text.at(i + 1) == QLatin1Char('\n'))))
                    ++line;
                cell.text += c;
                ++i;
            }
            if (!closed) {
                *error = where(cell.line, column) + QStringLiteral(": the quote that opens the cell is not closed");
                return std::nullopt;
            }
            if (i < size && text.at(i) != separator && !atLineEnd(i)) {
                *error = where(line, column) + QStringLiteral(": text after the closing quote of the cell");
                return std::nullopt;
            }
        } else {
            while (i < size && text.at(i) != separator && !atLineEnd(i)) {
                if (text.at(i) == QLatin1Char('"')) {
                    *error = where(line, column) + QStringLiteral(": a quote inside a cell that does not begin "
                                                                  "with one (quote the whole cell, double the quote)");
                    return std::nullopt;
                }
                cell.text += text.at(i);
                ++i;
            }
        }
        row.append(cell);
        if (i >= size)
            break;
        if (text.at(i) == separator) {
            ++i;
            if (i >= size)
                row.append(Cell{QString(), line}); // the file ends with an empty cell
            continue;
        }
        rows.append(row);
        row.clear();
        skipLineEnd();
    }
    if (!row.isEmpty())
        rows.append(row);
    return rows;
}

bool isEmptyRow(const Row& row)
{
    for (const Cell& cell : row) {
        if (!cell.text.isEmpty())
            return false;
    }
    return true;
}

// The text of the file: UTF-8 (with or without a byte-order mark), else GB18030.
std::optional<QString> decoded(const QByteArray& bytes, QString* error)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        *error = QStringLiteral("UTF-16 text: save the sheet as CSV (UTF-8)");
        return std::nullopt;
    }
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
        *error = QStringLiteral("byte %1 is a NUL character").arg(nul);
        return std::nullopt;
    }
    const bool bom = bytes.startsWith(kUtf8Bom);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bom ? bytes.mid(kUtf8Bom.size()) : bytes);
    if (!utf8.hasError())
        return text;
    if (bom) {
        *error = QStringLiteral("not UTF-8 text, though it begins with UTF-8's byte-order mark");
        return std::nullopt;
    }
    QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
    if (!gb18030.isValid()) {
        *error = QStringLiteral("not UTF-8 text, and this build cannot read GB18030 (GBK): save the sheet as "
                                "CSV UTF-8");
        return std::nullopt;
    }
    text = gb18030(bytes);
    if (gb18030.hasError()) {
        *error = QStringLiteral("not UTF-8 text, nor GB18030 (GBK)");
        return std::nullopt;
    }
    return text;
}

// A cell's value: the JSON files' check of a text, and for a drop-down its position as well (a
// spreadsheet has no other way to give a number).
std::optional<frames::FieldValue> cellValue(const Parameter& parameter, const QString& text, QString* why)
{
    std::optional<frames::FieldValue> value = paramfile::valueFromText(parameter, text, why);
    if (value || !parameter.isDropDown())
        return value;
    // A plain whole number as written, as in the JSON files: not 01, +1 or 1.0.
    bool plain = !text.isEmpty() && text.size() <= 2 && (text.size() == 1 || text.front() != QLatin1Char('0'));
    for (const QChar c : text)
        plain = plain && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int position = plain ? text.toInt() : -1;
    if (plain && position < parameter.entries.count) {
        frames::FieldValue byPosition;
        byPosition.index = position;
        return byPosition;
    }
    *why += QStringLiteral(" nor a position (0-%1)").arg(parameter.entries.count - 1);
    return std::nullopt;
}

QString quotedCell(const QString& text, QChar separator)
{
    if (!text.contains(separator) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

} // namespace

bool isCsv(const QString& path)
{
    return path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
}

bool canDecodeGb18030()
{
    return QStringDecoder("GB18030").isValid();
}

namespace {

paramfile::Result parseWhole(const QByteArray& bytes)
{
    paramfile::Result result;
    if (bytes.size() > paramfile::kMaxFileSize) {
        result.error = QStringLiteral("larger than %1 bytes").arg(paramfile::kMaxFileSize);
        return result;
    }
    const std::optional<QString> text = decoded(bytes, &result.error);
    if (!text)
        return result;
    const QChar separator = separatorOf(*text);
    const std::optional<QList<Row>> rows = records(*text, separator, &result.error);
    if (!rows)
        return result;
    if (rows->isEmpty() || isEmptyRow(rows->first())) {
        result.error = bytes.isEmpty() ? QStringLiteral("the file is empty")
                                       : QStringLiteral("line 1: no header row (id and the window's field names)");
        return result;
    }

    // The header: which parameter each column holds, and where the identity is.
    const Row& header = rows->first();
    QList<const Parameter*> columns;
    int idColumn = -1;
    QSet<QString> named;
    for (int c = 0; c < header.size(); ++c) {
        const QString& name = header[c].text;
        const Parameter* parameter = paramfile::parameterNamed(name);
        const bool isId = name.compare(kIdColumn, Qt::CaseInsensitive) == 0;
        if (!name.isEmpty() && named.contains(isId ? kIdColumn : name)) {
            result.error = where(1, c + 1) + QStringLiteral(": \"%1\" names a column twice").arg(name);
            return result;
        }
        if (!name.isEmpty() && !parameter && !isId) {
            result.error =
                where(1, c + 1) + QStringLiteral(": \"%1\" is not a column; the columns are id and the window's field "
                                                 "names")
                                      .arg(name);
            return result;
        }
        named.insert(isId ? kIdColumn : name);
        if (isId)
            idColumn = c;
        columns << parameter;
    }

    QSet<QByteArray> seen;
    for (qsizetype r = 1; r < rows->size(); ++r) {
        const Row& row = rows->at(r);
        if (isEmptyRow(row))
            continue; // a blank line, or a row of empty cells the sheet carries along
        const int line = row.first().line;
        if (row.size() != header.size()) {
            result.error =
                QStringLiteral("line %1: %2 cells, the header row has %3").arg(line).arg(row.size()).arg(header.size());
            return result;
        }
        paramfile::ModuleValues module;
        if (idColumn < 0 && !result.modules.isEmpty()) {
            result.error =
                QStringLiteral("line %1: a second row, and no id column says which module each row is for").arg(line);
            return result;
        }
        if (idColumn >= 0) {
            const Cell& id = row[idColumn];
            module.identity = paramfile::identityFromText(id.text);
            if (module.identity.isEmpty()) {
                result.error = where(id.line, idColumn + 1, "id") +
                               QStringLiteral(": \"%1\" is not an identity (12 hexadecimal digits)").arg(id.text);
                return result;
            }
            if (seen.contains(module.identity)) {
                result.error = where(id.line, idColumn + 1, "id") + QStringLiteral(": the identity occurs twice");
                return result;
            }
            seen.insert(module.identity);
        }
        bool any = false;
        for (int c = 0; c < row.size(); ++c) {
            const Cell& cell = row[c];
            if (c == idColumn || cell.text.isEmpty())
                continue;
            if (!columns[c]) {
                result.error = where(cell.line, c + 1) + QStringLiteral(": a value in a column without a name");
                return result;
            }
            QString why;
            const std::optional<frames::FieldValue> value = cellValue(*columns[c], cell.text, &why);
            if (!value) {
                result.error = where(cell.line, c + 1, columns[c]->name) + QStringLiteral(": ") + why;
                return result;
            }
            module.values[static_cast<size_t>(indexOf(*columns[c]))] = value;
            any = true;
        }
        if (!any) {
            result.error = QStringLiteral("line %1: names no parameter").arg(line);
            return result;
        }
        result.modules.append(module);
    }
    if (result.modules.isEmpty())
        result.error = QStringLiteral("names no parameter: no row below the header");
    return result;
}

} // namespace

paramfile::Result parse(const QByteArray& bytes)
{
    paramfile::Result result = parseWhole(bytes);
    if (!result.ok())
        result.modules.clear(); // all or nothing
    return result;
}

paramfile::Result load(const QString& path)
{
    paramfile::Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    // As the JSON files: one byte past the cap, so that a file that grows meanwhile is still refused.
    result = parse(file.size() > paramfile::kMaxFileSize ? QByteArray(paramfile::kMaxFileSize + 1, ' ')
                                                         : file.read(paramfile::kMaxFileSize + 1));
    if (!result.ok()) {
        result.modules.clear();
        result.error = QStringLiteral("%1: %2").arg(path, result.error);
    }
    return result;
}

paramfile::Result loadAny(const QString& path)
{
    return isCsv(path) ? load(path) : paramfile::load(path);
}

QByteArray write(const QList<paramfile::ModuleValues>& modules)
{
    const QChar separator = QLatin1Char(',');
    QStringList header{kIdColumn};
    for (const Parameter& p : kParameters)
        header << QString::fromLatin1(p.name);
    QString text = header.join(separator) + QStringLiteral("\r\n");
    for (const paramfile::ModuleValues& module : modules) {
        QStringList cells{paramfile::identityText(module.identity)};
        for (const Parameter& p : kParameters) {
            const auto& value = module.values[static_cast<size_t>(indexOf(p))];
            cells << (value ? quotedCell(paramfile::valueText(p, *value), separator) : QString());
        }
        text += cells.join(separator) + QStringLiteral("\r\n");
    }
    return kUtf8Bom + text.toUtf8();
}

} // namespace tarvik::csvfile
