#pragma once

// Checks of a snapshot's blobs before Qt sees them, what a saved geometry holds, and why a layout is refused.
#include <QByteArray>
#include <QHash>
#include <QRect>
#include <QStringList>

#include <optional>

// Whether the blobs may be given to Qt: every corner of the geometry's frame, normal and client rectangles lies
// within QWIDGETSIZE_MAX of 0 on both axes, every dock area's side is 0 to 3, and no sequence of docks, in a dock
// area or a floating tab group, nests more than 64 levels below its top one. What Qt refuses by itself passes here.
bool safeToRestore(const QByteArray &geometry, const QByteArray &state);

// The names of the docks that a saved dock state places, each once, in the order it names them.
QStringList stateDockNames(const QByteArray &state);

// The rectangles of the docks that a saved dock state floats in windows of their own, by name: the first of a name.
QHash<QString, QRect> stateFloatingRects(const QByteArray &state);

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
