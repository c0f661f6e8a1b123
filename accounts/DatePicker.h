#pragma once
// A date picker that may also hold no date: an empty picker shows blank
// text (not a date it does not hold), Delete empties it, and stepping,
// typing a digit or opening the calendar in an empty picker starts from
// today. It
// tells whether the user changed it since the program last set it, so that
// only a date the user changed is written back.
//
// Typed digits fill the part of the date they are typed into (two for the
// month and the day, four for the year; a separator ends a part early) and
// go on to the next part. The picker's date changes only when the typing
// ends (the year's last digit, Enter, leaving the picker, a command that
// reads it): a valid date is taken whole; anything else (02/30/2027, month
// 13, a short year) is refused with a message and the picker keeps the date
// it had. Escape abandons the typing.
//
// Dates show with leading zeros, so that a column of pickers lines up. Tab
// leaves the picker (the parts of the date are reached with the arrow keys),
// and a colour given to the picker's palette stays on its box: the calendar
// it opens keeps the application's colours.
#include <QDate>
#include <QDateEdit>

class TDatePicker : public QDateEdit {
    Q_OBJECT
public:
    explicit TDatePicker(QWidget* parent = nullptr);

    // Shows a date, or nothing for an invalid one; clears isChanged.
    void setValue(const QDate& date);
    // The date shown; invalid when the picker is empty.
    QDate value() const;
    bool isEmpty() const { return date() == minimumDate(); }

    // True once the user changed the date (a date set through QDateEdit's
    // own setDate counts as the user's, as the calendar sets it so).
    bool isChanged() const { return m_changed; }
    void setChanged(bool changed) { m_changed = changed; }
    // Empties the picker as the user does with Delete.
    void clearValue() { setDate(minimumDate()); }

    void stepBy(int steps) override;

    // Ends the typing as described above; false (the message shown) when
    // the typed date was refused.
    bool finishTyping();
    // finishTyping for every picker of a panel, run by commands before they
    // read the pickers: false, with the focus in the refusing picker.
    static bool finishPanel(const QWidget* panel);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void startFromToday();
    void keepCalendarPlain();
    void typeDigit(QChar digit);
    void nextPart();
    void showTyping();
    QString typedText() const;
    // Shows the picker's date again in place of what was typed.
    void showDate();
    // Ends the typing; a refusal's message is shown now or, while the focus
    // is changing, once the change is over.
    bool endTyping(bool messageLater);

    bool m_changed = false;
    bool m_setting = false;
    // The date being typed: month, day and year as shown, the part typed
    // into, and how many digits of it were typed.
    bool m_typing = false;
    QString m_parts[3];
    int m_part = 0;
    int m_typed = 0;
};
