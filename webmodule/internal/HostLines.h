#pragma once

// Internal to the module: the lines hosts read word for word. Every such
// line is written through HostLine, and no other line is: at the call, the
// text is a promise, kept as it stands (a line of the module's own may be
// written beside it through lcWebModule, never in its place). They go where
// hosts have always read them: Qt's default category, without file or line
// context, and, for the video window, the host's LogMgr.

#include <QtCore/QDebug>
#include <QtCore/QLoggingCategory>
#include <QtCore/QString>

namespace TaviWebModuleInternal::HostLine {

// As qDebug(): the default category, debug level.
inline QDebug debug()
{
    return QMessageLogger(nullptr, 0, nullptr).debug();
}

// As qWarning(): the default category, warning level.
inline QDebug warning()
{
    return QMessageLogger(nullptr, 0, nullptr).warning();
}

// True when the default category writes debug lines: a line built by hand
// need not be built otherwise.
inline bool debugEnabled()
{
    const QLoggingCategory* category = QLoggingCategory::defaultCategory();
    return !category || category->isDebugEnabled();
}

// A debug line built by hand, written as debug() writes its lines.
inline void debugText(const QString& line)
{
    qt_message_output(QtDebugMsg, QMessageLogContext(nullptr, 0, nullptr, "default"), line);
}

// One line in the host's LogMgr::logDebug, its control characters escaped
// (a page's path stays on its line).
void log(const QString& line);

} // namespace TaviWebModuleInternal::HostLine
