#include "operations/ApplyLayout.hpp"
#include "module/Module.hpp"
#include "operations/Screens.hpp"

#include <QDockWidget>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QPointer>
#include <QSet>

// The docks that are shown now, docked or floating.
static QSet<QDockWidget *> shownDocks(QMainWindow *window)
{
	QSet<QDockWidget *> shown;
	const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>();
	for (QDockWidget *dock : docks) {
		if (dock->isVisible()) {
			shown.insert(dock);
		}
	}
	return shown;
}

// Lays the docks out anew from the sizes that they hold now: Qt only does so by itself when the window's size
// changes.
static void relayout(QMainWindow *window)
{
	if (QLayout *layout = window->layout()) {
		layout->invalidate();
		layout->activate();
	}
}

// A state restored into a hidden, maximized or full-screen main window that is too small for it is kept aside by
// Qt, to be applied once the window has its final size. That copy shares its layout items with the live
// arrangement, and the next restore frees them: showing the window (OBS coming back from the tray) would then
// touch freed memory. Splitting beside a dock that is in no layout makes Qt apply and drop the copy first and
// changes nothing else.
namespace {

int applying = 0;

// Marks a restore as running for as long as it lives.
struct Applying {
	Applying() { ++applying; }
	~Applying() { --applying; }
	Applying(const Applying &) = delete;
	Applying &operator=(const Applying &) = delete;
};

} // namespace

bool applyingLayout()
{
	return applying > 0;
}

bool restoreDockState(QMainWindow *window, const QByteArray &state)
{
	const Applying marked;
	QDockWidget probe(window);
	probe.hide();
	window->splitDockWidget(&probe, &probe, Qt::Horizontal);
	return window->restoreState(state, 0);
}

// Qt refuses a saved geometry whose window is larger than the available area of its screen (a snapshot of a larger
// desk on a laptop). The window then takes the saved rectangle cut down to the screen that holds most of it, or the
// nearest one, so that the docks can be put onto the largest window that the screen allows; its minimum size may
// still hold it larger. False when the geometry cannot be read or there is no screen.
static bool fitSavedGeometry(QMainWindow *window, const QByteArray &geometry)
{
	const std::optional<SavedWindowGeometry> saved = savedWindowGeometry(geometry);
	const QList<QRect> screens = availableScreenAreas();
	if (!saved || saved->normal.isEmpty() || screens.isEmpty()) {
		return false;
	}
	// The frame around the normal rectangle, as saved.
	const QMargins frame = marginsAround(saved->client, saved->frame);
	const QRect placed = placeOnScreens(saved->normal.marginsAdded(frame), screens).marginsRemoved(frame);
	if (placed.isEmpty()) {
		return false;
	}
	window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized |
							    Qt::WindowFullScreen));
	window->setGeometry(placed);
	if (saved->fullScreen) {
		window->setWindowState(window->windowState() | Qt::WindowFullScreen);
	} else if (saved->maximized) {
		window->setWindowState(window->windowState() | Qt::WindowMaximized);
	}
	velkinLog(LOG_INFO, "The snapshot's window of %dx%d is larger than the screen: it gets %dx%d",
		  saved->normal.width(), saved->normal.height(), placed.width(), placed.height());
	return true;
}

// Puts the geometry onto the window, cut down to the screen when Qt refuses it as too large; the reason when
// neither works.
static LayoutRefusal restoreWindowGeometry(QMainWindow *window, const QByteArray &geometry)
{
	if (window->restoreGeometry(geometry) || fitSavedGeometry(window, geometry)) {
		return LayoutRefusal::None;
	}
	return QGuiApplication::screens().isEmpty() ? LayoutRefusal::NoScreen : LayoutRefusal::Geometry;
}

namespace {

// Keeps the docks' layout from resizing the window while a layout is put on, and lets the window take any saved
// size. Qt grows a window to its layout's minimum, which while a state is restored may be larger than the saved
// window (1563 pixels wide for one saved 1100 wide); under X11 the window system answered that growth after the
// load had set the saved size, and left the window at the larger one. At the end the layout sets the window's
// minimum again, from the docks as they are then, and grows the window only if the docks need it.
class SizeHeld {
public:
	explicit SizeHeld(QMainWindow *window) : window(window), layout(window->layout())
	{
		if (layout) {
			constraint = layout->sizeConstraint();
			layout->setSizeConstraint(QLayout::SetNoConstraint);
			window->setMinimumSize(0, 0);
		}
	}
	~SizeHeld() { release(); }
	void release()
	{
		if (layout) {
			layout->setSizeConstraint(constraint);
			relayout(window);
			layout = nullptr;
		}
	}
	SizeHeld(const SizeHeld &) = delete;
	SizeHeld &operator=(const SizeHeld &) = delete;

private:
	QMainWindow *window;
	QPointer<QLayout> layout;
	QLayout::SizeConstraint constraint = QLayout::SetDefaultConstraint;
};

} // namespace

bool applyLayout(QMainWindow *window, const SnapshotData &data, const SnapshotData *current, LayoutRefusal *refusal)
{
	const Applying marked;
	SizeHeld held(window);
	const QByteArray previousState = current ? current->state : window->saveState(0);
	const QByteArray previousGeometry = current ? current->geometry : window->saveGeometry();
	const QRect previousRect = window->geometry();

	// The state is only tried once the window has taken the geometry.
	const QSet<QDockWidget *> shownBefore = shownDocks(window);
	LayoutRefusal why = LayoutRefusal::None;
	if (data.state.isEmpty() || data.geometry.isEmpty()) {
		why = LayoutRefusal::Empty;
	} else if (!safeToRestore(data.geometry, data.state)) {
		why = LayoutRefusal::OutOfRange;
	} else if ((why = restoreWindowGeometry(window, data.geometry)) == LayoutRefusal::None &&
		   !restoreDockState(window, data.state)) {
		why = stateRefusal(data.state);
	}
	if (why == LayoutRefusal::None) {
		relayout(window);
		// Had the window not taken the saved size before the state was restored, it may now. And while the
		// state is restored, Qt holds every docked dock that was shown before at its stored size, below its
		// minimum if need be, and lets the others give.
		// Either way the docks were fitted in a way that depends on the layout before: restore the state once
		// more, now that the window and the docks are as the snapshot has them.
		const QSize fitted = window->size();
		window->restoreGeometry(data.geometry);
		if (window->size() != fitted || shownDocks(window) != shownBefore) {
			restoreDockState(window, data.state);
			relayout(window);
		}
		held.release();
		keepWindowsOnScreens(window);
		return true;
	}

	// Roll back: the window refused the snapshot.
	if (refusal) {
		*refusal = why;
	}
	window->restoreGeometry(previousGeometry);
	restoreDockState(window, previousState);
	relayout(window);
	// Only a normal window takes a rectangle of its own; Qt::WindowActive and the like may be set on one.
	if (!(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
		window->setGeometry(previousRect);
	}
	// A state that Qt refused part way may have left docks shown or sized otherwise, and Qt fitted the earlier
	// state around them: put it once more, now that the docks are as it has them.
	if (window->saveState(0) != previousState) {
		restoreDockState(window, previousState);
		relayout(window);
	}
	return false;
}
