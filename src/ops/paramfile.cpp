#include "paramfile.h"

#include "ops/entries.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace tarvik::paramfile {

const Parameter* parameterNamed(const QString& name)
{
    for (const Parameter& p : kParameters) {
        if (name == QLatin1String(p.name))
            return &p;
    }
    return nullptr;
}

int largestNumber(Layout layout)
{
    return layoutOf(layout).largest;
}

namespace {

bool isAsciiDigits(QStringView text, int most)
{
    if (text.isEmpty() || text.size() > most)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Where each key of a file stands, and keys that occur twice in one object (which QJsonDocument
// would take silently, the last one winning). Runs on text that QJsonDocument has accepted.
struct KeyLines
{
    QHash<QString, int> lines;      // "outer key\ninner key" -> 1-based line
    QHash<QString, int> order;      // the same keys -> their place in the file, counted from 0
    QHash<QString, QByteArray> raw; // the same keys -> the text of a number value
    QString duplicate;              // message for the first duplicate key
};

KeyLines locateKeys(const QByteArray& json)
{
    struct Frame
    {
        QString name;
        QSet<QString> keys;
    };
    KeyLines result;
    QList<Frame> stack;
    QString pendingKey;
    int line = 1;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == '\n') {
            ++line;
        } else if (c == '{' || c == '[') {
            stack.append({c == '{' ? pendingKey : QString(), {}});
            pendingKey.clear();
        } else if (c == '}' || c == ']') {
            if (!stack.isEmpty())
                stack.removeLast();
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < json.size() && json.at(i) != '"'; ++i) {
                if (json.at(i) == '\\')
                    ++i;
            }
            qsizetype next = i + 1;
            while (next < json.size() && QByteArrayView(" \t\r\n").contains(json.at(next)))
                ++next;
            if (next >= json.size() || json.at(next) != ':' || stack.isEmpty()) {
                pendingKey.clear();
                continue;
            }
            const QByteArray raw = '[' + json.mid(start, i - start + 1) + ']';
            const QString key = QJsonDocument::fromJson(raw).array().at(0).toString();
            Frame& frame = stack.last();
            const QString path = frame.name + QLatin1Char('\n') + key;
            if (frame.keys.contains(key) && result.duplicate.isEmpty())
                result.duplicate = QStringLiteral("line %1: key \"%2\" occurs twice").arg(line).arg(key);
            frame.keys.insert(key);
            result.lines.insert(path, line);
            result.order.insert(path, static_cast<int>(result.order.size()));
            qsizetype value = next + 1;
            while (value < json.size() && QByteArrayView(" \t\r\n").contains(json.at(value)))
                ++value;
            qsizetype end = value;
            while (end < json.size() && QByteArrayView("+-.0123456789eE").contains(json.at(end)))
                ++end;
            if (end > value)
                result.raw.insert(path, json.mid(value, end - value));
            pendingKey = key;
        } else if (c != ':' && c != ' ' && c != '\t' && c != '\r' && c != ',') {
            pendingKey.clear();
        }
    }
    return result;
}

class Reader
{
public:
    explicit Reader(const KeyLines& lines) : m_lines(lines) {}

    QString error;

    std::optional<Values> module(const QString& outer, const QJsonObject& object)
    {
        if (object.isEmpty()) {
            fail(QString(), outer, QStringLiteral("names no parameter"));
            return std::nullopt;
        }
        // In the file's order (a QJsonObject holds its keys sorted): a refusal names the first bad
        // key as whoever wrote the file reads it.
        QStringList keys = object.keys();
        std::stable_sort(keys.begin(), keys.end(), [&](const QString& a, const QString& b) {
            return m_lines.order.value(outer + QLatin1Char('\n') + a) <
                   m_lines.order.value(outer + QLatin1Char('\n') + b);
        });
        Values values;
        for (const QString& key : std::as_const(keys)) {
            const Parameter* parameter = parameterNamed(key);
            if (!parameter) {
                fail(outer, key, QStringLiteral("unknown key; the keys are the window's field names"));
                return std::nullopt;
            }
            QString why;
            const QByteArray raw = m_lines.raw.value(outer + QLatin1Char('\n') + key);
            std::optional<frames::FieldValue> value = fromJson(*parameter, object.value(key), raw, &why);
            if (!value) {
                fail(outer, key, why);
                return std::nullopt;
            }
            values[static_cast<size_t>(indexOf(*parameter))] = value;
        }
        return values;
    }

