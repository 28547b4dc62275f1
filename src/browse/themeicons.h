#pragma once

#include <QIcon>
#include <QString>

// The desktop theme's pictures for the tree and the file list, with the style's own as fallback where the theme
// has none. Each picture is made once per kind (a closed folder, an open folder, each file type, the generic file)
// and the same icon is returned for every entry of that kind, so a listing of 100,000 entries holds a handful of
// pictures. Main thread only (icons are GUI objects); the pictures go when the application object goes.

// A folder, closed or open.
QIcon folderIcon(bool open = false);
// A file by the type its name suggests ("index.html" a web page), else the theme's generic file.
QIcon fileIcon(const QString& name);
