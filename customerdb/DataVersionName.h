#pragma once
// Release names of the practice-data version codes an account reports.
#include <QString>

// The release name for a DataVersion code ("11 SP3 or SP4" for "22"); "?" for
// an empty code, one that is not a whole number, or one outside 17 to 28.
QString DataVersionName(const QString& code);
