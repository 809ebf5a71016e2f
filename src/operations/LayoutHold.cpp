#include "operations/LayoutHold.hpp"
#include "base/AddOnce.hpp"
#include "operations/ApplyLayout.hpp"
#include "operations/LayoutCapture.hpp"

#include <QCoreApplication>
#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMoveEvent>
#include <QResizeEvent>

namespace {

// The window system answers within milliseconds; a busy machine may take longer.
constexpr int kHoldMs = 2000;

} // namespace

LayoutHold::LayoutHold()
{
	ends.setSingleShot(true);
	ends.setInterval(kHoldMs);
	connect(&ends, &QTimer::timeout, this, &LayoutHold::release);
	if (QCoreApplication *application = QCoreApplication::instance()) {
		application->installEventFilter(&passage);
	}
}

bool LayoutHold::Passage::eventFilter(QObject *watched, QEvent *event)
{
	if (!applyingLayout()) {
		ended = true;
		return false;
	}
	if (ended) {
		docks.clear();
		ended = false;
	}
	auto *dock = qobject_cast<QDockWidget *>(watched);
	if (!dock) {
		return false;
	}
	// Where the dock is at each of its events: a hidden dock is moved and resized without any, and shown with
	// events that do not say where it was. A move or a resize says where it was before.
	const QRect rect = dock->geometry();
	Passed &passed = docks[dock];
	addOnce(passed.places, rect.topLeft());
	addOnce(passed.sizes, rect.size());
	if (event->type() == QEvent::Move) {
		addOnce(passed.places, static_cast<QMoveEvent *>(event)->oldPos());
	} else if (event->type() == QEvent::Resize && static_cast<QResizeEvent *>(event)->oldSize().isValid()) {
		addOnce(passed.sizes, static_cast<QResizeEvent *>(event)->oldSize());
	}
	return false;
}

void LayoutHold::hold(QMainWindow *target)
{
	release();
	if (!target) {
		return;
	}
	window = target;
	const QList<QWidget *> children = target->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
	for (QWidget *child : children) {
		if (!child->isWindow()) {
			watched.add(child);
		}
	}
	// A floating dock keeps the rectangle that the load gave it, against answers to where the load took it.
	const QList<QDockWidget *> docks = ownDocks(target);
	for (QDockWidget *dock : docks) {
		if (dock->isFloating() && dock->isVisible()) {
			watched.add(dock);
			floatingPlaces.insert(dock, {dock->geometry(), passage.docks.value(dock)});
		}
	}
	// What a load passed serves the hold that follows it.
	passage.docks.clear();
	ends.start();
}

void LayoutHold::release()
{
	ends.stop();
	watched.removeAll();
	floatingPlaces.clear();
	window.clear();
}

bool LayoutHold::eventFilter(QObject *watchedObject, QEvent *event)
{
	// Only what comes from the window system, the user's moves through the window manager too: the layout's own
	// moves are not spontaneous.
	if ((event->type() != QEvent::Move && event->type() != QEvent::Resize) || !event->spontaneous()) {
		return QObject::eventFilter(watchedObject, event);
	}
	const auto place = floatingPlaces.find(watchedObject);
	if (place != floatingPlaces.end()) {
		auto *dock = static_cast<QDockWidget *>(watchedObject);
		const QRect rect = place->rect;
		const QRect now = dock->geometry();
		if (dock->isFloating() && now != rect) {
			// Once only: a window manager that keeps the window elsewhere has the last word, and so does a
			// move or a resize that the load did not make.
			const bool late = place->passed.places.contains(now.topLeft()) &&
					  place->passed.sizes.contains(now.size());
			floatingPlaces.erase(place);
			if (late) {
				QMetaObject::invokeMethod(
					this,
					[dock = QPointer<QDockWidget>(dock), rect] {
						if (dock && dock->isFloating()) {
							dock->setGeometry(rect);
						}
					},
					Qt::QueuedConnection);
			}
		}
	} else if (!queued) {
		queued = true;
		QMetaObject::invokeMethod(this, &LayoutHold::layOutAgain, Qt::QueuedConnection);
	}
	return QObject::eventFilter(watchedObject, event);
}

void LayoutHold::layOutAgain()
{
	queued = false;
	// A widget that floats or docks under the mouse is the user's, and Qt's own animation puts it in place.
	auto *mainWindow = qobject_cast<QMainWindow *>(window.data());
	if (!mainWindow || QGuiApplication::mouseButtons() != Qt::NoButton) {
		return;
	}
	if (QLayout *layout = mainWindow->layout()) {
		layout->invalidate();
		layout->activate();
	}
}
