#include "core/DateFormats.h"

#include <QLocale>

namespace {

// The locale's long time format without its zone field ("t"): a merged or listed time never
// names a zone.
QString longTimeFormat()
{
    const QString f = QLocale().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : f) {
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) continue;
        out.append(c);
    }
    return out.trimmed();
}

} // namespace

QString FormatShortDate(const QDate& d) { return QLocale().toString(d, QLocale::ShortFormat); }

QString FormatLongTime(const QTime& t) { return QLocale().toString(t, longTimeFormat()); }

QString FormatGeneralDate(const QDateTime& dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (d == QDate(1899, 12, 30)) return FormatLongTime(t);
    if (t == QTime(0, 0)) return FormatShortDate(d);
    return FormatShortDate(d) + QLatin1Char(' ') + FormatLongTime(t);
}

QString FormatTimeAmPm(const QTime& t)
{
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return QStringLiteral("%1:%2 %3")
        .arg(h12, 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}
