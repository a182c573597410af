#pragma once
// Turning values read from the database into values the windows use, and back.
// Empty is an invalid QVariant; Null is a valid variant holding no value (what the database
// returns for NULL, or db::Null()).
#include <QString>
#include <QVariant>

// Text of v with trailing blanks removed; Null and Empty give empty text.
QVariant NullToString(const QVariant& v);
// v itself when it is numeric (Empty included); otherwise the integer 0.
QVariant NullToZero(const QVariant& v);
// 1 when v equals -1 (number, True, or the text "-1"), else 0.
QVariant BoolToCheckValue(const QVariant& v);
// -1 when v equals 1 (number or text), else 0.
QVariant CheckValueToBool(const QVariant& v);

// The leading number of a text, as the classic Val reads it: blanks, tabs and line feeds
// are skipped, reading stops at the first character that cannot continue the number;
// "&H" and "&O" prefixes read hexadecimal and octal. No number gives 0.
double Val(const QString& s);
double Val(const QVariant& v);

// The platform's numeric test: numbers, Booleans and Empty pass; text passes when it reads
// wholly as a number (blanks around it allowed); Null, dates and other text fail.
bool IsNumeric(const QVariant& v);
// The usual text form of a value: numbers in the locale, True/False, dates in the locale's
// short date ("General Date" for date and time). Null and Empty give empty text.
QString VariantText(const QVariant& v);
// A variant comparison of v with a number: text is compared as a number when it is one.
bool VariantEqualsNumber(const QVariant& v, double n);
// Text with trailing blanks removed (only blanks, as RTrim does).
QString RTrim(const QString& s);
