#include "faults.h"

#include <QRegularExpression>

#include <cmath>

namespace tarvik::sim {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

bool isCode(const QByteArray& key)
{
    return commandIndex(key) >= 0;
}

bool validKey(const QByteArray& key)
{
    if (key == "SETUP" || key == "END" || key == "DF" || key == "AT" || key == "*" || key == "*?" || key == "*=")
        return true;
    if (isCode(key))
        return true;
    if (key.endsWith('?') || key.endsWith('='))
        return isCode(key.chopped(1));
    return false;
}

} // namespace

std::optional<Match> Match::parse(const QString& text, QString* error)
{
    Match match;
    const QString which = text.trimmed();
    if (which.compare(QStringLiteral("all"), Qt::CaseInsensitive) == 0)
        return match;
    bool isNumber = false;
    const int nth = which.toInt(&isNumber);
    if (isNumber) {
        if (nth < 1) {
            setError(error, QStringLiteral("datagram number must be 1 or more: %1").arg(text));
            return std::nullopt;
        }
        match.kind = Nth;
        match.nth = nth;
        return match;
    }
    match.kind = Key;
    QString key = which;
    const qsizetype hash = which.indexOf(QLatin1Char('#'));
    if (hash >= 0) {
        key = which.left(hash);
        bool ok = false;
        match.occurrence = which.mid(hash + 1).toInt(&ok);
        if (!ok || match.occurrence < 1) {
            setError(error, QStringLiteral("bad occurrence after '#': %1").arg(text));
            return std::nullopt;
        }
    }
    match.key = key.toUpper().toLatin1();
    if (!validKey(match.key)) {
        setError(error, QStringLiteral("unknown request: %1").arg(text));
        return std::nullopt;
    }
    return match;
}

bool Match::keyMatches(const QByteArray& requestKey) const
{
    if (key == "*")
        return requestKey != "SETUP";
    if (key == "*?" || key == "*=")
        return requestKey.endsWith(key.at(1));
    if (isCode(key))
        return requestKey == key + '?' || requestKey == key + '=';
    return requestKey == key;
}

QString Match::toString() const
{
    switch (kind) {
    case All:
        return QStringLiteral("all");
    case Nth:
        return QString::number(nth);
    case Key:
        return QString::fromLatin1(key) + (occurrence ? QStringLiteral("#%1").arg(occurrence) : QString());
    }
    return {};
}

QByteArray unescape(const QString& text)
{
    QByteArray bytes;
    const QByteArray latin = text.toLatin1();
    for (int i = 0; i < latin.size(); ++i) {
        if (latin[i] == '\\' && i + 3 < latin.size() && (latin[i + 1] == 'x' || latin[i + 1] == 'X')) {
            bool ok = false;
            const int value = latin.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        bytes += latin[i];
    }
    return bytes;
}

std::optional<Rule> parseRule(Rule::Action action, const QString& text, QString* error)
{
    Rule rule;
    rule.action = action;
    switch (action) {
    case Rule::Delay:
    case Rule::Truncate: {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        bool ok = false;
        rule.amount = (colon < 0 ? text : text.left(colon)).toInt(&ok);
        if (!ok || rule.amount < 0) {
            setError(error, QStringLiteral("bad number: %1").arg(text));
            return std::nullopt;
        }
        if (colon >= 0) {
            const std::optional<Match> match = Match::parse(text.mid(colon + 1), error);
            if (!match)
                return std::nullopt;
            rule.match = *match;
        }
        return rule;
    }
    case Rule::Answer: {
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            setError(error, QStringLiteral("expected CODE=TEXT: %1").arg(text));
            return std::nullopt;
        }
        std::optional<Match> match = Match::parse(text.left(equals), error);
        if (!match)
            return std::nullopt;
        if (match->kind != Match::Key || !isCode(match->key)) {
            setError(error, QStringLiteral("--answer takes a parameter code such as ET or PT1: %1").arg(text));
            return std::nullopt;
        }
        match->key += '?';
        rule.match = *match;
        rule.text = unescape(text.mid(equals + 1));
        return rule;
    }
    case Rule::Duplicate:
    case Rule::Drop:
    case Rule::Refuse: {
        const std::optional<Match> match = Match::parse(text, error);
        if (!match)
            return std::nullopt;
        rule.match = *match;
        rule.amount = action == Rule::Duplicate ? 2 : 0;
        return rule;
    }
    }
    return std::nullopt;
}

FaultyModule::FaultyModule(Module module, const FaultPlan* plan)
    : m_module(std::move(module)), m_plan(plan), m_keyCounts(plan ? static_cast<size_t>(plan->rules.size()) : 0, 0),
      m_loss(plan ? plan->lossSeed + static_cast<quint32>(m_module.index()) : 1)
{
}

bool parseLoss(const QString& text, FaultPlan* plan, QString* error)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok = parts.size() <= 2;
    const double percent = ok ? parts[0].toDouble(&ok) : 0;
    ok = ok && percent >= 0 && percent <= 100;
    const uint seed = ok && parts.size() == 2 ? parts[1].toUInt(&ok) : 1;
    if (!ok) {
        if (error)
            *error = QStringLiteral("wants PERCENT or PERCENT:SEED, PERCENT from 0 to 100: %1").arg(text);
        return false;
    }
    plan->lossPerMillion = static_cast<int>(std::lround(percent * 10000));
    plan->lossSeed = seed;
    return true;
}

Handled FaultyModule::receive(const QByteArray& datagram)
{
    Handled handled;
    handled.request = m_module.classify(datagram);
    if (handled.request.type == Request::NotForUs)
        return handled;
    handled.taken = true;
    ++m_taken;

    // Which rules apply to this datagram.
    std::vector<const Rule*> active;
    if (m_plan) {
        for (int i = 0; i < m_plan->rules.size(); ++i) {
            const Rule& rule = m_plan->rules[i];
            bool applies = false;
            switch (rule.match.kind) {
            case Match::All:
                applies = true;
                break;
            case Match::Nth:
                applies = rule.match.nth == m_taken;
                break;
            case Match::Key:
                if (rule.match.keyMatches(handled.request.key)) {
                    const int seen = ++m_keyCounts[static_cast<size_t>(i)];
                    applies = rule.match.occurrence == 0 || rule.match.occurrence == seen;
                }
                break;
            }
            if (applies)
                active.push_back(&rule);
        }
    }
    const auto find = [&](Rule::Action action) -> const Rule* {
        for (const Rule* rule : active) {
            if (rule->action == action)
                return rule;
        }
        return nullptr;
    };

    std::optional<QByteArray> bytes = m_module.handle(handled.request, find(Rule::Refuse) != nullptr);
    if (!bytes)
        return handled;
    if (const Rule* answer = find(Rule::Answer); answer && handled.request.type == Request::Query)
        bytes = m_module.replyHead() + answer->text;
    if (const Rule* truncate = find(Rule::Truncate))
        bytes->truncate(truncate->amount);
    const bool lost =
        m_plan && m_plan->lossPerMillion > 0 && static_cast<int>(m_loss.bounded(1000000u)) < m_plan->lossPerMillion;
    if ((m_plan && m_plan->silent) || find(Rule::Drop) || lost) {
        handled.dropped = true;
        return handled;
    }
    Outgoing out;
    out.bytes = *bytes;
    if (const Rule* delay = find(Rule::Delay))
        out.delayMs = delay->amount;
    if (const Rule* duplicate = find(Rule::Duplicate))
        out.copies = duplicate->amount;
    handled.reply = out;
    return handled;
}

} // namespace tarvik::sim
