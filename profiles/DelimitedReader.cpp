#include "profiles/DelimitedReader.h"

#include <QFile>

#include <cstring>

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

bool DelimitedReader::readRaw(QByteArrayView& raw, QByteArray& scratch, bool& lineEnd)
{
    const qsizetype n = bytes_.size();
    const char* s = bytes_.constData();
    qsizetype i = pos_;
    while (i < n && isBlank(s[i])) ++i;

    // The value is the file's own bytes when it can be: unquoted, or quoted with no doubled
    // quote and nothing after the closing one. Otherwise it is put together in scratch.
    bool closed = true;
    bool assembled = false;
    qsizetype quotedStart = -1, quotedEnd = -1;
    if (i < n && s[i] == '"') {
        closed = false;
        ++i;
        quotedStart = i;
        while (i < n) {
            if (s[i] == '"') {
                if (i + 1 < n && s[i + 1] == '"') {
                    if (!assembled) {
                        scratch.truncate(0);
                        scratch.append(s + quotedStart, i - quotedStart);
                        assembled = true;
                    }
                    scratch += '"';
                    i += 2;
                    continue;
                }
                if (!assembled) quotedEnd = i;
                ++i;
                closed = true;
                break;
            }
            const qsizetype start = i;
            const char* quote = static_cast<const char*>(std::memchr(s + i, '"', size_t(n - i)));
            i = quote ? quote - s : n;
            if (assembled) scratch.append(s + start, i - start);
        }
        if (!closed && !assembled) quotedEnd = n;
    }
    // Unquoted text, or what follows a closing quote, up to the separator.
    const qsizetype start = i;
    while (i < n && s[i] != ',' && !isLineEnd(s[i])) ++i;
    qsizetype end = i;
    while (end > start && isBlank(s[end - 1])) --end;

    if (quotedStart < 0) {
        raw = QByteArrayView(s + start, end - start);
    } else if (!assembled && end == start) {
        raw = QByteArrayView(s + quotedStart, quotedEnd - quotedStart);
    } else {
        if (!assembled) {
            scratch.truncate(0);
            scratch.append(s + quotedStart, quotedEnd - quotedStart);
        }
        scratch.append(s + start, end - start);
        raw = scratch;
    }

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
    QByteArrayView raw;
    bool lineEnd = false;
    const bool closed = readRaw(raw, scratch_[0], lineEnd);
    value = decodeAs(raw, raw.isValidUtf8());
    return closed;
}

bool DelimitedReader::readRecord(bool& utf8)
{
    const qsizetype start = pos_;
    raws_.clear();
    bool closed = true;
    bool lineEnd = false;
    do {
        if (scratch_.size() <= raws_.size()) scratch_.resize(raws_.size() + 1);
        QByteArrayView raw;
        closed = readRaw(raw, scratch_[raws_.size()], lineEnd);
        raws_.push_back(raw);
    } while (closed && !lineEnd);
    // Separators and quotes are ASCII: the record is valid UTF-8 exactly when its bytes are.
    utf8 = QByteArrayView(bytes_.constData() + start, pos_ - start).isValidUtf8();
    return closed;
}

bool DelimitedReader::ReadLine(QStringList& values)
{
    values.clear();
    bool utf8 = true;
    const bool closed = readRecord(utf8);
    values.reserve(qsizetype(raws_.size()));
    for (const QByteArrayView raw : raws_) values << decodeAs(raw, utf8);
    return closed;
}

bool DelimitedReader::ReadLineUtf8(std::vector<QByteArrayView>& values)
{
    bool utf8 = true;
    const bool closed = readRecord(utf8);
    values.assign(raws_.begin(), raws_.end());
    if (utf8) {
        // Decoding to text drops one byte-order mark at the start of a value.
        for (QByteArrayView& v : values)
            if (v.size() >= 3 && v[0] == '\xEF' && v[1] == '\xBB' && v[2] == '\xBF') v = v.sliced(3);
        return closed;
    }
    if (converted_.size() < values.size()) converted_.resize(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i].isEmpty()) continue;  // stays a view of the file: empty, not null
        converted_[i] = fromCp1252(values[i]).toUtf8();
        values[i] = converted_[i];
    }
    return closed;
}
