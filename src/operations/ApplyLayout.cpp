#include "operations/ApplyLayout.hpp"
#include "base/Log.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/Screens.hpp"

#include <QDockWidget>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <algorithm>

// The docks that are shown now, docked or floating.
static QSet<QDockWidget *> shownDocks(QMainWindow *window)
{
	QSet<QDockWidget *> shown;
	const QList<QDockWidget *> docks = ownDocks(window);
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

namespace {

// How many restores of the dock state run now, one within another too: applyingLayout() reads it.
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

// A state restored into a hidden, maximized or full-screen main window that is too small for it is kept aside by
// Qt, to be applied once the window has its final size. That copy shares its layout items with the live
// arrangement, and the next restore frees them: showing the window (OBS coming back from the tray) would then
// touch freed memory. Splitting beside a dock that is in no layout makes Qt apply and drop the copy first and
// changes nothing else.
bool restoreDockState(QMainWindow *window, const QByteArray &state)
{
	const Applying marked;
	QDockWidget probe(window);
	probe.hide();
	window->splitDockWidget(&probe, &probe, Qt::Horizontal);
	return window->restoreState(state, 0);
}

// Qt's restoreGeometry, then, for a normal window saved wholly within the screens there are now, the saved rectangle
// itself: Qt fits a restored window to one screen, and cuts down one saved across two. Returns whether the window
// took the geometry.
static bool restoreSavedGeometry(QMainWindow *window, const QByteArray &geometry,
				 const std::optional<SavedWindowGeometry> &saved)
{
	const bool restored = window->restoreGeometry(geometry);
	if (!saved || saved->maximized || saved->fullScreen || saved->normal.isEmpty()) {
		return restored;
	}
	const QMargins frame = marginsAround(saved->client, saved->frame);
	if (!onScreens(saved->normal.marginsAdded(frame), availableScreenAreas())) {
		return restored;
	}
	window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized |
							    Qt::WindowFullScreen));
	if (window->geometry() != saved->normal) {
		window->setGeometry(saved->normal);
	}
	return true;
}

// Qt puts a restored floating dock wholly onto the screen that holds its top left corner: each one saved wholly
// within the screens there are now, across two of them too, goes back to its saved rectangle.
static void putFloatingDocksBack(QMainWindow *window, const LayoutRecord &layout)
{
	const QHash<QString, QRect> saved = layout.floatingRects();
	const QList<QRect> screens = availableScreenAreas();
	QSet<QString> seen;
	const QList<QDockWidget *> docks = ownDocks(window);
	for (QDockWidget *dock : docks) {
		const QString name = dock->objectName();
		const auto rect = saved.constFind(name);
		if (seen.contains(name) || rect == saved.cend()) {
			continue;
		}
		seen.insert(name);
		if (dock->isFloating() && dock->isVisible() && dock->geometry() != *rect && onScreens(*rect, screens)) {
			dock->setGeometry(*rect);
			// Qt's offscreen platform takes only the size from the rectangle of a shown window.
			if (dock->geometry().topLeft() != rect->topLeft()) {
				dock->move(dock->pos() + rect->topLeft() - dock->geometry().topLeft());
			}
		}
	}
}

// Qt refuses a saved geometry whose window is larger than the available area of its screen (a snapshot of a larger
// desk on a laptop). The window then takes the saved rectangle placed as placeOnScreens says, cut down to one screen
// where it fits nowhere at its size, so that the docks can be put onto the largest window that the screen allows;
// its minimum size may still hold it larger. Returns the saved size and the one given, or nothing when the geometry
// cannot be read or there is no screen.
static std::optional<std::pair<QSize, QSize>> fitSavedGeometry(QMainWindow *window,
								  const std::optional<SavedWindowGeometry> &saved)
{
	const QList<QRect> screens = availableScreenAreas();
	if (!saved || saved->normal.isEmpty() || screens.isEmpty()) {
		return std::nullopt;
	}
	// The frame around the normal rectangle, as saved.
	const QMargins frame = marginsAround(saved->client, saved->frame);
	const QRect placed = placeOnScreens(saved->normal.marginsAdded(frame), screens).marginsRemoved(frame);
	if (placed.isEmpty()) {
		return std::nullopt;
	}
	window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized |
							    Qt::WindowFullScreen));
	window->setGeometry(placed);
	if (saved->fullScreen) {
		window->setWindowState(window->windowState() | Qt::WindowFullScreen);
	} else if (saved->maximized) {
		window->setWindowState(window->windowState() | Qt::WindowMaximized);
	}
	return std::pair(saved->normal.size(), placed.size());
}

