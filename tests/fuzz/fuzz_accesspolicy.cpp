// The access policy: a URL judged trusted has the scheme, host (or, for a
// "*." entry, a subdomain of it) and port of the entry; a path judged inside
// a root resolves inside it, as the kernel resolves it, through links, "..",
// link loops and links out of the root.

#include "FuzzInput.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtCore/QUrl>
#include <WebAccessPolicy.h>
#include <climits>
#include <unistd.h>

namespace {

// A root with a folder, a link out of it, a link to its parent, a link loop
// and a link that stays inside; beside it a folder outside the root.
struct Sandbox
{
    QTemporaryDir dir;
    QString root;
    Sandbox()
    {
        const QString base = QDir(dir.path()).canonicalPath();
        root = base + QStringLiteral("/root");
        QDir().mkpath(root + QStringLiteral("/sub/deeper"));
        QDir().mkpath(base + QStringLiteral("/outside"));
        QFile::link(base + QStringLiteral("/outside"), root + QStringLiteral("/out"));
        QFile::link(QStringLiteral(".."), root + QStringLiteral("/sub/up"));
        QFile::link(QStringLiteral("loop"), root + QStringLiteral("/loop"));
        QFile::link(QStringLiteral("sub/deeper"), root + QStringLiteral("/in"));
        QFile::link(QStringLiteral("../../outside"), root + QStringLiteral("/sub/rel-out"));
    }
};

Sandbox& sandbox()
{
    static int argc = 1;
    static char name[] = "fuzz_accesspolicy";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static Sandbox box;
    return box;
}

// The kernel's reading of path, for a path whose folder exists.
QString resolved(const QString& path)
{
    const QString folder = path.section(QLatin1Char('/'), 0, -2);
    const QString name = path.section(QLatin1Char('/'), -1);
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(folder.isEmpty() ? QStringLiteral("/") : folder).constData(),
                    buffer))
        return QString();
    const QString parent = QFile::decodeName(buffer);
    if (name.isEmpty() || name == QLatin1String("."))
        return parent;
    if (name == QLatin1String(".."))
        return parent.section(QLatin1Char('/'), 0, -2);
    const QString full
        = (parent == QLatin1String("/") ? QString() : parent) + QLatin1Char('/') + name;
    // A last part that is a link leads where the link goes.
    if (::realpath(QFile::encodeName(full).constData(), buffer))
        return QFile::decodeName(buffer);
    return QFileInfo(full).isSymLink() ? QString() : full;
}

void fileRoots(FuzzInput& in)
{
    static const char* const parts[] = { "sub", "deeper",  "out", "up",   "..",      ".", "loop",
                                         "in",  "rel-out", "new", "root", "outside", "" };
    Sandbox& box = sandbox();
    const bool relative = in.byte() & 1;
    QString path = relative ? QString() : box.root;
    for (int n = in.byte() % 10; n > 0; --n) {
        const uint8_t b = in.byte();
        const QString part = b < 240 ? QLatin1String(parts[b % std::size(parts)]) : in.utf16(b % 8);
        path += (path.isEmpty() ? QString() : QStringLiteral("/")) + part;
    }
    // Relative paths are read from the current folder; the fuzzer's own
    // folders are relative to the one it started in.
    struct Back
    {
        QString folder = QDir::currentPath();
        ~Back() { QDir::setCurrent(folder); }
    } back;
    QDir::setCurrent(relative ? box.root : QStringLiteral("/"));
    WebAccessPolicy& policy = WebAccessPolicy::global();
    policy.setFileRoots({}, { box.root });
    if (!policy.mayWrite(path))
        return;
    QString absolute = QDir::isAbsolutePath(path) ? path : box.root + QLatin1Char('/') + path;
    // What the system is handed: the path up to a NUL.
    absolute.truncate(absolute.indexOf(QChar(u'\0')) < 0 ? absolute.size()
                                                         : absolute.indexOf(QChar(u'\0')));
    const QString target = resolved(absolute);
    if (target.isNull())
        return; // its folder is not there: nothing the kernel could open
    if (target != box.root && !target.startsWith(box.root + QLatin1Char('/')))
        fail("a path judged inside the root leads out of it",
             path + QStringLiteral(" -> ") + target);
}

int effectivePort(const QUrl& url)
{
    const QString s = url.scheme();
    return url.port(s == QLatin1String("https") || s == QLatin1String("wss")     ? 443
                        : s == QLatin1String("http") || s == QLatin1String("ws") ? 80
                                                                                 : -1);
}

void origins(FuzzInput& in)
{
    const QString entry = QString::fromUtf8(in.bytes(in.byte() % 64));
    const QUrl url(QString::fromUtf8(in.bytes(256)));
    WebAccessPolicy& policy = WebAccessPolicy::global();
    policy.setTrustedOrigins({ entry });
    if (policy.trustedOrigins().isEmpty() || !policy.isTrusted(url))
        return;
    const QString text = entry.trimmed();
    if (text.endsWith(QLatin1Char(':')) && !text.contains(QLatin1Char('/'))) {
        if (url.scheme().compare(text.chopped(1), Qt::CaseInsensitive) != 0)
            fail("another scheme trusted", entry + QStringLiteral(" / ") + url.toString());
        return;
    }
    const bool wildcard = text.contains(QLatin1String("://*."));
    const QUrl origin(QString(text).replace(QLatin1String("://*."), QLatin1String("://")));
    const bool hostOk = wildcard ? url.host().endsWith(QLatin1Char('.') + origin.host())
                                 : url.host() == origin.host();
    if (url.scheme() != origin.scheme() || !hostOk || effectivePort(url) != effectivePort(origin)
        || url.host().isEmpty())
        fail("a URL trusted beyond its entry", entry + QStringLiteral(" / ") + url.toString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(quiet);
    sandbox();
    FuzzInput in(data, size);
    if (in.byte() & 1)
        fileRoots(in);
    else
        origins(in);
    return 0;
}
