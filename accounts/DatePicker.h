#pragma once
// A date picker that may also hold no date: an empty picker shows blank
// text (not a date it does not hold), Delete empties it, and stepping,
// typing a digit or opening the calendar in an empty picker starts from
// today. It
// tells whether the user changed it since the program last set it, so that
// only a date the user changed is written back.
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

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void startFromToday();
    void keepCalendarPlain();

    bool m_changed = false;
    bool m_setting = false;
};
