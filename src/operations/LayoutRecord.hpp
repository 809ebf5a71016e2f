#pragma once

// A saved layout read once into a plain record: what its window geometry holds, where its dock state places each
// dock and at which sizes, and whether Qt may be given it; why a layout is refused.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QRect>
#include <QStringList>

#include <optional>

// Whether the blobs may be given to Qt: every corner of the geometry's frame, normal and client rectangles lies
// within QWIDGETSIZE_MAX of 0 on both axes, every dock area's side is 0 to 3, and no sequence of docks, in a dock
// area or a floating tab group, nests more than 64 levels below its top one. What Qt refuses by itself passes here.
bool safeToRestore(const QByteArray &geometry, const QByteArray &state);

// What a saved window geometry holds: the window's frame and inner rectangle as saved (the maximized or full-screen
// ones when it was saved so), its normal rectangle, and whether it was maximized or full screen.
struct SavedWindowGeometry {
	QRect frame;
	QRect normal;
	QRect client;
	bool maximized = false;
	bool fullScreen = false;

	// The size of the window that a dock state saved with this geometry was saved in: the inner rectangle (the
	// maximized or full-screen one when saved so), or the normal one in a geometry saved before Qt kept the inner one.
	QSize windowSize() const;
};
std::optional<SavedWindowGeometry> savedWindowGeometry(const QByteArray &geometry);

// One dock as a saved state places it.
struct DockPlace {
	QString name;
	int side = -1;         // its dock area, 0 to 3; -1 in a floating tab group
	bool floating = false; // in a window of its own
	bool shown = false;
	QRect rect;            // a dock floating alone: its window's rectangle
};

// An item of a sequence in a dock area, as QMainWindow::resizeDocks reaches it: its size along the sequence, and
// the docks that lie within it, those of its own sequence before those nested deeper.
struct DockItemSize {
	int side = 0;
	Qt::Orientation orientation = Qt::Horizontal;
	int size = 0;
	QStringList docks;
};

// A dock area's side and its size across the window (width on the left and right, height at the top and bottom).
struct DockAreaSize {
	int side = 0;
	int size = 0;
	bool holdsDocks = false;
};

struct LayoutRecord {
	// Whether the blobs may be given to Qt (see safeToRestore); what follows of a state that may not is incomplete.
	bool safe = false;
	std::optional<SavedWindowGeometry> window;
	// Every dock that the state places, in its order; a name may come twice in a damaged state.
	QList<DockPlace> docks;
	// What the state says of each dock's place (side, sequence, tab group, floating, shown, the current tab), and
	// nothing of sizes or rectangles: two layouts with equal places differ only in their docks' sizes and their
	// floating docks' rectangles.
	QByteArray places;
	// Each docked item's size, an item before the items within it; items in tab groups and floating ones are left
	// out, as resizeDocks leaves them.
	QList<DockItemSize> itemSizes;
	QList<DockAreaSize> areaSizes;

	// The names of the docks, each once, in the order the state names them.
	QStringList names() const;
	// The rectangles of the docks that float alone, by name: the first of a name.
	QHash<QString, QRect> floatingRects() const;
};

// Reads the geometry and the dock state, once.
LayoutRecord readLayout(const QByteArray &geometry, const QByteArray &state);

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
