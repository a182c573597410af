#include "profiles/DelimitedReader.h"

#include <QFile>

namespace {

// Windows-1252 at 0x80-0x9F; the rest of the code page is Latin-1. Unassigned bytes keep their
// C1 code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

QString fromCp1252(QByteArrayView view)
{
    QString text(view.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < view.size(); ++i) {
        const auto b = static_cast<unsigned char>(view[i]);
        out[i] = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

QString decodeAs(QByteArrayView view, bool utf8) { return utf8 ? QString::fromUtf8(view) : fromCp1252(view); }

} // namespace

QString DelimitedReader::Decode(const QByteArray& bytes)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
    return decodeAs(view, view.isValidUtf8());
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
    bytes_ = bytes;
    pos_ = bytes_.startsWith("\xEF\xBB\xBF") ? 3 : 0;
}

bool DelimitedReader::readRaw(QByteArray& raw, bool& lineEnd)
{
    raw.clear();
    const qsizetype n = bytes_.size();
    const char* s = bytes_.constData();
    qsizetype i = pos_;
    while (i < n && isBlank(s[i])) ++i;

    bool closed = true;
    if (i < n && s[i] == '"') {
        closed = false;
        ++i;
        while (i < n) {
            if (s[i] == '"') {
                if (i + 1 < n && s[i + 1] == '"') {
                    raw += '"';
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            const qsizetype start = i;
            while (i < n && s[i] != '"') ++i;
            raw.append(s + start, i - start);
        }
    }
    // Unquoted text, or what follows a closing quote, up to the separator.
    const qsizetype start = i;
    while (i < n && s[i] != ',' && !isLineEnd(s[i])) ++i;
    qsizetype end = i;
    while (end > start && isBlank(s[end - 1])) --end;
    raw.append(s + start, end - start);

    lineEnd = i >= n || isLineEnd(s[i]);
    if (i < n) {
        if (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') ++i;
        ++i;
    }
    pos_ = i;
    return closed;
}

bool DelimitedReader::ReadValue(QString& value)
{
    QByteArray raw;
    bool lineEnd = false;
    const bool closed = readRaw(raw, lineEnd);
    value = decodeAs(raw, QByteArrayView(raw).isValidUtf8());
    return closed;
}

bool DelimitedReader::ReadLine(QStringList& values)
{
    values.clear();
    const qsizetype start = pos_;
    QList<QByteArray> raws;
    bool closed = true;
    bool lineEnd = false;
    do {
        QByteArray raw;
        closed = readRaw(raw, lineEnd);
        raws << raw;
    } while (closed && !lineEnd);
    // Separators and quotes are ASCII: the record is valid UTF-8 exactly when its bytes are.
    const bool utf8 = QByteArrayView(bytes_.constData() + start, pos_ - start).isValidUtf8();
    for (const QByteArray& raw : raws) values << decodeAs(raw, utf8);
    return closed;
}
