#pragma once

#include <QIcon>
#include <QString>

// The desktop theme's pictures for the tree and the file list, with the style's own as fallback where the theme
// has none. Main thread only (icons are GUI objects).

// A folder, closed or open.
QIcon folderIcon(bool open = false);
// A file by the type its name suggests ("index.html" a web page), else the theme's generic file.
QIcon fileIcon(const QString& name);
