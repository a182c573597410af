#include "platform/mail/MimeQuick.h"

#include <QSet>
#include <QString>

#include <cstring>

namespace mail::mime::quick {

namespace {

bool isAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && (isBlank(v.front()) || v.front() == '\r' || v.front() == '\n'))
        v = v.sliced(1);
    while (!v.isEmpty() && (isBlank(v.back()) || v.back() == '\r' || v.back() == '\n'))
        v.chop(1);
    return v;
}

// Printable ASCII only, and no encoded word: anything else is GMime's to read.
bool plainAscii(QByteArrayView v)
{
    for (const char c : v)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            return false;
        else if (static_cast<unsigned char>(c) > 0x7E)
            return false;
    return !v.contains("=?");
}

bool isEqualIgnoringCase(QByteArrayView a, const char* b)
{
    const QByteArrayView bv(b);
    if (a.size() != bv.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(bv[i]))
            return false;
    return true;
}

// A word of a name: letters, digits and a few marks that need no quoting anywhere.
bool nameWord(QByteArrayView w)
{
    if (w.isEmpty())
        return false;
    for (const char c : w)
        if (!isAlnum(c) && c != '-' && c != '_' && c != '\'')
            return false;
    return true;
}

// local@domain, each side dot-separated runs of the common address characters.
bool addrSpec(QByteArrayView s)
{
    const qsizetype at = s.indexOf('@');
    if (at <= 0 || at == s.size() - 1 || s.sliced(at + 1).contains('@'))
        return false;
    auto dotted = [](QByteArrayView p, bool domain) {
        if (p.isEmpty() || p.front() == '.' || p.back() == '.' || p.contains(".."))
            return false;
        for (const char c : p)
            if (!isAlnum(c) && c != '.' && c != '-' && !(!domain && (c == '_' || c == '+')))
                return false;
        return true;
    };
    return dotted(s.first(at), false) && dotted(s.sliced(at + 1), true);
}

bool token(char c) { return isAlnum(c) || c == '-' || c == '+' || c == '.' || c == '_'; }

// "first[/second]" then "; name=value" pairs.
bool params(QByteArrayView v, bool withSubtype, Params& out)
{
    v = trimmed(v);
    if (!plainAscii(v))
        return false;
    out = Params();
    qsizetype i = 0;
    auto word = [&](QByteArray& into) {
        const qsizetype start = i;
        while (i < v.size() && token(v[i]))
            into += lower(v[i++]);
        return i > start;
    };
    if (!word(out.type))
        return false;
    if (withSubtype) {
        if (i >= v.size() || v[i] != '/')
            return false;
        ++i;
        if (!word(out.subtype))
            return false;
    }
    // The names said so far, kept once there are more than a few: looking each new name up
    // among all before it would take the square of their count.
    QSet<QByteArray> names;
    constexpr qsizetype kFew = 8;
    for (;;) {
        while (i < v.size() && isBlank(v[i]))
            ++i;
        if (i >= v.size())
            return true;
        if (v[i] != ';')
            return false;
        ++i;
        while (i < v.size() && isBlank(v[i]))
            ++i;
        if (i >= v.size())
            return true;
        QByteArray name;
        if (!word(name) || i >= v.size() || v[i] != '=')
            return false;
        ++i;
        QByteArray value;
        if (i < v.size() && v[i] == '"') {
            const qsizetype close = v.indexOf('"', i + 1);
            if (close < 0)
                return false;
            value = v.sliced(i + 1, close - i - 1).toByteArray();
            if (value.contains('\\'))
                return false;
            i = close + 1;
        } else {
            const qsizetype start = i;
            while (i < v.size() && token(v[i]))
                ++i;
            if (i == start)
                return false;
            value = v.sliced(start, i - start).toByteArray();
        }
        if (out.params.size() == kFew)
            for (const auto& p : std::as_const(out.params))
                names.insert(p.first);
        if (out.params.size() < kFew ? out.value(name.constData()) != nullptr : names.contains(name))
            return false;  // said twice: which one counts is GMime's call
        if (out.params.size() >= kFew)
            names.insert(name);
        out.params.append({name, value});
    }
}

