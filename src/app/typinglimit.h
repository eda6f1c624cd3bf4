// The typing limit of a text field: what the user types never makes the text longer than the
// field's limit (15 characters for an address, 5 for a port). A longer text that the window shows,
// an odd value read from a module, stays whole so that a write sends back exactly what was read;
// the user may shorten it but never lengthen it.
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

    int limit() const { return m_limit; }
    // To be called before the window itself sets the field's text.
    void showing(const QString& text) { m_current = text; }

    State validate(QString& input, int& position) const override;

private:
    int m_limit;
    QString m_current; // the field's text before the edit being validated
};

} // namespace tarvik
