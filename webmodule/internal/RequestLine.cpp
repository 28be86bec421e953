#include "RequestLine.h"

#include <QtCore/QDebug>
#include <charconv>

namespace TaviWebModuleInternal {

namespace {

// A line's buffer larger than this is let go after the line.
constexpr qsizetype kKeptLineCapacity = 16 * 1024;

// Appends text as the debug stream writes a QString: in double quotes, with
// the stream's escaping. Printable ASCII, the usual case (JSON included),
// is written here, with quotes and backslashes escaped as the stream does;
// anything else is left to the stream itself. Neither loop branches on the
// bytes: every page call passes here (see bench_bridgecalls).
void appendQuoted(QString& line, const char* utf8)
{
    const qsizetype length = qsizetype(qstrlen(utf8));
    unsigned outside = 0;
    qsizetype escapes = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        outside |= unsigned(c < 0x20) | unsigned(c >= 0x7f);
        escapes += qsizetype(c == '"') + qsizetype(c == '\\');
    }
    if (outside) {
        QDebug(&line) << QString::fromUtf8(utf8, length);
        return;
    }
    // Written in place: the bytes are the characters.
    const qsizetype at = line.size();
    line.resize(at + length + escapes + 3);
    QChar* out = line.data() + at;
    *out++ = u'"';
    for (qsizetype i = 0; i < length; ++i) {
        const char c = utf8[i];
        *out = u'\\';
        out += int(c == '"') | int(c == '\\');
        *out++ = QLatin1Char(c);
    }
    *out++ = u'"';
    *out = u' ';
}

} // namespace

QString requestLine(int cmd, const char* msg, const char* sn, const char* devid)
{
    // Kept from call to call: its allocation serves the next line. The
    // text returned shares it; a line built while the caller still holds
    // one (a message handler's own request) detaches and leaves it intact.
    thread_local QString line;
    line.resize(0);
    // Only when short: a reserve() of the capacity the buffer already has
    // may reallocate it.
    const qsizetype needed = 80 + 2 * (qsizetype(qstrlen(msg)) + qstrlen(sn) + qstrlen(devid));
    if (needed > line.capacity())
        line.reserve(needed);
    char number[16];
    const char* digitsEnd = std::to_chars(number, number + sizeof number, cmd).ptr;
    line += QLatin1String("RequestToServer:cmd= ");
    line += QLatin1String(number, digitsEnd);
    line += QLatin1String(" devid= ");
    appendQuoted(line, devid);
    line += QLatin1String("sn= ");
    appendQuoted(line, sn);
    line += QLatin1String("param= ");
    appendQuoted(line, msg);
    line.chop(1); // the stream drops the last separator too
    const QString text = line;
    if (line.capacity() > kKeptLineCapacity)
        line = QString();
    return text;
}

} // namespace TaviWebModuleInternal