    void fail(const QString& outer, const QString& key, const QString& why)
    {
        const int line = m_lines.lines.value(outer + QLatin1Char('\n') + key, 0);
        const QString where = line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
        error = QStringLiteral("%1key \"%2\": %3").arg(where, key, why);
    }

private:
    static std::optional<frames::FieldValue> fromJson(const Parameter& parameter, const QJsonValue& json,
                                                      const QByteArray& raw, QString* why)
    {
        if (json.isString())
            return valueFromText(parameter, json.toString(), why);
        if (parameter.isDropDown() && json.isDouble()) {
            const double number = json.toDouble();
            // A position is a plain whole number as written: not -0, 1e0, 2.5 or 01.
            const bool plain =
                !raw.isEmpty() && (raw == "0" || (raw.at(0) != '0' && isAsciiDigits(QString::fromLatin1(raw), 2)));
            if (!plain || !std::isfinite(number) || std::signbit(number) || number != std::floor(number) ||
                number >= parameter.entries.count) {
                *why = QStringLiteral("position out of range (0-%1)").arg(parameter.entries.count - 1);
                return std::nullopt;
            }
            frames::FieldValue value;
            value.index = static_cast<int>(number);
            return value;
        }
        *why = parameter.isDropDown() ? QStringLiteral("wrong type: an entry text or its position (a number)")
                                      : QStringLiteral("wrong type: the value is text (in quotes)");
        return std::nullopt;
    }

    const KeyLines& m_lines;
};

} // namespace

QString identityText(const QByteArray& identity)
{
    return QString::fromLatin1(identity.toHex().toUpper());
}

QByteArray identityFromText(const QString& text)
{
    if (text.size() != 2 * qsizetype{frames::kIdentitySize})
        return {};
    for (const QChar c : text) {
        if (!isAsciiDigits(QStringView(&c, 1), 1) && !QStringLiteral("abcdefABCDEF").contains(c))
            return {};
    }
    return QByteArray::fromHex(text.toLatin1());
}

QString valueText(const Parameter& parameter, const frames::FieldValue& value)
{
    if (!parameter.isDropDown())
        return value.text;
    if (value.index < 0 || value.index >= parameter.entries.count)
        return {};
    return QString::fromUtf8(entryTexts(parameter)[value.index]);
}

std::optional<frames::FieldValue> valueFromText(const Parameter& parameter, const QString& text, QString* error)
{
    frames::FieldValue value;
    if (parameter.isDropDown()) {
        const EntryTexts texts = entryTexts(parameter);
        for (int i = 0; i < texts.count; ++i) {
            if (text == QString::fromUtf8(texts[i])) {
                value.index = i;
                return value;
            }
        }
        QStringList entries;
        for (const char* entry : texts)
            entries << QString::fromUtf8(entry);
        *error = QStringLiteral("%1 is not an entry (%2)").arg(quoted(text), entries.join(QStringLiteral(", ")));
        return std::nullopt;
    }
    const LayoutRow& layout = layoutOf(parameter.layout);
    if (layout.runCount() > 1) {
        // An address: its numbers as the user writes them, each at most as long as its run.
        const QStringList parts = text.split(QLatin1Char(layout.separator));
        bool ok = parts.size() == layout.runCount();
        for (int i = 0; ok && i < layout.runCount(); ++i)
            ok = isAsciiDigits(parts[i], layout.runs[i].size()) && parts[i].toInt() <= layout.largest;
        if (!ok) {
            *error = QStringLiteral("%1 is not an address of four numbers 0-255").arg(quoted(text));
            return std::nullopt;
        }
    } else {
        const int largest = layout.largest;
        if (!isAsciiDigits(text, 5) || text.toInt() > largest) {
            *error = QStringLiteral("%1 is not a number 0-%2").arg(quoted(text)).arg(largest);
            return std::nullopt;
        }
    }
    value.text = text;
    return value;
}

bool sameValue(const Parameter& parameter, const frames::FieldValue& a, const frames::FieldValue& b)
{
    if (parameter.isDropDown())
        return a.index == b.index;
    const QStringList left = a.text.split(QLatin1Char('.'));
    const QStringList right = b.text.split(QLatin1Char('.'));
    if (left.size() != right.size())
        return false;
    for (qsizetype i = 0; i < left.size(); ++i) {
        bool leftOk = false, rightOk = false;
        if (left[i].toInt(&leftOk) != right[i].toInt(&rightOk) || !leftOk || !rightOk)
            return false;
    }
    return true;
}

