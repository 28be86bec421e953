#pragma once

#include "TaviHostGlobal.h"

#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtGui/QPixmap>

// The host's skin (libTaviCommonUI). Colour texts are valid both in style
// sheets and for QColor::fromString.
class TAVICOMMONUI_API SkinMgr
{
public:
    SkinMgr();
    virtual ~SkinMgr();

    virtual QString dlgBackgroundColor() const;
    virtual QString dlgBorderColor() const;
    virtual QString oneLevelTextColor() const;
    virtual QString hoverRedColor() const;
    virtual QString lineEditColor() const;
    virtual QString themeThirdColor() const;
    virtual QString webPageSolid() const;

    // Rewrites image urls under "./skin/client/default/" to the current skin.
    virtual QString patchSkinPaths(const QString& styleSheet) const;
    // Loads <folder>/<file> of the current skin; a null pixmap when missing.
    // A valid size scales the picture; the two ints are reserved (-1).
    virtual QPixmap getPixmap(const QString& folder, const QString& file, const QSize& size,
                              int reserved1, int reserved2) const;
};

TAVICOMMONUI_API SkinMgr* taviSkinMgr();
