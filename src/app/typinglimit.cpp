#include "typinglimit.h"

#include <QLineEdit>

namespace tarvik {

TypingLimit::TypingLimit(int limit, QLineEdit* edit) : QValidator(edit), m_limit(limit)
{
    edit->setValidator(this);
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { m_current = text; });
}

// An over-long text must not count as invalid: the line edit reverts an invalid edit only when the
// text before it was valid.
QValidator::State TypingLimit::validate(QString& input, int& /*position*/) const
{
    if (input.size() <= m_limit)
        return Acceptable;
    if (input == m_current || input.size() < m_current.size())
        return Intermediate;
    return Invalid;
}

} // namespace tarvik