// Puts the geometry onto the window, cut down to the screen when Qt refuses it as too large, and then the saved and
// the given size in `fitted`; the reason when neither works.
static LayoutRefusal restoreWindowGeometry(QMainWindow *window, const QByteArray &geometry,
					   const std::optional<SavedWindowGeometry> &saved,
					   std::optional<std::pair<QSize, QSize>> &fitted)
{
	if (restoreSavedGeometry(window, geometry, saved) || (fitted = fitSavedGeometry(window, saved))) {
		return LayoutRefusal::None;
	}
	return QGuiApplication::screens().isEmpty() ? LayoutRefusal::NoScreen : LayoutRefusal::Geometry;
}

// The log line of a window cut down to the screen, with the size that it has once the docks are on.
static void logFitted(const QMainWindow *window, const std::pair<QSize, QSize> &fitted)
{
	const auto [saved, given] = fitted;
	const QSize now = window->size();
	if (now.width() > given.width() || now.height() > given.height()) {
		velkinLog(LOG_INFO,
			  "The snapshot's window of %dx%d is larger than the screen: the docks hold the window at "
			  "%dx%d (the screen has room for %dx%d)",
			  saved.width(), saved.height(), now.width(), now.height(), given.width(), given.height());
		return;
	}
	velkinLog(LOG_INFO, "The snapshot's window of %dx%d is larger than the screen: it gets %dx%d", saved.width(),
		  saved.height(), now.width(), now.height());
}

