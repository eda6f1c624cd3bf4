// The typing limit of a text field: what the user types or pastes never makes the text longer than
// the field's limit (15 characters for an address, 5 for a port); an edit that would is refused
// whole. The window itself never shows a longer text: a read takes only replies with digits where
// the digits belong, and an import only values it has checked.
#pragma once

#include <QValidator>

class QLineEdit;

namespace tarvik {

class TypingLimit : public QValidator
{
    Q_OBJECT

public:
    // Installs itself as the validator of `edit`.
    TypingLimit(int limit, QLineEdit* edit);

    State validate(QString& input, int& position) const override;

private:
    int m_limit;
};

} // namespace tarvik
