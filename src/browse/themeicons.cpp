#include "browse/themeicons.h"

#include <QApplication>
#include <QMimeDatabase>
#include <QStyle>

QIcon folderIcon(bool open)
{
    QStyle* style = QApplication::style();
    return open ? QIcon::fromTheme(QStringLiteral("folder-open"), style->standardIcon(QStyle::SP_DirOpenIcon))
                : QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirClosedIcon));
}

QIcon fileIcon(const QString& name)
{
    const QIcon generic =
        QIcon::fromTheme(QStringLiteral("text-x-generic"), QApplication::style()->standardIcon(QStyle::SP_FileIcon));
    // By the name only: the file is on the server, its contents are not at hand.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return generic;
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), generic));
}