namespace {

// Keeps the docks' layout from resizing the window while a layout is put on, and lets the window take any saved
// size. Qt grows a window to its layout's minimum, which while a state is restored may be larger than the saved
// window (1563 pixels wide for one saved 1100 wide); under X11 the window system answered that growth after the
// load had set the saved size, and left the window at the larger one. At the end the layout sets the window's
// minimum again, from the docks as they are then, and grows the window only if the docks need it.
// A minimum set on the window itself stays throughout. Qt marks such a minimum with a flag that the hold cannot
// read: once the layout is up to date, the hold takes an axis whose minimum differs from the layout's for one set
// on the window (one that happens to equal the layout's is left to the layout). Given again at the end, it is
// marked as set on the window, and the layout keeps it on its axis, larger or smaller than its own, as Qt does.
class SizeHeld {
public:
	explicit SizeHeld(QMainWindow *window) : window(window), layout(window->layout())
	{
		if (layout) {
			constraint = layout->sizeConstraint();
			layout->activate();
			const QSize minimum = window->minimumSize();
			const QSize layoutMinimum = layout->totalMinimumSize();
			own = QSize(minimum.width() != layoutMinimum.width() ? minimum.width() : 0,
				    minimum.height() != layoutMinimum.height() ? minimum.height() : 0);
			layout->setSizeConstraint(QLayout::SetNoConstraint);
			window->setMinimumSize(own);
		}
	}
	~SizeHeld() { release(); }
	void release()
	{
		if (layout) {
			window->setMinimumSize(own);
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
	// The window's own minimum, 0 on an axis where the layout set it.
	QSize own;
};

} // namespace

// The docks of the window's own dock areas that are docked, by name: the first of a name.
static QHash<QString, QDockWidget *> dockedDocks(QMainWindow *window)
{
	QHash<QString, QDockWidget *> docked;
	const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>(QString(), Qt::FindDirectChildrenOnly);
	for (QDockWidget *dock : docks) {
		if (!dock->isFloating() && window->dockWidgetArea(dock) != Qt::NoDockWidgetArea &&
		    !docked.contains(dock->objectName())) {
			docked.insert(dock->objectName(), dock);
		}
	}
	return docked;
}

// The first of the named docks that is docked in the window.
static QDockWidget *firstDocked(const QHash<QString, QDockWidget *> &docked, const QStringList &names)
{
	for (const QString &name : names) {
		if (QDockWidget *dock = docked.value(name)) {
			return dock;
		}
	}
	return nullptr;
}

// Whether two records of equal places give the docks of the window the same sizes: every item that holds a dock
// docked in the window, and every dock area that shows a docked dock. Items of docks that are not there yet count for
// nothing on the screen.
static bool sameSizes(const QHash<QString, QDockWidget *> &docked, const LayoutRecord &a, const LayoutRecord &b)
{
	if (a.itemSizes.size() != b.itemSizes.size() || a.areaSizes.size() != b.areaSizes.size()) {
		return false;
	}
	for (qsizetype i = 0; i < a.itemSizes.size(); ++i) {
		if (a.itemSizes[i].size != b.itemSizes[i].size && firstDocked(docked, a.itemSizes[i].docks)) {
			return false;
		}
	}
	for (qsizetype i = 0; i < a.areaSizes.size(); ++i) {
		if (a.areaSizes[i].holdsDocks && a.areaSizes[i].size != b.areaSizes[i].size) {
			return false;
		}
	}
	return true;
}

// Gives the docked docks the sizes of a layout whose places the window has already, through resizeDocks, which
// hides and shows nothing. Each dock area's size goes first, then each item's, an item before the items within it:
// resizeDocks carries the size of an item up to the items that hold it along the same axis, so the items within
// put right what an item's call set below it. Returns whether the window's state then holds every size of the
// layout; when not, only sizes were changed.
static bool resizeDocksTo(QMainWindow *window, const LayoutRecord &target, const LayoutRecord &before)
{
	const QHash<QString, QDockWidget *> docked = dockedDocks(window);
	relayout(window);
	if (sameSizes(docked, target, before) && sameSizes(docked, target, readLayout({}, window->saveState(0)))) {
		return true;
	}
	for (const DockAreaSize &area : target.areaSizes) {
		QStringList names;
		for (const DockItemSize &item : target.itemSizes) {
			if (item.side == area.side) {
				names.append(item.docks);
			}
		}
		QDockWidget *dock = firstDocked(docked, names);
		if (area.holdsDocks && area.size > 0 && dock) {
			window->resizeDocks({dock}, {area.size},
					    area.side == 0 || area.side == 1 ? Qt::Horizontal : Qt::Vertical);
		}
	}
	for (const DockItemSize &item : target.itemSizes) {
		if (QDockWidget *dock = firstDocked(docked, item.docks)) {
			window->resizeDocks({dock}, {item.size}, item.orientation);
		}
	}
	relayout(window);
	return sameSizes(docked, target, readLayout({}, window->saveState(0)));
}

// What the window's docks came to the last times that a snapshot's blobs went on through restoreState, at that
// window size: a snapshot made in another window may hold sizes that the docks here cannot take, and Qt fits them
// the same way each time. Resizing the docks to those sizes is then the same load.
namespace {

struct LoadOutcome {
	QPointer<QMainWindow> window;
	QSize size;
	LayoutRecord layout;
};

constexpr int kRememberedOutcomes = 16;
QHash<QByteArray, LoadOutcome> outcomes;

QByteArray outcomeKey(const SnapshotData &data)
{
	return data.geometry + QByteArrayLiteral("/") + data.state;
}

const LayoutRecord *rememberedOutcome(QMainWindow *window, const SnapshotData &data)
{
	const auto found = outcomes.constFind(outcomeKey(data));
	return found != outcomes.cend() && found->window == window && found->size == window->size() ? &found->layout
												     : nullptr;
}

void rememberOutcome(QMainWindow *window, const SnapshotData &data)
{
	if (outcomes.size() >= kRememberedOutcomes) {
		outcomes.clear();
	}
	outcomes.insert(outcomeKey(data), {window, window->size(), readLayout({}, window->saveState(0))});
}

} // namespace

// The size of the window that a dock state was saved in; empty when the geometry cannot be read.
static QSize savedWindowSize(const std::optional<SavedWindowGeometry> &saved)
{
	return saved ? saved->windowSize() : QSize();
}

// The layout's sizes as shares of the window that it was saved in, for a window of another size: each dock area's
// size across the window and each item's along its sequence, by the ratio of the widths (horizontal sizes) or of the
// heights (vertical ones). At the saved size they are the layout's own.
static LayoutRecord sharesOf(const LayoutRecord &layout, const QSize &saved, const QSize &now)
{
	LayoutRecord shares = layout;
	const auto scaled = [&](int size, Qt::Orientation orientation) {
		const double ratio = orientation == Qt::Horizontal ? double(now.width()) / saved.width()
								   : double(now.height()) / saved.height();
		// Sizes of a damaged state may be far beyond any window: a share stays within a widget's sizes.
		return qRound(std::clamp(size * ratio, 1.0, double(QWIDGETSIZE_MAX)));
	};
	for (DockAreaSize &area : shares.areaSizes) {
		area.size = scaled(area.size, area.side == 0 || area.side == 1 ? Qt::Horizontal : Qt::Vertical);
	}
	for (DockItemSize &item : shares.itemSizes) {
		item.size = scaled(item.size, item.orientation);
	}
	return shares;
}

// Gives the docked docks the shares of the window that the layout gave them in a window of `saved` size, through
// resizeDocks, which hides nothing: Qt holds each dock at its minimum size, and the central widget takes the rest.
static void giveShares(QMainWindow *window, const LayoutRecord &layout, const QSize &saved)
{
	resizeDocksTo(window, sharesOf(layout, saved, window->size()), readLayout({}, window->saveState(0)));
}

namespace {

// How long after a load a maximized or full-screen window's resizes still give the docks their shares.
constexpr int kSettleMs = 2000;

// A window that a load leaves maximized or full screen takes its final size later: the window manager answers the
// maximize after the load, and Qt lays out a state that it kept aside for a hidden window once the window is shown.
// For a while after the load, or after the window is next shown, each of its resizes gives the docks their shares
// of the window again, at the saved size the layout's own sizes.
class SharesOnResize : public QObject {
public:
	SharesOnResize(QMainWindow *window, const LayoutRecord &layout, const QSize &saved)
		: QObject(window), window(window), layout(layout), saved(saved)
	{
		ends.setSingleShot(true);
		ends.setInterval(kSettleMs);
		connect(&ends, &QTimer::timeout, this, &QObject::deleteLater);
		if (window->isVisible()) {
			ends.start();
		}
		window->installEventFilter(this);
	}

