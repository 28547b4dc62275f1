#include "browse/themeicons.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

namespace {

// The style's fallback pictures are loaded afresh at every standardIcon() call and are not shared (about 70 KB
// for each file entry): one of each is made here, on first use.
struct IconCache
{
    QIcon folder;
    QIcon openFolder;
    QIcon genericFile;
    QHash<QString, QIcon> byType; // by MIME type name
    QMimeDatabase types;
};

IconCache& cache()
{
    static IconCache* instance = nullptr;
    if (!instance) {
        instance = new IconCache;
        QStyle* style = QApplication::style();
        instance->folder = QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirClosedIcon));
        instance->openFolder =
            QIcon::fromTheme(QStringLiteral("folder-open"), style->standardIcon(QStyle::SP_DirOpenIcon));
        instance->genericFile =
            QIcon::fromTheme(QStringLiteral("text-x-generic"), style->standardIcon(QStyle::SP_FileIcon));
        // Pixmaps must not outlive the application object.
        qAddPostRoutine([] {
            delete instance;
            instance = nullptr;
        });
    }
    return *instance;
}

} // namespace

QIcon folderIcon(bool open)
{
    return open ? cache().openFolder : cache().folder;
}

QIcon fileIcon(const QString& name)
{
    IconCache& icons = cache();
    // By the name only: the file is on the server, its contents are not at hand.
    const QMimeType type = icons.types.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return icons.genericFile;
    auto known = icons.byType.constFind(type.name());
    if (known == icons.byType.cend())
        known = icons.byType.insert(
            type.name(),
            QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), icons.genericFile)));
    return *known;
}