int monthOf(QByteArrayView m)
{
    static const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (m == QByteArrayView(names[i]))
            return i + 1;
    return 0;
}

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

enum class Charset { None, Utf8, Ascii, Latin1 };

// One whole encoded word: its charset and its bytes.
bool encodedWord(QByteArrayView w, Charset& charset, QByteArray& bytes)
{
    if (!w.startsWith("=?") || !w.endsWith("?=") || w.size() < 8)
        return false;
    const QByteArrayView inner = w.sliced(2, w.size() - 4);
    const qsizetype q1 = inner.indexOf('?');
    if (q1 <= 0 || q1 + 2 >= inner.size() || inner[q1 + 2] != '?')
        return false;
    const QByteArrayView cs = inner.first(q1);
    const char enc = lower(inner[q1 + 1]);
    const QByteArrayView payload = inner.sliced(q1 + 3);
    if (payload.isEmpty() || payload.contains('?'))
        return false;
    if (isEqualIgnoringCase(cs, "utf-8"))
        charset = Charset::Utf8;
    else if (isEqualIgnoringCase(cs, "us-ascii"))
        charset = Charset::Ascii;
    else if (isEqualIgnoringCase(cs, "iso-8859-1"))
        charset = Charset::Latin1;
    else
        return false;
    bytes.clear();
    if (enc == 'q') {
        for (qsizetype i = 0; i < payload.size(); ++i) {
            const char c = payload[i];
            if (c == '_') {
                bytes += ' ';
            } else if (c == '=') {
                const int hi = i + 2 < payload.size() ? hexValue(payload[i + 1]) : -1;
                const int lo = hi >= 0 ? hexValue(payload[i + 2]) : -1;
                if (lo < 0)
                    return false;
                bytes += char(hi * 16 + lo);
                i += 2;
            } else {
                bytes += c;
            }
        }
    } else if (enc == 'b') {
        if (payload.size() % 4 != 0)
            return false;
        for (const char c : payload)
            if (!isAlnum(c) && c != '+' && c != '/' && c != '=')
                return false;
        const qsizetype pad = payload.indexOf('=');
        if (pad >= 0 && (pad < payload.size() - 2 || (pad == payload.size() - 2 && payload.back() != '=')))
            return false;
        const auto decoded = QByteArray::fromBase64Encoding(payload.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        bytes = *decoded;
    } else {
        return false;
    }
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;  // what GMime makes of control characters is its own business
    return true;
}

} // namespace

