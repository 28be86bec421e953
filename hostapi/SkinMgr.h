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

    // Background of dialogs (the alarm tip) and of the web view.
    virtual QString dlgBackgroundColor() const;
    // Border of dialogs (the alarm tip).
    virtual QString dlgBorderColor() const;
    // First-level text (the picture viewer, the alarm tip).
    virtual QString oneLevelTextColor() const;
    // The highlight red (the alarm tip's first button).
    virtual QString hoverRedColor() const;
    // Input fields and their bars (the picture viewer's path bar).
    virtual QString lineEditColor() const;
    // The theme's third colour (the picture viewer and video backgrounds).
    virtual QString themeThirdColor() const;
    // Background of a web tab page (TaviWebPage).
    virtual QString webPageSolid() const;

    // Rewrites image urls under "./skin/client/default/" to the current skin.
    virtual QString patchSkinPaths(const QString& styleSheet) const;
    // Loads the picture file in folder of the current skin; a null pixmap
    // when missing.
    // A valid size scales the picture; the two ints are reserved (-1).
    virtual QPixmap getPixmap(const QString& folder, const QString& file, const QSize& size,
                              int reserved1, int reserved2) const;
};

// The host's one skin.
TAVICOMMONUI_API SkinMgr* taviSkinMgr();
