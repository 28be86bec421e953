// The push script: host text of any kind, written into a call by JsScript
// and run by a JavaScript engine, reaches the page function as exactly that
// text (less its line feeds when they are to go), and nothing else runs.

#include "FuzzInput.h"

#include <JsScript.h>
#include <QtCore/QCoreApplication>
#include <QtQml/QJSEngine>

using namespace TaviWebModuleInternal;

namespace {

QJSEngine& engine()
{
    static int argc = 1;
    static char name[] = "fuzz_jsscript";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static QJSEngine js;
    static const bool ready = [] {
        // The page function records its arguments; any other effect of the
        // script would have to call something else.
        js.evaluate(QStringLiteral("var calls = []; function emitInfoNotify() { "
                                   "calls.push(Array.prototype.slice.call(arguments)); "
                                   "return 'answered'; }"));
        return true;
    }();
    Q_UNUSED(ready);
    return js;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    const bool dropLineFeeds = flags & 1;
    const QString first = in.utf16(in.byte());
    const QString second = in.restUtf16();

    QJSEngine& js = engine();
    js.evaluate(QStringLiteral("calls = [];"));
    const QString script
        = jsCall(QLatin1String("emitInfoNotify"), { first, second }, dropLineFeeds);
    const QJSValue value = js.evaluate(script);
    if (value.isError())
        fail("the script does not run", value.toString() + QStringLiteral(" in ") + script);
    if (value.toString() != QLatin1String("answered"))
        fail("the script's value is not the call's", value.toString());
    const QJSValue calls = js.globalObject().property(QStringLiteral("calls"));
    if (calls.property(QStringLiteral("length")).toInt() != 1)
        fail("not exactly one call", script);
    const QJSValue args = calls.property(0);
    if (args.property(QStringLiteral("length")).toInt() != 2)
        fail("not exactly two arguments", script);
    const auto expected = [dropLineFeeds](QString text) {
        return dropLineFeeds ? text.remove(QLatin1Char('\n')) : text;
    };
    if (args.property(0).toString() != expected(first)
        || args.property(1).toString() != expected(second))
        fail("the page reads other text", script);
    return 0;
}
