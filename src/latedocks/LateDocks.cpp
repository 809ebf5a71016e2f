#include "latedocks/LateDocks.hpp"
#include "module/Module.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/LayoutCheck.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/OperationGuard.hpp"

#include <QChildEvent>
#include <QDockWidget>
#include <QMainWindow>
#include <QTimer>

LateDocks::LateDocks(FeatureHost &host) : host(host) {}

void LateDocks::start()
{
	stop();
	watched = host.window();
	if (watched) {
		watched->installEventFilter(this);
	}
}

void LateDocks::stop()
{
	if (watched) {
		watched->removeEventFilter(this);
	}
	watched = nullptr;
	waiting.clear();
	arrivals.clear();
	seen.clear();
}

void LateDocks::layoutLoaded(const LoadedLayout &loadedLayout)
{
	const SnapshotData &loaded = loadedLayout.layout;
	arrivals.clear();
	seen.clear();
	QMainWindow *window = host.window();
	if (!watched || !window || placing) {
		return;
	}
	layout = loaded;
	waiting = missingDocks(window, loaded);
	stateAfter = waiting.isEmpty() ? QByteArray() : window->saveState(0);
}

bool LateDocks::eventFilter(QObject *object, QEvent *event)
{
	// The children that Qt makes while a layout is applied (a probe, a floating tab group) are no late docks, and
	// the window's state cannot be read in the middle of a restore.
	if (object != watched || event->type() != QEvent::ChildAdded || waiting.isEmpty() || placing ||
	    applyingLayout()) {
		return false;
	}
	if (QMainWindow *window = host.window()) {
		// The child is still being made: what it is and its name are known once its maker is done, on the next
		// turn of the event loop. The docks are compared now, before the maker adds it to them.
		Arrival arrival{static_cast<QChildEvent *>(event)->child(), false, window->saveGeometry()};
		arrival.asLoaded = window->saveState(0) == stateAfter;
		arrivals.append(arrival);
		queuePlacement();
	}
	return false;
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
	if (!watched || !window || host.isShuttingDown()) {
		return;
	}
	for (const Arrival &arrival : std::as_const(arrivals)) {
		auto *dock = qobject_cast<QDockWidget *>(arrival.child.data());
		if (!dock || !waiting.contains(dock->objectName())) {
			continue;
		}
		waiting.removeAll(dock->objectName());
		seen.append(Seen{dock, dock->isFloating(), dock->isVisible(), dock->geometry(), arrival.asLoaded,
				 arrival.geometry});
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
	bool asLoaded = true;
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
		asLoaded = asLoaded && one.asLoaded;
	}
	const QByteArray geometry = seen.constFirst().geometryBefore;
	seen.clear();
	if (!moved.isEmpty()) {
		velkinLog(LOG_INFO, "LateDocks: moved by hand already, left where they are: %s",
			  moved.join(QStringLiteral(", ")).toUtf8().constData());
	}
	if (names.isEmpty()) {
		return;
	}
	const QByteArray joined = names.join(QStringLiteral(", ")).toUtf8();
	if (!asLoaded) {
		velkinLog(LOG_INFO, "LateDocks: the docks have been arranged since the load; left where they were put: %s",
			  joined.constData());
		return;
	}
	// The window keeps the place and size it has now (the user may have moved it since the load); the docks are
	// put as the snapshot has them.
	SnapshotData again = layout;
	again.geometry = geometry;
	placing = true;
	LayoutRefusal refusal = LayoutRefusal::None;
	const bool placed = applyLayout(window, again, nullptr, &refusal);
	placing = false;
	if (!placed) {
		velkinLog(LOG_WARNING, "LateDocks: the window refused the layout (%s); left where they were put: %s",
			  localeText(refusalKey(refusal)).toUtf8().constData(), joined.constData());
		return;
	}
	stateAfter = window->saveState(0);
	velkinLog(LOG_INFO, "LateDocks: took their place: %s", joined.constData());
}
