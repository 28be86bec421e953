#pragma once

// Internal to the module: the JavaScript calls that carry host events into a
// page.

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringView>
#include <QtCore/QUrl>
#include <QtCore/QVariant>
#include <initializer_list>

namespace TaviWebModuleInternal {

// Appends text as a single-quoted JavaScript string literal that the page
// reads back as exactly text (less its line feeds, with dropLineFeeds), in
// one pass.
void appendJsString(QString& script, QStringView text, bool dropLineFeeds = false);

// "fn('a', 'b')", every value written in one pass, so that a value's own
// "%2" is never taken for a place marker.
QString jsCall(QLatin1String function, std::initializer_list<QString> args,
               bool dropLineFeeds = false);

// A call taken apart: the function, and its arguments as jsCall writes them
// ("'a', 'b'").
struct JsCall
{
    QLatin1String function;
    QString arguments;
};
QString jsArguments(std::initializer_list<QString> args, bool dropLineFeeds = false);
QString jsCall(const JsCall& call);

// The call made only when the page has defined the function; otherwise the
// script's value is a marker that isAbsentFunction() recognises (and that
// reads as an empty text, as an undefined value does). Batches and pieced
// calls below are guarded the same way.
QString jsGuardedCall(const JsCall& call);
QString jsGuardedCall(QLatin1String function, std::initializer_list<QString> args,
                      bool dropLineFeeds = false);
bool isAbsentFunction(const QVariant& result);

// One script for calls that wait together: each is made in turn, its
// function looked up by name when it is made; one that throws is reported as
// an uncaught error, as a script of its own would be, and the next is still
// made; a function the page lacks is skipped. Its value is the array of the calls' values, or
// undefined when every call gave undefined.
QString jsBatch(const QList<JsCall>& calls);

// A call whose arguments are too long for one script goes in pieces: each
// jsPiece stores a slice of one argument in the page, and jsPiecedCall, sent
// last, makes the call (if the page has the function) with the arguments put
// back together; its value is the call's. The call is left out (the push lost, as one that comes
// while a page loads) when the page does not hold exactly the expected number of characters of that
// transfer, for instance after a reload in between.
QString jsPiece(quint64 transfer, int arg, QStringView slice, bool dropLineFeeds);
QString jsPiecedCall(QLatin1String function, quint64 transfer, int argCount,
                     qsizetype expectedLength);

// A condition that holds only in a document of url's scheme, host and port,
// read from the document's own location: the page cannot redefine it. The
// empty URL (no document known) gives a condition that never holds.
QString documentCheck(const QUrl& url);

} // namespace TaviWebModuleInternal