bool text(QByteArrayView value, QString& out)
{
    const QByteArrayView v = trimmed(value);
    for (const char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    QByteArray utf8;
    QByteArray run;  // the bytes of adjacent encoded words of one charset, not yet converted
    Charset runCharset = Charset::None;
    QByteArrayView pendingBlanks;
    auto endRun = [&] {
        if (runCharset == Charset::None)
            return true;
        if (runCharset == Charset::Latin1) {
            utf8 += QString::fromLatin1(run).toUtf8();
        } else {
            if (!QByteArrayView(run).isValidUtf8())
                return false;
            if (runCharset == Charset::Ascii)
                for (const char c : std::as_const(run))
                    if (static_cast<unsigned char>(c) > 0x7E)
                        return false;
            utf8 += run;
        }
        run.clear();
        runCharset = Charset::None;
        return true;
    };
    qsizetype i = 0;
    while (i < v.size()) {
        const qsizetype start = i;
        while (i < v.size() && v[i] == ' ')
            ++i;
        if (i > start) {
            pendingBlanks = v.sliced(start, i - start);
            continue;
        }
        while (i < v.size() && v[i] != ' ')
            ++i;
        const QByteArrayView word = v.sliced(start, i - start);
        Charset cs = Charset::None;
        QByteArray bytes;
        if (encodedWord(word, cs, bytes)) {
            // Blanks between two encoded words go; a change of charset ends the run.
            const bool afterEncoded = runCharset != Charset::None;
            if (afterEncoded && cs != runCharset && !endRun())
                return false;
            if (!afterEncoded)
                utf8 += pendingBlanks;
            run += bytes;
            runCharset = cs;
        } else {
            if (word.contains("=?"))
                return false;
            if (!endRun())
                return false;
            utf8 += pendingBlanks;
            utf8 += word;
        }
        pendingBlanks = {};
    }
    if (!endRun())
        return false;
    out = QString::fromUtf8(utf8);
    return true;
}

const QByteArray* Params::value(const char* name) const
{
    for (const auto& p : params)
        if (p.first == name)
            return &p.second;
    return nullptr;
}

bool contentType(QByteArrayView value, Params& out) { return params(value, true, out); }
bool disposition(QByteArrayView value, Params& out) { return params(value, false, out); }

bool addresses(QByteArrayView value, QList<Address>& out)
{
    const QByteArrayView v = trimmed(value);
    if (v.isEmpty() || !plainAscii(v))
        return false;
    QList<Address> found;
    qsizetype from = 0;
    while (from <= v.size()) {
        qsizetype comma = v.indexOf(',', from);
        if (comma < 0)
            comma = v.size();
        const QByteArrayView item = trimmed(v.sliced(from, comma - from));
        from = comma + 1;
        if (item.isEmpty())
            return false;
        if (item.back() == '>') {
            const qsizetype open = item.indexOf('<');
            if (open < 0 || item.indexOf('<', open + 1) >= 0)
                return false;
            const QByteArrayView addr = item.sliced(open + 1, item.size() - open - 2);
            const QByteArrayView name = trimmed(item.first(open));
            if (!addrSpec(addr))
                return false;
            // Words with one blank between them.
            qsizetype w = 0;
            while (w < name.size()) {
                qsizetype blank = name.indexOf(' ', w);
                if (blank < 0)
                    blank = name.size();
                if (!nameWord(name.sliced(w, blank - w)))
                    return false;
                w = blank + 1;
            }
            found.append({QString::fromLatin1(name), QString::fromLatin1(addr)});
        } else {
            if (!addrSpec(item))
                return false;
            found.append({QString(), QString::fromLatin1(item)});
        }
    }
    out = found;
    return true;
}

bool date(QByteArrayView value, qint64& secs)
{
    QByteArrayView v = trimmed(value);
    if (!plainAscii(v))
        return false;
    // The words, blanks between them.
    QByteArrayView w[7];
    int n = 0;
    qsizetype i = 0;
    while (i < v.size()) {
        while (i < v.size() && v[i] == ' ')
            ++i;
        if (i >= v.size())
            break;
        if (n == 7)
            return false;
        qsizetype start = i;
        if (v[i] == '(') {
            const qsizetype close = v.indexOf(')', i);
            if (close != v.size() - 1 || v.sliced(i + 1, close - i - 1).contains('('))
                return false;
            break;  // a closing comment, as "(UTC)"
        }
        while (i < v.size() && v[i] != ' ')
            ++i;
        w[n++] = v.sliced(start, i - start);
    }
    int k = 0;
    if (n == 6) {
        static const char* const days[] = {"Mon,", "Tue,", "Wed,", "Thu,", "Fri,", "Sat,", "Sun,"};
        bool known = false;
        for (const char* d : days)
            known = known || w[0] == QByteArrayView(d);
        if (!known)
            return false;
        k = 1;
    } else if (n != 5) {
        return false;
    }
    const QByteArrayView day = w[k], mon = w[k + 1], year = w[k + 2], time = w[k + 3], zone = w[k + 4];
    auto number = [](QByteArrayView s, int& into) {
        into = 0;
        for (const char c : s) {
            if (!isDigit(c))
                return false;
            into = into * 10 + (c - '0');
        }
        return !s.isEmpty();
    };
    int d = 0, y = 0, hh = 0, mm = 0, ss = 0, zh = 0, zm = 0;
    const int m = monthOf(mon);
    if (day.size() > 2 || !number(day, d) || m == 0 || year.size() != 4 || !number(year, y) || y < 1969)
        return false;
    if (time.size() != 8 || time[2] != ':' || time[5] != ':' || !number(time.sliced(0, 2), hh) || !number(time.sliced(3, 2), mm)
        || !number(time.sliced(6, 2), ss))
        return false;
    if (zone.size() != 5 || (zone[0] != '+' && zone[0] != '-') || !number(zone.sliced(1, 2), zh) || !number(zone.sliced(3, 2), zm))
        return false;
    if (d < 1 || d > daysInMonth(y, m) || hh > 23 || mm > 59 || ss > 59 || zh > 23 || zm > 59)
        return false;
    const qint64 offset = (zh * 3600 + zm * 60) * (zone[0] == '-' ? -1 : 1);
    secs = daysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss - offset;
    return true;
}

bool headers(QByteArrayView text, QList<Header>& out, qsizetype& end)
{
    out.clear();
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype nl = text.indexOf('\n', pos);
        if (nl < 0)
            return false;  // no blank line: not a plain header block
        QByteArrayView line = text.sliced(pos, nl - pos);
        pos = nl + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty()) {
            end = pos;
            return true;
        }
        if (isBlank(line.front())) {
            if (out.isEmpty())
                return false;
            out.last().value += line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        const QByteArrayView name = line.first(colon);
        for (const char c : name)
            if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) > 0x7E)
                return false;
        out.append({name, line.sliced(colon + 1).toByteArray()});
    }
    return false;
}

