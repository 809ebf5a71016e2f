#pragma once

#include "store/SnapshotDocument.hpp"

#include <QJsonObject>
#include <QList>
#include <QMargins>
#include <QRect>
#include <QStringList>

#include <optional>

class QMainWindow;

// The object names of the window's dock widgets, at any depth, visible or not: no empty names, no repeats,
// sorted by code units.
QStringList dockNames(QMainWindow *window);

// The window's current arrangement under a name.
SnapshotData captureLayout(QMainWindow *window, const QString &name);

// The snapshot's dock names that the window lacks now, in the snapshot's order.
QStringList missingDocks(QMainWindow *window, const SnapshotData &data);

// Whether the blobs may be given to Qt: every corner of the geometry's frame, normal and client rectangles lies
// within QWIDGETSIZE_MAX of 0 on both axes, every dock area's side is 0 to 3, and no sequence of docks, in a dock
// area or a floating tab group, nests more than 64 levels below its top one. What Qt refuses by itself passes here.
bool safeToRestore(const QByteArray &geometry, const QByteArray &state);

// The names of the docks that a saved dock state places, each once, in the order it names them.
QStringList stateDockNames(const QByteArray &state);

// What a saved window geometry holds: the window's frame and inner rectangle as saved (the maximized or full-screen
// ones when it was saved so), its normal rectangle, and whether it was maximized or full screen.
struct SavedWindowGeometry {
	QRect frame;
	QRect normal;
	QRect client;
	bool maximized = false;
	bool fullScreen = false;
};
std::optional<SavedWindowGeometry> savedWindowGeometry(const QByteArray &geometry);

// Whether applyLayout or restoreDockState runs now: Qt makes and removes children of the window meanwhile, and the
// window's state must not be read then.
bool applyingLayout();

// Restores the dock state alone, with the step that keeps Qt from holding on to a state that it kept aside for a
// hidden window (see Layout.cpp). Returns whether the window took it.
bool restoreDockState(QMainWindow *window, const QByteArray &state);

// Why a layout was not applied.
enum class LayoutRefusal {
	None,
	Empty,        // no geometry or no dock state
	OutOfRange,   // values that would harm Qt, never given to it
	Geometry,     // the geometry cannot be read
	NoScreen,     // there is no screen to put the window on
	StateVersion, // the dock state was saved under a version other than 0
	State,        // Qt could not read the dock state
};

// The locale key of the sentence that tells the user why.
const char *refusalKey(LayoutRefusal refusal);

// Why the window refused this dock state: a version other than 0 ahead of records as Qt saves them, or else the
// data itself.
LayoutRefusal stateRefusal(const QByteArray &state);

// Applies the stored geometry, then the stored dock state. When the window refuses either, its previous
// layout is put back, the reason goes to `refusal` when given, and false is returned. `current`, when given, holds
// the window's geometry and state as they are now, taken by the caller already; otherwise they are taken here.
bool applyLayout(QMainWindow *window, const SnapshotData &data, const SnapshotData *current = nullptr,
		 LayoutRefusal *refusal = nullptr);

// The margins between a window's inner rectangle and its frame.
QMargins marginsAround(const QRect &inner, const QRect &outer);

// The available area of every screen there is now.
QList<QRect> availableScreenAreas();

// Where a window with that frame goes so that it lies wholly on one of the screens: onto the screen that holds most
// of it, or else the nearest one, keeping its size unless it is larger than that screen. A frame that lies wholly
// on a screen already stays where it is.
QRect placeOnScreens(const QRect &frame, const QList<QRect> &screens);

// Moves the main window, unless it is minimized, maximized or full screen, and every shown floating dock that lie
// partly or wholly off the available screen area onto a screen, with a log line for each that moved or shrank. One
// held by its minimum size at more than the screen's size keeps that size, with its top left corner on the screen.
void keepWindowsOnScreens(QMainWindow *window);

// Deletes at once the helpers that OBS's studio mode asked to have deleted when it was switched off, before a timer
// of theirs can reach the views that went with it.
void finishStudioModeTeardown(QMainWindow *window);

// Test builds only: where the window and every dock are and the screens' available areas, for the remote request
// "ReportLayout"; and, for the request "SetHotkeyBindings", gives the hotkey of that name the bindings, as OBS's
// hotkey settings do.
QJsonObject reportDockLayout(QMainWindow *window);
QJsonObject setHotkeyBindings(const QJsonObject &request);
