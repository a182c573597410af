#include "core/Conversions.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>
#include <cmath>

#include "core/DateFormats.h"
#include "platform/db/Connection.h"

namespace {

bool isNumberType(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

// A whole text read as a number: optional blanks, sign, digits with one decimal separator
// (a point, or the locale's), an exponent, or &H/&O integers.
bool parseNumber(const QString& text, double* out)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) return false;
    if (t.startsWith(QLatin1String("&H"), Qt::CaseInsensitive) || t.startsWith(QLatin1String("&O"), Qt::CaseInsensitive)) {
        bool ok = false;
        const qlonglong n = t.mid(2).toLongLong(&ok, t.at(1).toUpper() == QLatin1Char('H') ? 16 : 8);
        if (ok && out) *out = double(n);
        return ok;
    }
    bool ok = false;
    double d = QLocale::c().toDouble(t, &ok);
    if (!ok) d = QLocale().toDouble(t, &ok);
    if (!ok || !std::isfinite(d)) return false;
    if (out) *out = d;
    return true;
}

} // namespace

QString RTrim(const QString& s)
{
    int n = s.size();
    while (n > 0 && s.at(n - 1) == QLatin1Char(' ')) --n;
    return s.left(n);
}

QString VariantText(const QVariant& v)
{
    if (!v.isValid() || v.isNull()) return QString();
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (d == std::floor(d) && std::fabs(d) < 1e15) return QString::number(qlonglong(d));
        QString s = QLocale().toString(d, 'g', 15);
        return s;
    }
    case QMetaType::QDate:
        return QLocale().toString(v.toDate(), QLocale::ShortFormat);
    case QMetaType::QTime:
        return FormatLongTime(v.toTime());
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        if (dt.time() == QTime(0, 0)) return QLocale().toString(dt.date(), QLocale::ShortFormat);
        return QLocale().toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') + FormatLongTime(dt.time());
    }
    default:
        return v.toString();
    }
}

bool IsNumeric(const QVariant& v)
{
    if (!v.isValid()) return true;
    if (v.isNull()) return false;
    if (isNumberType(v) || v.typeId() == QMetaType::Bool) return true;
    if (v.typeId() == QMetaType::QString) return parseNumber(v.toString(), nullptr);
    if (v.typeId() == QMetaType::QByteArray) return parseNumber(QString::fromUtf8(v.toByteArray()), nullptr);
    return false;
}

bool VariantEqualsNumber(const QVariant& v, double n)
{
    if (!v.isValid()) return n == 0;
    if (v.isNull()) return false;
    if (v.typeId() == QMetaType::Bool) return (v.toBool() ? -1.0 : 0.0) == n;
    if (isNumberType(v)) return v.toDouble() == n;
    if (v.typeId() == QMetaType::QString) {
        double d = 0;
        return parseNumber(v.toString(), &d) && d == n;
    }
    return false;
}

QVariant NullToString(const QVariant& v) { return RTrim(VariantText(v)); }

QVariant NullToZero(const QVariant& v)
{
    if (!db::IsNull(v) && IsNumeric(v)) return v;
    return QVariant(int(0));
}

QVariant BoolToCheckValue(const QVariant& v) { return QVariant(int(VariantEqualsNumber(v, -1) ? 1 : 0)); }

QVariant CheckValueToBool(const QVariant& v)
{
    // A Boolean True equals -1, never 1.
    return QVariant(int(VariantEqualsNumber(v, 1) ? -1 : 0));
}

double Val(const QString& s)
{
    QString t;
    t.reserve(s.size());
    for (QChar c : s)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n')) t.append(c);
    if (t.startsWith(QLatin1String("&H"), Qt::CaseInsensitive) || t.startsWith(QLatin1String("&O"), Qt::CaseInsensitive)) {
        const bool hex = t.at(1).toUpper() == QLatin1Char('H');
        // Unsigned: a long run of digits wraps to its low word instead of overflowing.
        quint64 n = 0;
        for (int i = 2; i < t.size(); ++i) {
            const char16_t c = QChar(t.at(i)).toLower().unicode();
            int d = -1;
            if (c >= u'0' && c <= u'9') d = c - u'0';
            else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
            if (d < 0 || (!hex && d > 7)) break;
            n = n * (hex ? 16 : 8) + quint64(d);
        }
        return double(qint64(n));
    }
    int i = 0;
    QString num;
    if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+'))) num.append(t.at(i++));
    bool digits = false;
    while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128) { num.append(t.at(i++)); digits = true; }
    if (i < t.size() && t.at(i) == QLatin1Char('.')) {
        num.append(t.at(i++));
        while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128) { num.append(t.at(i++)); digits = true; }
    }
    if (!digits) return 0;
    if (i < t.size() && (t.at(i) == QLatin1Char('e') || t.at(i) == QLatin1Char('E') || t.at(i) == QLatin1Char('d') || t.at(i) == QLatin1Char('D'))) {
        QString exp = QStringLiteral("e");
        int j = i + 1;
        if (j < t.size() && (t.at(j) == QLatin1Char('-') || t.at(j) == QLatin1Char('+'))) exp.append(t.at(j++));
        bool expDigits = false;
        while (j < t.size() && t.at(j).isDigit() && t.at(j).unicode() < 128) { exp.append(t.at(j++)); expDigits = true; }
        if (expDigits) num.append(exp);
    }
    const double d = QLocale::c().toDouble(num);
    return std::isfinite(d) ? d : 0;
}

double Val(const QVariant& v)
{
    if (!v.isValid() || v.isNull()) return 0;
    if (isNumberType(v)) return v.toDouble();
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? -1 : 0;
    return Val(v.toString());
}
