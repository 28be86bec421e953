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

// What a push gives when the page has no such function: a value no page
// function returns by accident, read back as a map with this one key.
const QLatin1String kAbsentKey("tavi.webmodule.absent");

// "typeof f === 'function' ? <call> : <marker>": a page that has not defined
// the function (yet) loses the push quietly instead of throwing.
void appendGuardedCall(QString& script, QLatin1String function, QStringView call)
{
    script += QLatin1String("(typeof ");
    script += function;
    script += QLatin1String(" === 'function' ? ");
    script += call;
    script += QLatin1String(" : { '");
    script += kAbsentKey;
    script += QLatin1String("': 1 })");
}

} // namespace

void appendJsString(QString& script, QStringView text, bool dropLineFeeds)
{
    // Quotes, backslashes and line terminators would otherwise end the
    // literal or let a host text run its own script. Written straight into
    // the script's buffer, sized for the text as it is; an escape makes room
    // as it comes.
    const qsizetype start = script.size();
    script.resize(start + text.size() + 2);
    char16_t* out = reinterpret_cast<char16_t*>(script.data()) + start;
    char16_t* end = reinterpret_cast<char16_t*>(script.data()) + script.size();
    *out++ = u'\'';
    const char16_t* p = text.utf16();
    const char16_t* const last = p + text.size();
    for (; p != last; ++p) {
        const char16_t u = *p;
        if (u >= 0x20 && u < 0x7f && u != u'\'' && u != u'\\') {
            *out++ = u;
            continue;
        }
        // A well-formed surrogate pair (an emoji) is ordinary text.
        if (!needsEscape(u)
            || (QChar::isHighSurrogate(u) && p + 1 != last && QChar::isLowSurrogate(p[1]))) {
            *out++ = u;
            if (QChar::isHighSurrogate(u))
                *out++ = *++p;
            continue;
        }
        if (u == u'\n' && dropLineFeeds)
            continue;
        if (end - out < 6 + (last - p)) {
            const qsizetype at = out - reinterpret_cast<char16_t*>(script.data());
            script.resize(script.size() + qMax<qsizetype>(64, (last - p) / 8) + 6);
            out = reinterpret_cast<char16_t*>(script.data()) + at;
            end = reinterpret_cast<char16_t*>(script.data()) + script.size();
        }
        *out++ = u'\\';
        switch (u) {
        case u'\'':
        case u'\\':
            *out++ = u;
            break;
        case u'\n':
            *out++ = u'n';
            break;
        case u'\r':
            *out++ = u'r';
            break;
        default:
            *out++ = u'u';
            for (int shift = 12; shift >= 0; shift -= 4)
                *out++ = char16_t(u"0123456789abcdef"[(u >> shift) & 0xf]);
            break;
        }
    }
    *out++ = u'\'';
    script.resize(out - reinterpret_cast<char16_t*>(script.data()));
}

QString jsArguments(std::initializer_list<QString> args, bool dropLineFeeds)
{
    qsizetype length = 0;
    for (const QString& arg : args)
        length += arg.size() + 4;
    QString text;
    text.reserve(length);
    bool first = true;
    for (const QString& arg : args) {
        if (!first)
            text += QLatin1String(", ");
        first = false;
        appendJsString(text, arg, dropLineFeeds);
    }
    return text;
}

QString jsCall(const JsCall& call)
{
    QString script;
    script.reserve(call.function.size() + call.arguments.size() + 2);
    script += call.function;
    script += QLatin1Char('(');
    script += call.arguments;
    script += QLatin1Char(')');
    return script;
}

QString jsGuardedCall(const JsCall& call)
{
    QString script;
    script.reserve(2 * call.function.size() + call.arguments.size() + 80);
    appendGuardedCall(script, call.function, jsCall(call));
    return script;
}

QString jsGuardedCall(QLatin1String function, std::initializer_list<QString> args,
                      bool dropLineFeeds)
{
    return jsGuardedCall(JsCall { function, jsArguments(args, dropLineFeeds) });
}

bool isAbsentFunction(const QVariant& result)
{
    if (result.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = result.toMap();
    return map.size() == 1 && map.contains(kAbsentKey);
}

QString jsCall(QLatin1String function, std::initializer_list<QString> args, bool dropLineFeeds)
{
    return jsCall(JsCall { function, jsArguments(args, dropLineFeeds) });
}

QString jsBatch(const QList<JsCall>& calls)
{
    // Each function once, as a wrapper that looks it up at the call.
    QList<QLatin1String> functions;
    for (const JsCall& call : calls)
        if (!functions.contains(call.function))
            functions.append(call.function);
    QString script;
    qsizetype length = 400 + 60 * functions.size();
    for (const JsCall& call : calls)
        length += call.arguments.size() + 12;
    script.reserve(length);
    script += QLatin1String("(function () { var v = [], d = false, r = function (e) {"
                            " if (typeof reportError === 'function') reportError(e);"
                            " else setTimeout(function () { throw e; }); }, f = [");
    for (const QLatin1String& function : std::as_const(functions)) {
        if (function != functions.constFirst())
            script += QLatin1String(", ");
        script += QLatin1String("function (a) { return ");
        QString call = function;
        call += QLatin1String(".apply(undefined, a)");
        appendGuardedCall(script, function, call);
        script += QLatin1String("; }");
    }
    script += QLatin1String("], c = function (i, a) { var x; try { x = f[i](a); }"
                            " catch (e) { r(e); } if (x !== undefined) d = true; v.push(x); };\n");
    for (const JsCall& call : calls) {
        script += QLatin1String("c(");
        script += QString::number(functions.indexOf(call.function));
        script += QLatin1String(", [");
        script += call.arguments;
        script += QLatin1String("]);\n");
    }
    script += QLatin1String("return d ? v : undefined; })()");
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
    QString guarded;
    appendGuardedCall(guarded, function,
                      QString(function + QLatin1Char('(') + args + QLatin1Char(')')));
    return QStringLiteral("(function (w, k) { var b = w[k]; delete w[k];"
                          " var a = b && b.id === %1 ? Array.from(b.a, function (p) {"
                          " return (p || []).join(''); }) : [];"
                          " if (a.length !== %2 || a.reduce(function (n, s) { return n + s.length; "
                          "}, 0) !== %3)"
                          " return;"
                          " return %4; })(window, %5)")
        .arg(QString::number(transfer), QString::number(argCount), QString::number(expectedLength),
             guarded, kPieceStore);
}

QString documentCheck(const QUrl& url)
{
    if (url.isEmpty() || url.scheme().isEmpty())
        return QStringLiteral("false");
    // As location.host writes it: brackets around IPv6, no default port.
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    if (url.port() != -1)
        host += QLatin1Char(':') + QString::number(url.port());
    // location and its members are unforgeable: no script of the page can
    // replace them, and === calls nothing the page could have changed.
    QString check = QStringLiteral("location.protocol === ");
    appendJsString(check, QString(url.scheme() + QLatin1Char(':')));
    check += QLatin1String(" && location.host === ");
    appendJsString(check, host);
    return check;
}

} // namespace TaviWebModuleInternal
