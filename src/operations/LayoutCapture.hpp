#pragma once

// What a snapshot takes from the main window, and the docks of a snapshot that the window lacks.
#include "store/SnapshotDocument.hpp"

#include <QList>
#include <QStringList>

class QDockWidget;
class QMainWindow;

// The window's own dock widgets, visible or not: those it docks or floats itself, alone or in a floating tab group
// of its own. A dock within a dock that holds a main window of its own belongs to that window and is not listed.
QList<QDockWidget *> ownDocks(QMainWindow *window);
// Whether ownDocks lists the dock.
bool isOwnDock(const QMainWindow *window, const QDockWidget *dock);

// The object names of the window's own dock widgets: no empty names, no repeats, sorted by code units.
QStringList dockNames(QMainWindow *window);

// The window's current arrangement under a name.
SnapshotData captureLayout(QMainWindow *window, const QString &name);

// The snapshot's dock names that the window lacks now, in the snapshot's order.
QStringList missingDocks(QMainWindow *window, const SnapshotData &data);
