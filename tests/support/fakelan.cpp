#include "fakelan.h"

#include "ops/decode.h"
#include "support/fakes.h"

#include <QRegularExpression>
#include <QStringList>

namespace tarvik::test {

namespace {

// The simulator's key of a request: "GA?" a query, "SR1=" a setting, "DF", "END", "SETUP".
QByteArray keyOf(const QByteArray& frame)
{
    if (frame == frames::discovery())
        return "SETUP";
    const QByteArray tail = frame.mid(frames::kIdentitySize);
    if (tail == "END")
        return "END";
    if (tail == "ATDF\r")
        return "DF";
    if (!tail.startsWith("AT") || tail.size() < 5)
        return {};
    QByteArray code = tail.mid(2, 2);
    if (tail.size() > 4 && tail[4] >= '1' && tail[4] <= '9')
        code += tail[4];
    return code + (tail.contains('=') ? "=" : "?");
}

// A setting's value as the module stores it: in its fixed-width form; empty when it refuses it.
QByteArray stored(const Parameter& p, const QByteArray& text)
{
    bool ok = false;
    switch (p.layout) {
    case Layout::Digit:
    case Layout::ZeroDigit: {
        const int v = text.size() == 1 ? text[0] - p.base : -1;
        return v >= 0 && v < p.entries.count ? QByteArray("0") + text : QByteArray();
    }
    case Layout::Number4:
    case Layout::Number5: {
        const int v = text.toInt(&ok);
        if (!ok || v < 0 || v > 65535 || text.size() > 5)
            return {};
        return QByteArray::number(v).rightJustified(5, '0');
    }
    case Layout::Address: {
        const QList<QByteArray> parts = text.split('.');
        QByteArray result;
        if (parts.size() != 4)
            return {};
        for (const QByteArray& part : parts) {
            const int v = part.toInt(&ok);
            if (!ok || v < 0 || v > 255)
                return {};
            result += (result.isEmpty() ? "" : ".") + QByteArray::number(v).rightJustified(3, '0');
        }
        return result;
    }
    }
    return {};
}

} // namespace

FakeModule FakeModule::number(int n)
{
    FakeModule m;
    m.identity = test::identity(n);
    for (const Parameter& p : kParameters) {
        const int i = indexOf(p);
        QByteArray& value = m.holds[static_cast<size_t>(i)];
        switch (p.layout) {
        case Layout::Digit:
        case Layout::ZeroDigit:
            value = QByteArray("0") + static_cast<char>(p.base + (n * 7 + i * 3) % p.entries.count);
            break;
        case Layout::Number4:
            value = QByteArray("0") + QByteArray::number(1000 + (n * 131 + i * 17) % 9000);
            break;
        case Layout::Number5:
            value = QByteArray::number(10000 + (n * 977 + i * 31) % 55000);
            break;
        case Layout::Address:
            value = QStringLiteral("%1.%2.%3.%4")
                        .arg(n % 256, 3, 10, QLatin1Char('0'))
                        .arg(i, 3, 10, QLatin1Char('0'))
                        .arg(n * 13 % 256, 3, 10, QLatin1Char('0'))
                        .arg(i * 7 % 256, 3, 10, QLatin1Char('0'))
                        .toLatin1();
            break;
        }
    }
    m.factory = m.holds;
    m.discovery = m.identity + m.value("S_IP") + "/V3.1";
    return m;
}

frames::FieldValue FakeModule::held(const Parameter& parameter) const
{
    const decode::Value v = decode::reply(parameter, identity + holds[static_cast<size_t>(indexOf(parameter))]);
    return {v.kind == decode::Value::Entry ? v.entry : -1, v.kind == decode::Value::Text ? v.text : QString()};
}

const Parameter* parameterOfFrame(const QByteArray& frame)
{
    const QByteArray id = frame.left(frames::kIdentitySize);
    for (const Parameter& p : kParameters) {
        const QByteArray setting = id + "AT" + p.code + (p.channel ? QByteArray(1, p.channel) : QByteArray()) + "=";
        if (frame == frames::query(id, p) || frame.startsWith(setting))
            return &p;
    }
    return nullptr;
}

bool showsAll(const FakePanel& panel, const FakeModule& module)
{
    for (const Parameter& p : kParameters) {
        const frames::FieldValue held = module.held(p);
        const Field field = fieldOf(p);
        if (p.isDropDown() ? panel.comboIndex(field) != held.index : panel.fieldText(field) != held.text) {
            qWarning("%s does not show the module's value", p.name);
            return false;
        }
    }
    return true;
}

QByteArray FakeModule::answer(const QByteArray& frame)
{
    const QByteArray head = leavesIdentityOut ? QByteArray(frames::kIdentitySize, '\0') : identity;
    if (frame == frames::discovery())
        return discovery;
    if (!frame.startsWith(identity))
        return {};
    const QByteArray tail = frame.mid(frames::kIdentitySize);
    if (tail == "ATDF\r") {
        holds = factory;
        return head + "OK";
    }
    const Parameter* p = parameterOfFrame(frame);
    if (!p)
        return {};
    const int eq = tail.indexOf('=');
    if (eq < 0)
        return head + holds[static_cast<size_t>(indexOf(*p))];
    const QByteArray value = stored(*p, tail.mid(eq + 1, tail.size() - eq - 2));
    if (value.isEmpty())
        return head + "ER";
    holds[static_cast<size_t>(indexOf(*p))] = value;
    return head + "OK";
}

QList<Fault> faults(const QString& script)
{
    QList<Fault> result;
    static const QRegularExpression kRule(QStringLiteral("^(drop|discovery|copy|\\d+):([A-Z0-9?=]+)(?:#(\\d+))?$"));
    for (const QString& token : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = kRule.match(token);
        Q_ASSERT_X(m.hasMatch(), "faults", qPrintable(token));
        Fault f;
        f.kind = m.captured(1) == QLatin1String("drop")        ? Fault::Drop
                 : m.captured(1) == QLatin1String("discovery") ? Fault::Discovery
                 : m.captured(1) == QLatin1String("copy")      ? Fault::Copy
                                                               : Fault::Delay;
        f.ms = f.kind == Fault::Delay ? m.captured(1).toInt() : 0;
        f.key = m.captured(2).toLatin1();
        f.occurrence = m.captured(3).toInt();
        result.append(f);
    }
    return result;
}

void FakeLan::schedule(qint64 at, const QByteArray& datagram, int onCard)
{
    qsizetype i = m_inFlight.size();
    while (i > 0 && m_inFlight[i - 1].at > at)
        --i;
    m_inFlight.insert(i, {at, datagram, onCard});
}

bool FakeLan::send(const QByteArray& frame, int)
{
    sent.append(frame);
    const QByteArray key = keyOf(frame);
    const int occurrence = ++m_seen[key];
    for (FakeModule& module : modules) {
        for (int copy = 0; copy < (copiesEverything ? 2 : 1); ++copy) {
            QByteArray reply = module.answer(frame);
            if (reply.isEmpty())
                continue;
            qint64 at = m_now + kLatencyMs;
            bool dropped = false;
            bool copied = copiesEverything;
            for (const Fault& f : std::as_const(rules)) {
                if (f.key != key || (f.occurrence != 0 && f.occurrence != occurrence))
                    continue;
                if (f.kind == Fault::Drop)
                    dropped = true;
                else if (f.kind == Fault::Copy)
                    copied = true;
                else if (f.kind == Fault::Discovery)
                    reply = module.discovery;
                else
                    at = m_now + f.ms;
            }
            m_random = m_random * 1103515245u + 12345u;
            if (dropped || (lossPercent > 0 && (m_random >> 16) % 100 < static_cast<quint32>(lossPercent)))
                continue;
            schedule(at, reply, card);
            if (copied)
                schedule(at, reply, card);
        }
    }
    return true;
}

void FakeLan::inject(const QByteArray& datagram, qint64 atMs, int onCard)
{
    schedule(atMs, datagram, onCard);
}

void FakeLan::run(const std::function<void(const QByteArray&, int)>& deliver, const std::function<void()>& expire,
                  qint64 untilMs)
{
    for (int guard = 0; guard < 100000; ++guard) {
        const bool datagram = !m_inFlight.isEmpty() && (!m_deadline || m_inFlight.first().at <= *m_deadline);
        if (!datagram && !m_deadline)
            return;
        const qint64 at = datagram ? m_inFlight.first().at : *m_deadline;
        if (at > untilMs)
            return;
        m_now = std::max(m_now, at);
        if (datagram) {
            const InFlight next = m_inFlight.takeFirst();
            deliver(next.datagram, next.card);
        } else {
            m_deadline.reset();
            expire();
        }
    }
    qFatal("FakeLan::run: the conversation never settles");
}

} // namespace tarvik::test
