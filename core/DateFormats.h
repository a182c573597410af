#pragma once
// Date and time texts in the user's locale, as the program's named formats give them.
#include <QDateTime>
#include <QString>

// "short Date": the locale's short date.
QString FormatShortDate(const QDate& d);
// The locale's long time (hours, minutes, seconds), without a time-zone name.
QString FormatLongTime(const QTime& t);
// "General Date": the short date and the long time; the date alone at midnight, the time alone
// on the zero date (30 December 1899, what a time without a date reads as).
QString FormatGeneralDate(const QDateTime& dt);
// "hh:nn AM/PM": two-digit 12-hour hour, two-digit minutes, then AM or PM as written.
QString FormatTimeAmPm(const QTime& t);
