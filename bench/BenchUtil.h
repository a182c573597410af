#pragma once
// What several benchmarks share.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <cstdio>

inline double ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// Milliseconds f takes.
template <typename F>
double timed(F&& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return ms(t);
}

// Milliseconds a reference tool takes over the given input, its output thrown away; negative,
// with the tool's complaint printed, when it fails.
inline double RunTool(const QString& program, const QStringList& args, const QByteArray& input = QByteArray())
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::printf("%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return -1;
    }
    return ms(t);
}

// A message file to fill folders with: the caller's header block, then a body by number: every
// tenth message carries a 20 KB attachment, two in ten are multipart/alternative (text and
// HTML), the rest plain text of thirty lines.
inline QByteArray BenchMessage(const QByteArray& head, int i)
{
    QByteArray text;
    for (int l = 0; l < 30; ++l) text += "Line " + QByteArray::number(l) + " of a plain message body that says little.\n";
    if (i % 10 == 0) {
        QByteArray att;
        for (int k = 0; k < 20 * 1024 / 57; ++k) att += QByteArray(57, char('a' + k % 26)).toBase64() + "\n";
        return head + "Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\nContent-Type: text/plain\n\n" + text +
               "\n--b1\nContent-Type: application/pdf; name=\"r.pdf\"\nContent-Disposition: attachment; filename=\"r.pdf\"\n"
               "Content-Transfer-Encoding: base64\n\n" + att + "--b1--\n";
    }
    if (i % 10 < 3)
        return head + "Content-Type: multipart/alternative; boundary=\"b2\"\n\n--b2\nContent-Type: text/plain\n\n" + text +
               "\n--b2\nContent-Type: text/html; charset=utf-8\n\n<html><body><p>" + text + "</p></body></html>\n--b2--\n";
    return head + "Content-Type: text/plain; charset=utf-8\n\n" + text;
}
