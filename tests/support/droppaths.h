#pragma once

#include <QStringList>

class QWidget;

// Drags local paths over a widget and drops them there, as the desktop does; returns whether the drag was taken
// (a widget that refuses it gets no drop).
bool dropPaths(QWidget* target, const QStringList& paths);
