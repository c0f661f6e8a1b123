#pragma once
// The typing rules of an edit box in one validator: typed letters made
// capitals, and a limit on how long typing may make the text.
//
// Unlike the box's own maximum length, the limit never cuts text: a stored
// value longer than the box takes is shown (and saved again) whole, and a
// new limit leaves the text in the box as it is. Typing or pasting cannot
// make the text longer than the limit, or than it already is: a key at the
// limit types nothing, and a longer paste is cut to what fits.
#include <QValidator>

class QLineEdit;

namespace Trellane {

class EntryRule : public QValidator {
    Q_OBJECT
public:
    // The rule of the box, installed on first use in place of any other
    // validator. A maximum length the box was given (in its form) becomes
    // the limit, and the box's own limit is lifted.
    static EntryRule* of(QLineEdit* edit);
    // Sets the box's text from the program, whole (no rule needed).
    static void showText(QLineEdit* edit, const QString& text);

    // Characters typing may reach; 0 for no limit.
    void setLimit(int limit) { m_limit = limit; }
    int limit() const { return m_limit; }
    void setUpperCase(bool upper) { m_upper = upper; }
    bool upperCase() const { return m_upper; }
    // Digits only: a key or paste with anything else is refused whole,
    // keeping the text the box had.
    void setDigitsOnly(bool digits) { m_digits = digits; }

    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    explicit EntryRule(QLineEdit* edit);

    int m_limit = 0;
    bool m_upper = false;
    bool m_digits = false;
    qsizetype m_length = 0;  // length of the text the box holds
};

} // namespace Trellane
