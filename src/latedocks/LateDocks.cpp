#include "latedocks/LateDocks.hpp"
#include "base/Log.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/DockWatcher.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/LayoutRecord.hpp"
#include "operations/OperationGuard.hpp"

#include <QDockWidget>
#include <QMainWindow>
#include <QTimer>

#include <iterator>
#include <utility>

bool LateDocks::Place::operator==(const Place &other) const
{
	return area == other.area && floating == other.floating && hidden == other.hidden &&
	       floatingRect == other.floatingRect && tabs == other.tabs;
}

bool LateDocks::Before::operator==(const Before &other) const
{
	return first == other.first && second == other.second && above == other.above;
}

LateDocks::LateDocks(FeatureHost &host, DockWatcher &watcher) : host(host), watcher(watcher) {}

void LateDocks::start()
{
	stop();
	watching = host.window() != nullptr;
	if (!watching) {
		return;
	}
	watcher.listen(this, [this](const DockReport &report) {
		if (waiting.isEmpty()) {
			return;
		}
		for (QDockWidget *dock : report.added) {
			arrivals.append(dock);
		}
		if (!arrivals.isEmpty()) {
			queuePlacement();
		}
	});
}

void LateDocks::stop()
{
	watcher.ignore(this);
	watching = false;
	waiting.clear();
	arrivals.clear();
	seen.clear();
	hold.release();
}

LateDocks::Arrangement LateDocks::arrangementOf(QMainWindow *window, const QStringList &names)
{
	Arrangement arrangement;
	QMap<QString, QDockWidget *> docks;
	const QList<QDockWidget *> own = ownDocks(window);
	for (QDockWidget *dock : own) {
		if (names.contains(dock->objectName())) {
			docks.insert(dock->objectName(), dock);
		}
	}
	// Each shown docked dock or tab group, by the first name in the group: its side and rectangle.
	QMap<QString, std::pair<Qt::DockWidgetArea, QRect>> shown;
	for (auto it = docks.cbegin(); it != docks.cend(); ++it) {
		QDockWidget *dock = it.value();
		Place place;
		place.area = window->dockWidgetArea(dock);
		place.hidden = dock->isHidden();
		// A dock in a floating tab group has the group's window for parent.
		QWidget *parent = dock->parentWidget();
		place.floating = dock->isFloating() || parent != window;
		if (place.floating) {
			place.floatingRect = dock->isFloating() || !parent ? dock->geometry() : parent->geometry();
		}
		const QList<QDockWidget *> tabbed = window->tabifiedDockWidgets(dock);
		for (const QDockWidget *other : tabbed) {
			if (docks.contains(other->objectName())) {
				place.tabs.append(other->objectName());
			}
		}
		place.tabs.sort();
		arrangement.docks.insert(it.key(), place);
		// Qt moves the docks of a tab group that are not its current tab out of the window.
		if (!place.floating && !place.hidden && window->rect().intersects(dock->geometry())) {
			const bool firstOfGroup = place.tabs.isEmpty() || it.key() < place.tabs.constFirst();
			shown.insert(firstOfGroup ? it.key() : place.tabs.constFirst(), {place.area, dock->geometry()});
		}
	}
	// Which lies before which does not change with the window's or the sides' sizes.
	for (auto a = shown.cbegin(); a != shown.cend(); ++a) {
		for (auto b = std::next(a); b != shown.cend(); ++b) {
			if (a->first != b->first) {
				continue;
			}
			const QRect &ra = a->second;
			const QRect &rb = b->second;
			const bool beside = ra.right() < rb.left() || rb.right() < ra.left();
			const bool aFirst = beside ? ra.right() < rb.left() : ra.bottom() < rb.top();
			if (beside || ra.bottom() < rb.top() || rb.bottom() < ra.top()) {
				arrangement.order.append(
					{aFirst ? a.key() : b.key(), aFirst ? b.key() : a.key(), !beside});
			}
		}
	}
	return arrangement;
}

QStringList LateDocks::changedDocks(const Arrangement &was, const Arrangement &now)
{
	// A dock that its plug-in has removed since was not arranged by hand.
	const auto present = [&](const QString &name) { return was.docks.contains(name) && now.docks.contains(name); };
	QStringList changed;
	for (auto it = was.docks.cbegin(); it != was.docks.cend(); ++it) {
		if (present(it.key()) && now.docks.value(it.key()) != it.value()) {
			changed.append(it.key());
		}
	}
	for (const Before &before : was.order + now.order) {
		if (present(before.first) && present(before.second) &&
		    was.order.contains(before) != now.order.contains(before)) {
			changed << before.first << before.second;
		}
	}
	changed.removeDuplicates();
	changed.sort();
	return changed;
}

