#pragma once
// Reads a comma-delimited text file. Values are separated by a comma or a line end (LF, CR or
// CRLF). A value may stand in double quotes: then commas, line ends and doubled quotes ("")
// inside it belong to the value. Blanks around an unquoted value are dropped; text after a
// closing quote is kept.
//
// Two ways to read: value by value (a line end separates values as a comma does), or line by
// line, where a record is one line of the file (a CSV record: a line break inside quotes
// belongs to its value, not to the next record).
//
// The file is read whole. A UTF-8 byte-order mark is skipped. The encoding is decided per
// record (per value when reading value by value): valid UTF-8 is read as UTF-8, anything else
// as Windows-1252, the code page of files written by Windows programs. One stray byte thus
// changes only its own record.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

class DelimitedReader {
public:
    // Reads the file; false (with an explanation in ErrorText) when it cannot be opened or read.
    bool Open(const QString& path);
    // Takes the bytes of a file already read.
    void SetBytes(const QByteArray& bytes);

    // True when nothing is left to read.
    bool AtEnd() const { return pos_ >= bytes_.size(); }
    // The next value. False when the file ends inside a quoted value (the file stops early).
    bool ReadValue(QString& value);
    // The values of the next line. False when the file ends inside a quoted value.
    bool ReadLine(QStringList& values);
    // As ReadLine, with each value as the UTF-8 bytes of its text (a Windows-1252 record is
    // converted; a leading byte-order mark is dropped as ReadLine drops it). The views hold
    // until the next read; none is null. For a bulk load that binds the bytes as they are.
    bool ReadLineUtf8(std::vector<QByteArrayView>& values);

    // 1-based byte position of the next byte to read, and the length in bytes; used for the
    // progress shown while reading.
    qint64 Position() const { return pos_ + 1; }
    qint64 Length() const { return bytes_.size(); }
    QString ErrorText() const { return error_; }

    // Text of a whole file: UTF-8 without its byte-order mark, or Windows-1252 when not valid
    // UTF-8.
    static QString Decode(const QByteArray& bytes);

private:
    // The raw bytes of the next value (quotes taken off): a view of the file, or of scratch when
    // they had to be put together. lineEnd tells whether a line end or the end of the file
    // closed it rather than a comma.
    bool readRaw(QByteArrayView& raw, QByteArray& scratch, bool& lineEnd);
    // The raw values of the next line into raws_; utf8 tells whether the line is valid UTF-8.
    bool readRecord(bool& utf8);

    QByteArray bytes_;
    qsizetype pos_ = 0;
    QString error_;
    std::vector<QByteArray> scratch_ = std::vector<QByteArray>(1);  // one per value of a record
    std::vector<QByteArrayView> raws_;
    std::vector<QByteArray> converted_;  // a Windows-1252 record's values as UTF-8
};
