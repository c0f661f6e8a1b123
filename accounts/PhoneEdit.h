#pragma once
// Phone and fax entry with the template "(999)000-0000": an optional area
// code in parentheses, then three and four required digits. Its text keeps
// the parentheses and the hyphen and reads every unfilled position as a
// blank, so an untouched box reads "(   )   -    " and a full one
// "(555)123-4567" (Qt's own masked text() would drop the blanks).
#include <QLineEdit>

namespace Accounts {

class PhoneEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit PhoneEdit(QWidget* parent = nullptr);

    // The entry's text as described above; a value that does not fit the
    // template is shown, and read back, as it was set.
    QString text() const;
    // Shows value in the template when it fits it ("(555)123-4567" or ten
    // digits), else as given; an empty value shows the blank template.
    void setText(const QString& value);
    void clear() { setText(QString()); }

    // True while the box shows a value that does not fit the template.
    bool isFreeText() const { return inputMask().isEmpty(); }

private:
    void applyMask();
};

} // namespace Accounts