	bool eventFilter(QObject *watched, QEvent *event) override
	{
		if (watched == window && event->type() == QEvent::Show) {
			ends.start();
		} else if (watched == window && event->type() == QEvent::Resize && !queued) {
			// After Qt's own layout has taken the new size.
			queued = true;
			QMetaObject::invokeMethod(this, &SharesOnResize::resized, Qt::QueuedConnection);
		}
		return false;
	}

private:
	void resized()
	{
		queued = false;
		const Qt::WindowStates state = window->windowState();
		if (!applyingLayout() && !(state & Qt::WindowMinimized) &&
		    (state & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
			giveShares(window, layout, saved);
		}
	}

	QMainWindow *window;
	LayoutRecord layout;
	QSize saved;
	QTimer ends;
	bool queued = false;
};

QPointer<SharesOnResize> sharesOnResize;

} // namespace

// Puts the dock state on through Qt's restoreState, which hides and shows the docks, then settles the docks' sizes.
// In a window of another size than `saved`, the docks' shares of the window give them their sizes afterwards.
// Returns whether the window took the state.
static bool restoreDocks(QMainWindow *window, const SnapshotData &data, const LayoutRecord &target, const QSize &saved)
{
	const QSet<QDockWidget *> shownBefore = shownDocks(window);
	if (!restoreDockState(window, data.state)) {
		return false;
	}
	relayout(window);
	// Had the window not taken the saved size before the state was restored, it may now. And while the state is
	// restored, Qt holds every docked dock that was shown before at its stored size, below its minimum if need be,
	// and lets the others give. Either way the docks were fitted in a way that depends on the layout before: now
	// that the window and the docks are as the snapshot has them, the sizes go on once more, by restoring the state
	// again where resizing the docks does not give them all.
	const QSize sized = window->size();
	restoreSavedGeometry(window, data.geometry, target.window);
	if (!saved.isEmpty() && window->size() != saved) {
		return true;
	}
	if ((window->size() != sized || shownDocks(window) != shownBefore) &&
	    !resizeDocksTo(window, target, readLayout({}, window->saveState(0)))) {
		restoreDockState(window, data.state);
		relayout(window);
	}
	rememberOutcome(window, data);
	return true;
}

bool applyLayout(QMainWindow *window, const SnapshotData &data, const SnapshotData *current, LayoutRefusal *refusal,
		 const QByteArray &savedGeometry)
{
	const Applying marked;
	delete sharesOnResize.data();
	SizeHeld held(window);
	const QByteArray previousState = current ? current->state : window->saveState(0);
	const QByteArray previousGeometry = current ? current->geometry : window->saveGeometry();
	const QRect previousRect = window->geometry();
	const LayoutRecord target = readLayout(data.geometry, data.state);
	const QSize saved =
		savedWindowSize(savedGeometry.isEmpty() ? target.window : savedWindowGeometry(savedGeometry));

	// The state is only tried once the window has taken the geometry. A layout that leaves every dock in its place
	// only resizes the docks and moves the floating ones: no dock is hidden or shown on the way. In a window of
	// another size than the saved one, the docks take their shares of the window afterwards.
	const auto resized = [&] { return !saved.isEmpty() && !window->isMinimized() && window->size() != saved; };
	LayoutRefusal why = LayoutRefusal::None;
	std::optional<std::pair<QSize, QSize>> fitted;
	bool shared = false;
	if (data.state.isEmpty() || data.geometry.isEmpty()) {
		why = LayoutRefusal::Empty;
	} else if (!target.safe) {
		why = LayoutRefusal::OutOfRange;
	} else if ((why = restoreWindowGeometry(window, data.geometry, target.window, fitted)) == LayoutRefusal::None) {
		const LayoutRecord before = readLayout({}, previousState);
		const LayoutRecord *outcome = rememberedOutcome(window, data);
		const LayoutRecord &goal = outcome ? *outcome : target;
		shared = resized() && before.places == target.places;
		if (!shared && !(before.places == goal.places && resizeDocksTo(window, goal, before)) &&
		    !restoreDocks(window, data, target, saved)) {
			why = stateRefusal(data.state);
		}
	}
	if (why == LayoutRefusal::None) {
		held.release();
		if (shared || resized()) {
			giveShares(window, target, saved);
		}
		if (!saved.isEmpty() && (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
			sharesOnResize = new SharesOnResize(window, target, saved);
		}
		putFloatingDocksBack(window, target);
		keepWindowsOnScreens(window);
		if (fitted) {
			logFitted(window, *fitted);
		}
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
