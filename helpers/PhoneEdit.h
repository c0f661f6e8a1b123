#pragma once
// Phone and fax entry with the template "(999)000-0000": an optional
// three-digit area code in brackets, then three and four required digits
// around the dash. Unfilled places read as blanks, so an untouched box reads
// "(   )   -    " and a full one "(555)123-4567"; while the box has the focus
// they are drawn as "_".
//
// A stored value is shown in its display form: exactly ten characters as
// "(" + 3 + ")" + 3 + "-" + 4, anything else as stored. A value that does not
// fit the template (letters, or a length other than ten) stays free text
// until the user empties the box, which brings the template back.
//
// A click into the unfilled end of the template puts the cursor on the first
// place after the digits already there (the first place of an empty box),
// so that typing fills the number from its start.
//
// A number pasted with dashes, dots, spaces, brackets or a leading +1 keeps
// its ten digits in their places.
//
// Leaving a box that was edited with a required digit missing is refused
// (a box emptied again may be left, as an untouched one may):
// the error box says so and the focus stays; Escape abandons the edit and
// restores the value last set (the key goes no further, so it cannot also
// run a shortcut of the window). Commands that read a panel's boxes check
// them first (validatePanel), since a shortcut or a click can run before
// the box has been left.
#include <QLineEdit>

class TPhoneEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TPhoneEdit(QWidget* parent = nullptr);

    // The display form of a stored phone number.
    static QString displayForm(const QString& stored);

    // The entry as described above: template text with blanks, or free text.
    QString text() const;
    // Shows a stored value (or a template text) in its display form.
    void setText(const QString& value);
    void clear() { setText(QString()); }

    // True while the box shows a value that does not fit the template.
    bool isFreeText() const { return inputMask().isEmpty(); }
    // True when the template is shown with a required digit missing.
    bool isIncomplete() const { return !isFreeText() && !hasAcceptableInput(); }
    // True when the template is shown with no digit in it.
    bool isBlank() const;
    // True when leaving the box is refused: edited, incomplete, not blank.
    bool isRefused() const { return isModified() && isIncomplete() && !isBlank(); }
    // What leaving the box does: false (with the error shown) when an edited
    // box is incomplete. Focus changes run it; tests call it directly.
    bool validateEdit();
    // The check of leaving, run by a command over every phone box of a
    // panel before it reads them: false (the error shown once, the focus put
    // into the box) when an edited box is incomplete.
    static bool validatePanel(const QWidget* panel);

protected:
    bool event(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void pastePhone(const QString& pasted);
    void showTemplate(const QString& positions);
    void setBlankChar(QChar blank);

    QString m_lastSet;  // the value last set, restored by Escape
    bool m_validating = false;
};
