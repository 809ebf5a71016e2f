#pragma once

// Puts a snapshot's geometry and dock state onto the main window, or the earlier layout back.
#include "operations/LayoutRecord.hpp"
#include "store/SnapshotDocument.hpp"

#include <QByteArray>

class QMainWindow;

// Whether applyLayout or restoreDockState runs now: Qt makes and removes children of the window meanwhile, and the
// window's state must not be read then.
bool applyingLayout();

// Restores the dock state alone, with the step that keeps Qt from holding on to a state that it kept aside for a
// hidden window (see ApplyLayout.cpp). Returns whether the window took it.
bool restoreDockState(QMainWindow *window, const QByteArray &state);

// Applies the stored geometry, then the stored dock state. When the window refuses either, its previous
// layout is put back, the reason goes to `refusal` when given, and false is returned. `current`, when given, holds
// the window's geometry and state as they are now, taken by the caller already; otherwise they are taken here.
// A window that ends at another size than the one the state was saved in gives each docked dock the share of its
// width or height that the dock had there; `savedGeometry`, when given, is the geometry saved with the state, where
// `data` puts the window elsewhere.
bool applyLayout(QMainWindow *window, const SnapshotData &data, const SnapshotData *current = nullptr,
		 LayoutRefusal *refusal = nullptr, const QByteArray &savedGeometry = QByteArray());
