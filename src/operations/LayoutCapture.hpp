#pragma once

// What a snapshot takes from the main window, and the docks of a snapshot that the window lacks.
#include "store/SnapshotDocument.hpp"

#include <QStringList>

class QMainWindow;

// The object names of the window's dock widgets, at any depth, visible or not: no empty names, no repeats,
// sorted by code units.
QStringList dockNames(QMainWindow *window);

// The window's current arrangement under a name.
SnapshotData captureLayout(QMainWindow *window, const QString &name);

// The snapshot's dock names that the window lacks now, in the snapshot's order.
QStringList missingDocks(QMainWindow *window, const SnapshotData &data);
