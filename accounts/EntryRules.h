#pragma once
// Entry rules shared by the account panel, the search bar and the submitter
// tab: upper-casing edit boxes, whole-number reading as the search box and
// version codes use it, and the colour that tells a module's expiry state.
#include <QColor>
#include <QDate>
#include <QString>

#include <optional>

class QLineEdit;

namespace Accounts {

// Turns upper-casing of typed letters on or off in an edit box (its entry
// rule keeps the box's length limit).
void setUpperCase(QLineEdit* edit, bool upper);
bool isUpperCase(const QLineEdit* edit);

// A whole number in decimal: leading blanks and a sign allowed, nothing
// after the digits, within 32 bits. Empty when the text is not one.
std::optional<int> wholeNumber(const QString& text);


// Background of a module's expiry picker.
enum class ExpiryShade { NoDate, Warning, Normal };

// No stored date: NoDate (blue). A subscribed module whose date is today or
// earlier, or an unsubscribed one whose date is later than today: Warning
// (red). Otherwise Normal (white).
ExpiryShade expiryShade(const QDate& stored, bool subscribed, const QDate& today);
QColor shadeColor(ExpiryShade shade);

// Leading and trailing blanks, tabs and line breaks removed.
QString trimControls(const QString& text);

} // namespace Accounts
