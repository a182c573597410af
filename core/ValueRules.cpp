#include "core/ValueRules.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

#include "core/Globals.h"
#include "core/SQLStatement.h"

QString SortNameOf(const QString& First, const QString& Last, const QString& Middle, const QString& Company)
{
    const QString f = First.trimmed(), l = Last.trimmed(), m = Middle.trimmed();
    if (f.isEmpty() && l.isEmpty() && m.isEmpty()) return Company.trimmed();
    QString s = l;
    if (!l.isEmpty()) {
        if (!f.isEmpty()) s += QStringLiteral(", ") + f;
        if (!m.isEmpty()) s += QStringLiteral(", ") + m;
    }
    return s;
}

namespace {

// A locale format made lenient the way people type: one-digit days, months and hours pass,
// and the year is written with four digits (fourDigitYear) or as the locale writes it.
QString relaxedFormat(const QString& format, bool fourDigitYear)
{
    QString out;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {  // quoted literal text: copied as it is
            const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype stop = end < 0 ? format.size() : end + 1;
            out += format.mid(i, stop - i);
            i = stop;
            continue;
        }
        qsizetype n = 1;
        while (i + n < format.size() && format.at(i + n) == c) ++n;
        const QString run = format.mid(i, n);
        if (n == 2 && (c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('H') || c == QLatin1Char('h')))
            out += c;
        else if (c == QLatin1Char('y') && n <= 2)
            out += fourDigitYear ? QStringLiteral("yyyy") : QStringLiteral("yy");
        else
            out += run;
        i += n;
    }
    return out;
}

// Qt reads a two-digit year as 19yy; people mean the nearest century, as 1930-2029.
QDate windowed(QDate d)
{
    if (d.isValid() && d.year() < 1930) return d.addYears(100);
    return d;
}

QDateTime windowed(const QDateTime& dt) { return QDateTime(windowed(dt.date()), dt.time()); }

struct Reading {
    QDateTime value;
    bool date = false;
    bool time = false;
};

std::optional<Reading> readIso(const QString& s)
{
    for (const char* f : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-ddTHH:mm"}) {
        const QDateTime dt = QDateTime::fromString(s, QString::fromLatin1(f));
        if (dt.isValid()) return Reading{dt, true, true};
    }
    const QDate d = QDate::fromString(s, QStringLiteral("yyyy-MM-dd"));
    if (d.isValid()) return Reading{QDateTime(d, QTime(0, 0)), true, false};
    for (const char* f : {"HH:mm:ss", "HH:mm"}) {
        const QTime t = QTime::fromString(s, QString::fromLatin1(f));
        if (t.isValid()) return Reading{QDateTime(QDate(1899, 12, 30), t), false, true};
    }
    return std::nullopt;
}

std::optional<Reading> readLocale(const QString& s)
{
    const QLocale loc;
    const QString dateTimeFormat = loc.dateTimeFormat(QLocale::ShortFormat);
    const QString dateFormat = loc.dateFormat(QLocale::ShortFormat);
    for (bool four : {true, false}) {
        const QDateTime dt = loc.toDateTime(s, relaxedFormat(dateTimeFormat, four));
        if (dt.isValid()) return Reading{four ? dt : windowed(dt), true, true};
        const QDate d = loc.toDate(s, relaxedFormat(dateFormat, four));
        if (d.isValid()) return Reading{QDateTime(four ? d : windowed(d), QTime(0, 0)), true, false};
    }
    for (QLocale::FormatType type : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QTime t = loc.toTime(s, relaxedFormat(loc.timeFormat(type), true));
        if (t.isValid()) return Reading{QDateTime(QDate(1899, 12, 30), t), false, true};
    }
    return std::nullopt;
}

}  // namespace

std::optional<QString> ReadIsoDateTime(const QString& text)
{
    const QString s = text.trimmed();
    if (s.isEmpty()) return std::nullopt;
    std::optional<Reading> r = readIso(s);
    if (!r) r = readLocale(s);
    if (!r) {
        Reading fixed;
        if (!ReadDateTime(s, &fixed.value, &fixed.date, &fixed.time)) return std::nullopt;
        r = fixed;
    }
    if (r->date && r->time) return r->value.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (r->date) return r->value.date().toString(QStringLiteral("yyyy-MM-dd"));
    return r->value.time().toString(QStringLiteral("HH:mm:ss"));
}

std::optional<QString> ReadNumberText(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    bool ok = false;
    double d = QLocale().toDouble(t, &ok);
    if (!ok) {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        d = c.toDouble(t, &ok);
    }
    if (!ok || !std::isfinite(d)) return std::nullopt;
    if (d == std::floor(d) && std::fabs(d) < 9.2e18) return QString::number(qlonglong(d));
    return QString::number(d, 'g', 15);
}

QString StoredComboValue(int comboFieldType, const QString& text)
{
    std::optional<QString> normal;
    if (comboFieldType == 1) normal = ReadNumberText(text);
    else if (comboFieldType == 2) normal = ReadIsoDateTime(text);
    return normal ? *normal : text;
}

QString StoredComboFieldValue(int FieldID, const QString& text)
{
    const int type = FieldID >= 0 && FieldID < ComboFieldType.size() ? ComboFieldType.at(FieldID).toInt() : 0;
    return StoredComboValue(type, text);
}
