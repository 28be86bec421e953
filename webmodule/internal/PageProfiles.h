#pragma once

// Internal to the module: the profiles pages live on. Qt's default profile
// keeps nothing on disk; a host that wants storage to last names a
// persistent profile, one per storage name and folder for the process.

#include <QtCore/QString>

class QWebEngineProfile;

namespace TaviWebModuleInternal {

// See VmsWebWidgets::persistentProfile.
QWebEngineProfile* persistentProfile(const QString& storageName, const QString& folder);
// The profile of pages created without one of their own (null: Qt's default).
void setPagesProfile(QWebEngineProfile* profile);
QWebEngineProfile* pagesProfile();
// What the module sets up once on every profile a page of it lives on.
void prepareProfile(QWebEngineProfile* profile);

} // namespace TaviWebModuleInternal
