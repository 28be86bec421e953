#include "JsScript.h"

namespace TaviWebModuleInternal {

namespace {

bool needsEscape(char16_t u)
{
    return u < 0x20 || u == u'\'' || u == u'\\' || (u >= 0x7f && u <= 0x9f) || u == 0x2028
        || u == 0x2029 || QChar::isSurrogate(u);
}

// Where the pieces of a long call wait in the page: a property no page
// names by accident.
const QLatin1String kPieceStore("Symbol.for('tavi.webmodule.pieces')");

} // namespace

void appendJsString(QString& script, QStringView text, bool dropLineFeeds)
{
    // Quotes, backslashes and line terminators would otherwise end the
    // literal or let a host text run its own script.
    script += QLatin1Char('\'');
    const qsizetype size = text.size();
    const QChar* data = text.data();
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
            if (!dropLineFeeds)
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

QString jsCall(QLatin1String function, std::initializer_list<QString> args, bool dropLineFeeds)
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
        appendJsString(script, arg, dropLineFeeds);
    }
    script += QLatin1Char(')');
    return script;
}

QString jsBatch(const QList<QString>& calls)
{
    const QLatin1String head("(function () { var v = [], r = function (e) {"
                             " if (typeof reportError === 'function') reportError(e);"
                             " else setTimeout(function () { throw e; }); };\n");
    const QLatin1String before("try { v.push(");
    const QLatin1String after("); } catch (e) { v.push(undefined); r(e); }\n");
    const QLatin1String tail("return v; })()");
    qsizetype length = head.size() + tail.size();
    for (const QString& call : calls)
        length += before.size() + call.size() + after.size();
    QString script;
    script.reserve(length);
    script += head;
    for (const QString& call : calls) {
        script += before;
        script += call;
        script += after;
    }
    script += tail;
    return script;
}

QString jsPiece(quint64 transfer, int arg, QStringView slice, bool dropLineFeeds)
{
    QString script;
    script.reserve(slice.size() + 200);
    script += QLatin1String("(function (w, k) { var b = w[k]; if (!b || b.id !== ");
    script += QString::number(transfer);
    script += QLatin1String(") b = w[k] = { id: ");
    script += QString::number(transfer);
    script += QLatin1String(", a: [] }; (b.a[");
    script += QString::number(arg);
    script += QLatin1String("] = b.a[");
    script += QString::number(arg);
    script += QLatin1String("] || []).push(");
    appendJsString(script, slice, dropLineFeeds);
    script += QLatin1String("); })(window, ");
    script += kPieceStore;
    script += QLatin1Char(')');
    return script;
}

QString jsPiecedCall(QLatin1String function, quint64 transfer, int argCount,
                     qsizetype expectedLength)
{
    QString args;
    for (int i = 0; i < argCount; ++i) {
        if (i > 0)
            args += QLatin1String(", ");
        args += QStringLiteral("a[%1]").arg(i);
    }
    return QStringLiteral("(function (w, k) { var b = w[k]; delete w[k];"
                          " var a = b && b.id === %1 ? Array.from(b.a, function (p) {"
                          " return (p || []).join(''); }) : [];"
                          " if (a.length !== %2 || a.reduce(function (n, s) { return n + s.length; "
                          "}, 0) !== %3)"
                          " return;"
                          " return %4(%5); })(window, %6)")
        .arg(QString::number(transfer), QString::number(argCount), QString::number(expectedLength),
             function, args, kPieceStore);
}

} // namespace TaviWebModuleInternal
