#include "operations/LayoutHold.hpp"

#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>

namespace {

// The window system answers within milliseconds; a busy machine may take longer.
constexpr int kHoldMs = 2000;

} // namespace

LayoutHold::LayoutHold()
{
	ends.setSingleShot(true);
	ends.setInterval(kHoldMs);
	connect(&ends, &QTimer::timeout, this, &LayoutHold::release);
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
			child->installEventFilter(this);
			watched.append(child);
		}
	}
	// A floating dock keeps the rectangle that the load gave it.
	const QList<QDockWidget *> docks = target->findChildren<QDockWidget *>();
	for (QDockWidget *dock : docks) {
		if (dock->isFloating() && dock->isVisible()) {
			dock->installEventFilter(this);
			watched.append(dock);
			floatingPlaces.insert(dock, dock->geometry());
		}
	}
	ends.start();
}

void LayoutHold::release()
{
	ends.stop();
	for (const QPointer<QObject> &child : std::as_const(watched)) {
		if (child) {
			child->removeEventFilter(this);
		}
	}
	watched.clear();
	floatingPlaces.clear();
	window.clear();
}

bool LayoutHold::eventFilter(QObject *watchedObject, QEvent *event)
{
	// Only the window system's answers: the layout's own moves are not spontaneous.
	if ((event->type() != QEvent::Move && event->type() != QEvent::Resize) || !event->spontaneous()) {
		return QObject::eventFilter(watchedObject, event);
	}
	const auto place = floatingPlaces.find(watchedObject);
	if (place != floatingPlaces.end()) {
		// Once only: a window manager that keeps the window elsewhere has the last word.
		auto *dock = static_cast<QDockWidget *>(watchedObject);
		const QRect rect = place.value();
		if (dock->isFloating() && dock->geometry() != rect) {
			floatingPlaces.erase(place);
			QMetaObject::invokeMethod(
				this,
				[dock = QPointer<QDockWidget>(dock), rect] {
					if (dock && dock->isFloating()) {
						dock->setGeometry(rect);
					}
				},
				Qt::QueuedConnection);
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