QStringList unfitForFile(const Values& values)
{
    QStringList unfit;
    for (const Parameter& p : kParameters) {
        const auto& value = values[static_cast<size_t>(indexOf(p))];
        QString why;
        // The text the file would hold, through the import's own check.
        if (value && !valueFromText(p, valueText(p, *value), &why))
            unfit << QString::fromLatin1(p.name);
    }
    return unfit;
}

Result parse(const QByteArray& bytes)
{
    Result result;
    if (bytes.size() > kMaxFileSize) {
        result.error = QStringLiteral("larger than %1 bytes").arg(kMaxFileSize);
        return result;
    }
    if (bytes.isEmpty()) {
        result.error = QStringLiteral("the file is empty");
        return result;
    }
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
        result.error = QStringLiteral("byte %1 is a NUL character").arg(nul);
        return result;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)QString(utf8(bytes));
    if (utf8.hasError()) {
        result.error = QStringLiteral("not UTF-8 text");
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const QByteArray before = bytes.left(parseError.offset);
        const qsizetype lineStart = before.lastIndexOf('\n') + 1;
        result.error = QStringLiteral("line %1, column %2 (offset %3): bad JSON: %4")
                           .arg(before.count('\n') + 1)
                           .arg(parseError.offset - lineStart + 1)
                           .arg(parseError.offset)
                           .arg(parseError.errorString());
        return result;
    }
    if (!document.isObject()) {
        result.error = QStringLiteral("wrong type: the file holds one JSON object");
        return result;
    }
    const KeyLines lines = locateKeys(bytes);
    if (!lines.duplicate.isEmpty()) {
        result.error = lines.duplicate;
        return result;
    }
    const QJsonObject top = document.object();
    Reader reader(lines);
    if (top.isEmpty()) {
        result.error = QStringLiteral("names no parameter");
        return result;
    }
    bool keyed = true;
    for (auto it = top.begin(); it != top.end(); ++it)
        keyed = keyed && !identityFromText(it.key()).isEmpty();

    if (!keyed) {
        const std::optional<Values> values = reader.module(QString(), top);
        if (values)
            result.modules.append({QByteArray(), *values});
    } else {
        QSet<QByteArray> seen;
        for (auto it = top.begin(); it != top.end(); ++it) {
            const QByteArray identity = identityFromText(it.key());
            if (!it.value().isObject()) {
                reader.fail(QString(), it.key(), QStringLiteral("wrong type: an object of parameters"));
                break;
            }
            if (seen.contains(identity)) {
                reader.fail(QString(), it.key(), QStringLiteral("the identity occurs twice"));
                break;
            }
            seen.insert(identity);
            const std::optional<Values> values = reader.module(it.key(), it.value().toObject());
            if (!values)
                break;
            result.modules.append({identity, *values});
        }
    }
    if (!reader.error.isEmpty()) {
        result.modules.clear();
        result.error = reader.error;
    }
    return result;
}

Result load(const QString& path)
{
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    // Read one byte past the cap, so that a file that grows meanwhile is still refused.
    result = parse(file.size() > kMaxFileSize ? QByteArray(kMaxFileSize + 1, ' ') : file.read(kMaxFileSize + 1));
    if (!result.ok())
        result.error = QStringLiteral("%1: %2").arg(path, result.error);
    return result;
}

QByteArray write(const QList<ModuleValues>& modules)
{
    QStringList blocks;
    for (const ModuleValues& module : modules) {
        QStringList lines;
        for (const Parameter& p : kParameters) {
            const auto& value = module.values[static_cast<size_t>(indexOf(p))];
            if (!value || (p.isDropDown() && valueText(p, *value).isEmpty()))
                continue;
            lines
                << QStringLiteral("    %1: %2").arg(quoted(QString::fromLatin1(p.name)), quoted(valueText(p, *value)));
        }
        blocks << QStringLiteral("  %1: {\n%2\n  }")
                      .arg(quoted(identityText(module.identity)), lines.join(QStringLiteral(",\n")));
    }
    return (QStringLiteral("{\n") + blocks.join(QStringLiteral(",\n")) + QStringLiteral("\n}\n")).toUtf8();
}

const Values* valuesFor(const Result& file, const QByteArray& identity)
{
    for (const ModuleValues& module : file.modules) {
        if (module.identity.isEmpty() || module.identity == identity)
            return &module.values;
    }
    if (identity.isEmpty() && file.modules.size() == 1)
        return &file.modules.first().values;
    return nullptr;
}

} // namespace tarvik::paramfile
