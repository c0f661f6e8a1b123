#pragma once
// The account's notes box: several lines of plain text. Typing and pasting
// stop at the number of characters the notes field keeps, so that nothing
// typed is dropped unseen when the account is saved; Tab moves on to the
// next control instead of typing a tab.
#include <QPlainTextEdit>

class TNotesEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TNotesEdit(QWidget* parent = nullptr);

    // Characters the box takes, line breaks included; 0 for no limit. The
    // tooltip tells the user.
    void setMaxLength(int length);
    int maxLength() const { return m_maxLength; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Characters that may still go in place of the selection.
    int room() const;

    int m_maxLength = 0;
};
