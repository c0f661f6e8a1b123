#include "helpers/EntryRule.h"

#include <QLineEdit>

#include <algorithm>

namespace Trellane {

namespace {
// QLineEdit's default maximum length: no limit of its own.
constexpr int kNoBoxLimit = 32767;
} // namespace

EntryRule::EntryRule(QLineEdit* edit)
    : QValidator(edit)
    , m_limit(edit->maxLength() < kNoBoxLimit ? edit->maxLength() : 0)
    , m_length(edit->text().size())
{
    edit->setMaxLength(kNoBoxLimit);
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& now) { m_length = now.size(); });
}

EntryRule* EntryRule::of(QLineEdit* edit)
{
    if (auto* rule = qobject_cast<EntryRule*>(const_cast<QValidator*>(edit->validator())))
        return rule;
    const QValidator* old = edit->validator();
    auto* rule = new EntryRule(edit);
    edit->setValidator(rule);
    if (old && old->parent() == edit)
        delete old;
    return rule;
}

void EntryRule::showText(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text)
        return;  // setting a box re-lays it out and repaints it: not on every seek
    if (auto* rule = qobject_cast<EntryRule*>(const_cast<QValidator*>(edit->validator())))
        rule->m_length = std::max(rule->m_length, text.size());
    edit->setText(text);
}

QValidator::State EntryRule::validate(QString& input, int& pos) const
{
    if (m_digits && std::any_of(input.cbegin(), input.cend(), [](QChar c) { return !c.isDigit(); }))
        return Invalid;
    // Text that would go past the limit loses what goes past it, from the
    // end of what was just typed or pasted (which ends at the cursor): a
    // key at the limit types nothing, a long paste is cut to fit.
    const qsizetype excess = m_limit > 0 ? input.size() - std::max<qsizetype>(m_limit, m_length) : 0;
    if (excess > 0) {
        if (pos < excess)
            return Invalid;  // the box's last text comes back
        input.remove(pos - excess, excess);
        pos -= int(excess);
    }
    if (m_upper)
        input = input.toUpper();
    return Acceptable;
}

void EntryRule::fixup(QString& input) const
{
    if (m_upper)
        input = input.toUpper();
}

} // namespace Trellane
