#include "accounts/NotesEdit.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>

#include <algorithm>
#include <climits>

TNotesEdit::TNotesEdit(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
}

void TNotesEdit::setMaxLength(int length)
{
    m_maxLength = length;
    setToolTip(length > 0 ? QStringLiteral("Notes: at most %1 characters, line breaks included.").arg(length)
                          : QString());
}

int TNotesEdit::room() const
{
    if (m_maxLength <= 0)
        return INT_MAX;
    // The document counts one separator after its last line.
    const int length = document()->characterCount() - 1;
    return m_maxLength - (length - int(textCursor().selectedText().size()));
}

void TNotesEdit::keyPressEvent(QKeyEvent* e)
{
    const bool lineBreak = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    const QString typed = e->text();
    const bool inserts = lineBreak
        || (!typed.isEmpty() && typed.at(0).isPrint() && !(e->modifiers() & Qt::ControlModifier));
    if (inserts && (lineBreak ? 1 : int(typed.size())) > room()) {
        e->accept();  // full: the key is not taken
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void TNotesEdit::insertFromMimeData(const QMimeData* source)
{
    if (!source->hasText() || m_maxLength <= 0) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const int fits = std::max(0, room());
    QString text = source->text();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    insertPlainText(text.left(fits));
}