QStringList LateDocks::placedDocks() const
{
	QStringList placed = layout.docks;
	for (const QString &name : waiting) {
		placed.removeAll(name);
	}
	return placed;
}

void LateDocks::layoutLoaded(const LoadedLayout &loadedLayout)
{
	const SnapshotData &loaded = loadedLayout.layout;
	arrivals.clear();
	seen.clear();
	QMainWindow *window = host.window();
	if (!watching || !window || placing) {
		return;
	}
	layout = loaded;
	const std::optional<SavedWindowGeometry> saved = savedWindowGeometry(loaded.geometry);
	sharesOf = saved && saved->windowSize() != window->size() ? loaded.geometry : QByteArray();
	waiting = missingDocks(window, loaded);
	reference = waiting.isEmpty() ? Arrangement() : arrangementOf(window, placedDocks());
}

void LateDocks::queuePlacement()
{
	if (placementQueued) {
		return;
	}
	placementQueued = true;
	QTimer::singleShot(0, this, [this] {
		placementQueued = false;
		place();
	});
}

void LateDocks::operationEnded()
{
	if (!seen.isEmpty()) {
		queuePlacement();
	}
}

void LateDocks::place()
{
	QMainWindow *window = host.window();
	if (!watching || !window || host.isShuttingDown()) {
		return;
	}
	for (const QPointer<QDockWidget> &dock : std::as_const(arrivals)) {
		if (!dock || !waiting.contains(dock->objectName())) {
			continue;
		}
		waiting.removeAll(dock->objectName());
		seen.append(Seen{dock, dock->isFloating(), dock->isVisible(), dock->geometry()});
	}
	arrivals.clear();
	if (seen.isEmpty()) {
		return;
	}
	// A load, a question or a save runs: the docks take their place once it has ended.
	const OperationGuard guard(host);
	if (!guard) {
		return;
	}
	QStringList names;
	QStringList moved;
	for (const Seen &one : std::as_const(seen)) {
		if (!one.dock) {
			continue;
		}
		if (one.dock->isFloating() != one.floating || one.dock->isVisible() != one.visible ||
		    one.dock->geometry() != one.geometry) {
			moved.append(one.dock->objectName());
			continue;
		}
		names.append(one.dock->objectName());
	}
	seen.clear();
	if (!moved.isEmpty()) {
		velkinLog(LOG_INFO, "LateDocks: moved by hand already, left where they are: %s",
			  moved.join(QStringLiteral(", ")).toUtf8().constData());
	}
	if (names.isEmpty()) {
		return;
	}
	const QByteArray joined = names.join(QStringLiteral(", ")).toUtf8();
	// Compared now, not as the dock arrived: the reference leaves out the docks that waited when it was taken, the
	// arriving ones among them, which OBS adds on the right and then floats and hides; the order of the others in
	// a side stays as it was when one is added to it.
	const QStringList changed = changedDocks(reference, arrangementOf(window, reference.docks.keys()));
	if (!changed.isEmpty()) {
		velkinLog(LOG_INFO,
			  "LateDocks: the docks have been arranged since the load; left where they were put: %s "
			  "(arranged: %s)",
			  joined.constData(), changed.join(QStringLiteral(", ")).toUtf8().constData());
		return;
	}
	// The window keeps the place and size it has now (the user may have moved or resized it since the load); the
	// docks are put as the snapshot has them, at their shares of the window where the load gave them those.
	SnapshotData again = layout;
	again.geometry = window->saveGeometry();
	placing = true;
	LayoutRefusal refusal = LayoutRefusal::None;
	const bool placed = applyLayout(window, again, nullptr, &refusal, sharesOf);
	placing = false;
	if (!placed) {
		velkinLog(LOG_WARNING, "LateDocks: the window refused the layout (%s); left where they were put: %s",
			  localeText(refusalKey(refusal)).toUtf8().constData(), joined.constData());
		return;
	}
	hold.hold(window);
	reference = arrangementOf(window, placedDocks());
	velkinLog(LOG_INFO, "LateDocks: took their place: %s", joined.constData());
}
