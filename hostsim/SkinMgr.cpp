#include "SkinMgr.h"

#include <QtCore/QDir>

namespace {

// Where the module's style sheets expect the host's images, and where this
// library keeps them (skin/skin.qrc).
const QString kHostSkinDir = QStringLiteral("./skin/client/default/");
const QString kResourceDir = QStringLiteral(":/taviskin/");

} // namespace

SkinMgr::SkinMgr() = default;
SkinMgr::~SkinMgr() = default;

// A dark theme, as VMS clients use for video walls.
QString SkinMgr::dlgBackgroundColor() const
{
    return QStringLiteral("#2b2f36");
}
QString SkinMgr::dlgBorderColor() const
{
    return QStringLiteral("#4a505a");
}
QString SkinMgr::oneLevelTextColor() const
{
    return QStringLiteral("#e6e8eb");
}
QString SkinMgr::hoverRedColor() const
{
    return QStringLiteral("#d9363e");
}
QString SkinMgr::lineEditColor() const
{
    return QStringLiteral("#1f2329");
}
QString SkinMgr::themeThirdColor() const
{
    return QStringLiteral("#23272e");
}
QString SkinMgr::webPageSolid() const
{
    return QStringLiteral("#1b1e23");
}

QString SkinMgr::patchSkinPaths(const QString& styleSheet) const
{
    QString patched = styleSheet;
    patched.replace(kHostSkinDir, kResourceDir);
    return patched;
}

QPixmap SkinMgr::getPixmap(const QString& folder, const QString& file, const QSize& size,
                           int /*reserved1*/, int /*reserved2*/) const
{
    // cleanPath folds the slashes callers put around folder names.
    const QString path = QDir::cleanPath(kResourceDir + folder + QLatin1Char('/') + file);
    QPixmap pixmap(path);
    if (pixmap.isNull() || !size.isValid())
        return pixmap;
    return pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

SkinMgr* taviSkinMgr()
{
    static SkinMgr instance;
    return &instance;
}
