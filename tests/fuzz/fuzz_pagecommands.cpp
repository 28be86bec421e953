// The page's file commands: the copy orders and the deletion list as a page
// writes them (JSON.stringify's escapes, written here independently) are read
// back as exactly the paths sent; any other text is read or refused without
// harm, and what is read reads the same once written again. The snapshot's
// image text gives exactly the bytes of its base64, read independently, and
// a page's own data URL gives back its image.

#include "FuzzInput.h"

#include <PageCommands.h>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

using namespace TaviWebModuleInternal;

namespace {

// A JSON string as JSON.stringify writes it (lone surrogates as \u escapes).
QString stringified(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool pairStart
            = QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pairStart) {
            out += text.at(i);
            out += text.at(++i);
        } else if (c == u'"' || c == u'\\') {
            out += QLatin1Char('\\') + QChar(c);
        } else if (c < 0x20 || QChar::isSurrogate(c)) {
            out += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
        } else {
            out += QChar(c);
        }
    }
    return out + QLatin1Char('"');
}

// The text as the page meant it: a lone surrogate cannot travel in UTF-8.
QString wellFormed(const QString& text)
{
    return QString::fromUtf8(text.toUtf8());
}

void copyOrdersAsSent(FuzzInput& in)
{
    QStringList sources, targets, parts;
    for (int n = in.byte() % 4; n > 0; --n) {
        sources << in.utf16(in.byte() % 64);
        targets << in.utf16(in.byte() % 64);
        parts << QStringLiteral("{\"sourceFile\":%1,\"targetFile\":%2}")
                     .arg(stringified(sources.last()), stringified(targets.last()));
    }
    QJsonArray orders;
    if (!commandArray(QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']'), orders))
        fail("orders as a page sends them refused", parts.join(QLatin1Char(',')));
    if (orders.size() != sources.size())
        fail("another number of orders", parts.join(QLatin1Char(',')));
    for (qsizetype i = 0; i < orders.size(); ++i) {
        const QJsonObject o = orders.at(i).toObject();
        // A lone surrogate's escape reads as U+FFFD, as the module always did.
        const auto same = [](const QString& got, const QString& sent) {
            return got == sent || got == wellFormed(sent);
        };
        if (!same(o.value(QLatin1String("sourceFile")).toString(), sources.at(i))
            || !same(o.value(QLatin1String("targetFile")).toString(), targets.at(i)))
            fail("another path read", parts.at(i));
    }
}

void anyCommand(FuzzInput& in)
{
    const QString text = QString::fromUtf8(in.bytes(4096));
    QJsonArray array;
    if (!commandArray(text, array))
        return;
    QJsonArray again;
    const QString written = QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
    if (!commandArray(written, again) || again != array)
        fail("a command reads otherwise once written again", text);
}

void imageText(FuzzInput& in)
{
    const QString text = in.restUtf16();
    const std::optional<QByteArray> image = snapshotImageData(text);
    const qsizetype at = text.indexOf(QLatin1String("base64,"));
    if (image.has_value() != (at >= 0))
        fail("marker found otherwise", text);
    if (at < 0)
        return;
    QByteArray alphabet;
    for (qsizetype i = at + 7; i < text.size() && text.at(i) != QChar(u'\0'); ++i) {
        const char16_t c = text.at(i).unicode();
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')
            || c == u'+' || c == u'/' || c == u'=')
            alphabet += char(c);
    }
    if (*image != QByteArray::fromBase64(alphabet))
        fail("other image bytes", text);
}

void pageDataUrl(FuzzInput& in)
{
    const QByteArray bytes = QByteArray::fromStdString(in.bytes(4096));
    const QString url
        = QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
    if (snapshotImageData(url) != bytes)
        fail("a page's image changed on its way", url);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // "Invalid JSON string" for nearly every input would only slow the run.
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(quiet);
    FuzzInput in(data, size);
    switch (in.byte() % 4) {
    case 0:
        copyOrdersAsSent(in);
        break;
    case 1:
        anyCommand(in);
        break;
    case 2:
        imageText(in);
        break;
    default:
        pageDataUrl(in);
        break;
    }
    return 0;
}
