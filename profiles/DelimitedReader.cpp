#include "profiles/DelimitedReader.h"

#include <QFile>
#include <QStringDecoder>

namespace {

// Windows-1252 at 0x80-0x9F; the rest of the code page is Latin-1. Unassigned bytes keep their
// C1 code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }
bool isLineEnd(QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); }

} // namespace

QString DelimitedReader::Decode(const QByteArray& bytes)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) return text;

    text.resize(view.size());
    QChar* out = text.data();
    for (qsizetype i = 0; i < view.size(); ++i) {
        const auto b = static_cast<unsigned char>(view[i]);
        out[i] = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

bool DelimitedReader::Open(const QString& path)
{
    error_.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error_ = f.errorString();
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        error_ = f.errorString();
        return false;
    }
    SetBytes(bytes);
    return true;
}

void DelimitedReader::SetBytes(const QByteArray& bytes)
{
    text_ = Decode(bytes);
    pos_ = 0;
}

bool DelimitedReader::ReadValue(QString& value)
{
    value.clear();
    const qsizetype n = text_.size();
    const QChar* s = text_.constData();
    qsizetype i = pos_;
    while (i < n && isBlank(s[i])) ++i;

    bool closed = true;
    if (i < n && s[i] == QLatin1Char('"')) {
        closed = false;
        ++i;
        while (i < n) {
            if (s[i] == QLatin1Char('"')) {
                if (i + 1 < n && s[i + 1] == QLatin1Char('"')) {
                    value += QLatin1Char('"');
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            const qsizetype start = i;
            while (i < n && s[i] != QLatin1Char('"')) ++i;
            value.append(s + start, i - start);
        }
    }
    // Unquoted text, or what follows a closing quote, up to the separator.
    const qsizetype start = i;
    while (i < n && s[i] != QLatin1Char(',') && !isLineEnd(s[i])) ++i;
    qsizetype end = i;
    while (end > start && isBlank(s[end - 1])) --end;
    value.append(s + start, end - start);

    if (i < n) {
        if (s[i] == QLatin1Char('\r') && i + 1 < n && s[i + 1] == QLatin1Char('\n')) ++i;
        ++i;
    }
    pos_ = i;
    return closed;
}

bool DelimitedReader::ReadRecord(int count, QStringList& values)
{
    values.clear();
    for (int k = 0; k < count; ++k) {
        if (k > 0 && AtEnd()) return false;
        QString v;
        if (!ReadValue(v)) return false;
        values << v;
    }
    return true;
}
