#include "JsScript.h"

namespace TaviWebModuleInternal {

namespace {

bool needsEscape(char16_t u)
{
    return u < 0x20 || u == u'\'' || u == u'\\' || (u >= 0x7f && u <= 0x9f) || u == 0x2028
        || u == 0x2029 || QChar::isSurrogate(u);
}

} // namespace

void appendJsString(QString& script, const QString& text)
{
    // Quotes, backslashes and line terminators would otherwise end the
    // literal or let a host text run its own script.
    script += QLatin1Char('\'');
    const qsizetype size = text.size();
    const QChar* data = text.constData();
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = data[i].unicode();
        if (!needsEscape(u))
            continue;
        // A well-formed surrogate pair (an emoji) is ordinary text.
        if (QChar::isHighSurrogate(u) && i + 1 < size
            && QChar::isLowSurrogate(data[i + 1].unicode())) {
            ++i;
            continue;
        }
        script.append(data + plainFrom, i - plainFrom);
        plainFrom = i + 1;
        switch (u) {
        case u'\'':
            script += QLatin1String("\\'");
            break;
        case u'\\':
            script += QLatin1String("\\\\");
            break;
        case u'\n':
            script += QLatin1String("\\n");
            break;
        case u'\r':
            script += QLatin1String("\\r");
            break;
        default:
            script += QLatin1String("\\u");
            script += QString::number(uint(u), 16).rightJustified(4, QLatin1Char('0'));
            break;
        }
    }
    script.append(data + plainFrom, size - plainFrom);
    script += QLatin1Char('\'');
}

QString jsCall(QLatin1String function, std::initializer_list<QString> args)
{
    qsizetype length = function.size() + 2;
    for (const QString& arg : args)
        length += arg.size() + 4;
    QString script;
    script.reserve(length);
    script += function;
    script += QLatin1Char('(');
    bool first = true;
    for (const QString& arg : args) {
        if (!first)
            script += QLatin1String(", ");
        first = false;
        appendJsString(script, arg);
    }
    script += QLatin1Char(')');
    return script;
}

} // namespace TaviWebModuleInternal
