#include "LogText.h"

namespace TaviWebModuleInternal {

namespace {

bool isControl(char16_t u)
{
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

} // namespace

QString escapeForLog(QStringView text)
{
    qsizetype controls = 0;
    for (const QChar c : text)
        controls += isControl(c.unicode()) ? 1 : 0;
    if (controls == 0)
        return text.toString();
    QString out;
    out.reserve(text.size() + 5 * controls);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!isControl(u)) {
            out += c;
            continue;
        }
        switch (u) {
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            out += u > 0xff ? QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'))
                            : QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
            break;
        }
    }
    return out;
}

} // namespace TaviWebModuleInternal
