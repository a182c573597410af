#pragma once
// Reads the values of a comma-delimited text file one at a time. Values are separated by a comma
// or a line end (LF, CR or CRLF); a record is a run of values, not a line. A value may stand in
// double quotes: then commas, line ends and doubled quotes ("") inside it belong to the value.
// Blanks around an unquoted value are dropped; text after a closing quote is kept.
//
// The file is read whole. A UTF-8 byte-order mark is skipped; text that is not valid UTF-8 is
// read as Windows-1252, the code page of files written by Windows programs.
#include <QByteArray>
#include <QString>
#include <QStringList>

class DelimitedReader {
public:
    // Reads the file; false (with an explanation in ErrorText) when it cannot be opened or read.
    bool Open(const QString& path);
    // Takes the bytes of a file already read.
    void SetBytes(const QByteArray& bytes);

    // True when no value is left.
    bool AtEnd() const { return pos_ >= text_.size(); }
    // The next value. False when the file ends inside a quoted value (the file stops early).
    bool ReadValue(QString& value);
    // count values (a record); false when the file ends before the record is whole.
    bool ReadRecord(int count, QStringList& values);

    // 1-based position of the next character to read, and the length in characters; used for
    // the progress shown while reading.
    qint64 Position() const { return pos_ + 1; }
    qint64 Length() const { return text_.size(); }
    QString ErrorText() const { return error_; }

    // The file's text: UTF-8 without its byte-order mark, or Windows-1252 when not valid UTF-8.
    static QString Decode(const QByteArray& bytes);

private:
    QString text_;
    qsizetype pos_ = 0;
    QString error_;
};
