#include "typinglimit.h"

#include <QLineEdit>

namespace tarvik {

TypingLimit::TypingLimit(int limit, QLineEdit* edit) : QValidator(edit), m_limit(limit)
{
    edit->setValidator(this);
}

QValidator::State TypingLimit::validate(QString& input, int& /*position*/) const
{
    return input.size() <= m_limit ? Acceptable : Invalid;
}

} // namespace tarvik
