#include "MakePath.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

int MakePath(QString path)
{
    const QString parent = path.section(QLatin1Char('/'), 0, -2);
    if (parent.isEmpty())
        return -1;
    if (!QDir(parent).exists() && MakePath(parent) != 0)
        return -1;
    // Resolved against the current folder, as every other relative path is;
    // an existing directory counts as success, a file in the way does not.
    QDir().mkdir(path);
    return QFileInfo(path).isDir() ? 0 : -1;
}