namespace {

// The walk of the parts, as the GMime walker in MimeUtil does it, on the text itself.
struct Scan {
    QByteArrayView whole;
    Structure& out;
    QList<QByteArray> bounds;  // "--boundary" of each multipart we are in, outermost first
    int attachments = 0;
    bool bodySeen = false, htmlSeen = false;

    enum Line { Content, Start, End, Bad };

    // What the line is to the innermost multipart. A line that begins like a boundary of any
    // open multipart and is not exactly one, or is one of an outer multipart, ends the quick
    // walk: which one GMime would take it for is GMime's call.
    Line classify(QByteArrayView line, bool innermostOnly) const
    {
        if (!line.startsWith("--"))
            return Content;
        for (qsizetype b = 0; b < bounds.size(); ++b) {
            const QByteArray& bound = bounds.at(b);
            if (!line.startsWith(bound))
                continue;
            const QByteArrayView rest = line.sliced(bound.size());
            const bool innermost = b == bounds.size() - 1;
            if (!innermost || !innermostOnly)
                return Bad;
            if (rest.isEmpty())
                return Start;
            if (rest == "--")
                return End;
            return Bad;
        }
        return Content;
    }

    // The next line from pos below to: [pos, lineEnd) without its line break; next is after it.
    static QByteArrayView lineAt(QByteArrayView text, qsizetype pos, qsizetype to, qsizetype& next)
    {
        qsizetype nl = text.indexOf('\n', pos);
        if (nl < 0 || nl >= to)
            nl = to;
        next = nl < to ? nl + 1 : to;
        QByteArrayView line = text.sliced(pos, nl - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        return line;
    }

    // The next boundary line of the innermost multipart at or after pos, below to: its kind and
    // where it and the line after it start; Content when there is none.
    Line nextBoundary(qsizetype pos, qsizetype to, qsizetype& lineStart, qsizetype& after) const
    {
        while (pos < to) {
            // Only lines starting "--" matter: jump from one to the next. A dash is rare in
            // text and absent from base64, so looking for dashes skips most content at once.
            qsizetype hit = pos;
            const char* data = whole.data();
            while (!(hit + 1 < to && data[hit] == '-' && data[hit + 1] == '-' && (hit == pos || data[hit - 1] == '\n'))) {
                const void* dash = std::memchr(data + hit + 1, '-', size_t(to - hit - 1));
                if (!dash)
                    return Content;
                hit = static_cast<const char*>(dash) - data;
            }
            qsizetype next = 0;
            const QByteArrayView line = lineAt(whole, hit, to, next);
            const Line kind = classify(line, true);
            if (kind != Content) {
                lineStart = hit;
                after = next;
                return kind;
            }
            pos = next;
        }
        return Content;
    }

    // Each level looks for its boundary through all the levels inside it, and each boundary
    // line is held against every open one: deeper than real mail goes, that would take the
    // square of the depth or worse, so it is GMime's to read.
    static constexpr qsizetype kMaxDepth = 8;

    bool multipart(qsizetype from, qsizetype to, const QByteArray& boundary, bool digest)
    {
        if (boundary.isEmpty() || digest || bounds.size() >= kMaxDepth)
            return false;
        const QByteArray bound = "--" + boundary;
        for (const QByteArray& b : std::as_const(bounds))
            if (b.startsWith(bound) || bound.startsWith(b))
                return false;
        bounds.append(bound);
        qsizetype lineStart = 0, after = 0;
        // The preamble, up to the first boundary.
        if (nextBoundary(from, to, lineStart, after) != Start)
            return false;
        for (;;) {
            const qsizetype partStart = after;
            const Line kind = nextBoundary(partStart, to, lineStart, after);
            if (kind == Content || kind == Bad)
                return false;  // never closed, or unclear
            if (!part(partStart, lineStart))
                return false;
            if (kind == End)
                break;
        }
        bounds.removeLast();
        return true;
    }

    bool part(qsizetype from, qsizetype to)
    {
        Params ct, disp;
        ct.type = "text";
        ct.subtype = "plain";
        bool haveType = false, haveDisp = false;
        qsizetype contentStart = from;
        qsizetype next = 0;
        if (!lineAt(whole, from, to, next).isEmpty() || next == from) {
            QList<Header> hs;
            qsizetype end = 0;
            if (!headers(whole.sliced(from, to - from), hs, end))
                return false;
            contentStart = from + end;
            for (const Header& h : std::as_const(hs)) {
                if (isEqualIgnoringCase(h.name, "content-type")) {
                    if (haveType || !contentType(h.value, ct))
                        return false;
                    haveType = true;
                } else if (isEqualIgnoringCase(h.name, "content-disposition")) {
                    if (haveDisp || !disposition(h.value, disp))
                        return false;
                    haveDisp = true;
                }
            }
        } else {
            contentStart = next;  // no headers at all
        }
        if (ct.type == "multipart") {
            const QByteArray* b = ct.value("boundary");
            return b && multipart(contentStart, to, *b, ct.subtype == "digest");
        }
        if (ct.type == "message")
            return false;
        const QByteArray* filename = haveDisp ? disp.value("filename") : nullptr;
        if (!filename)
            filename = ct.value("name");
        const bool isFile = (haveDisp && disp.type == "attachment") || filename;
        const QString mimeType = QString::fromLatin1(ct.type + '/' + ct.subtype);
        if (ct.type == "text" && ct.subtype == "calendar") {
            const QByteArray* method = ct.value("method");
            if (method && isEqualIgnoringCase(*method, "request"))
                out.meetingRequest = true;
        }
        const bool plain = ct.type == "text" && ct.subtype == "plain";
        const bool html = ct.type == "text" && ct.subtype == "html";
        if (!isFile && (plain || html)) {
            bool& seen = plain ? bodySeen : htmlSeen;
            if (!seen) {
                seen = true;
                return true;
            }
        }
        out.attachments.append({attachmentName(++attachments, filename ? QString::fromLatin1(*filename) : QString(), mimeType), mimeType});
        return true;
    }
};

} // namespace

bool structure(QByteArrayView whole, Structure& out)
{
    QList<Header> hs;
    qsizetype bodyStart = 0;
    if (!headers(whole, hs, bodyStart))
        return false;
    Params ct;
    bool haveType = false;
    for (const Header& h : std::as_const(hs)) {
        if (!isEqualIgnoringCase(h.name, "content-type"))
            continue;
        if (haveType || !contentType(h.value, ct))
            return false;
        haveType = true;
    }
    const QByteArray* boundary = ct.value("boundary");
    if (!haveType || ct.type != "multipart" || !boundary)
        return false;
    Structure s;
    s.parsed = true;
    Scan scan{whole, s, {}};
    if (!scan.multipart(bodyStart, whole.size(), *boundary, ct.subtype == "digest"))
        return false;
    out = s;
    return true;
}

} // namespace mail::mime::quick
