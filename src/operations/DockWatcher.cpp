#include "operations/DockWatcher.hpp"
#include "base/AddOnce.hpp"
#include "operations/LayoutCapture.hpp"

#include <QAction>
#include <QChildEvent>
#include <QDockWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>

#include <algorithm>
#include <utility>

namespace {

bool isGroupWindow(const QObject *object)
{
	return object->inherits("QDockWidgetGroupWindow");
}

} // namespace

DockWatcher::DockWatcher()
{
	turn.setSingleShot(true);
	connect(&turn, &QTimer::timeout, this, &DockWatcher::report);
}

void DockWatcher::start(QMainWindow *mainWindow)
{
	stop();
	if (!mainWindow) {
		return;
	}
	window = mainWindow;
	filters.add(mainWindow);
	++searchCount;
	const QList<QDockWidget *> docks = ownDocks(mainWindow);
	for (QDockWidget *dock : docks) {
		watchDock(dock);
	}
	const QList<QWidget *> groups = mainWindow->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
	for (QWidget *group : groups) {
		if (isGroupWindow(group)) {
			filters.add(group);
		}
	}
}

void DockWatcher::stop()
{
	turn.stop();
	filters.removeAll();
	for (const QMetaObject::Connection &connection : std::as_const(connections)) {
		disconnect(connection);
	}
	connections.clear();
	arrivals.clear();
	changes.clear();
	window.clear();
}

void DockWatcher::listen(QObject *receiver, Listener listener)
{
	listeners.append({receiver, std::move(listener)});
}

void DockWatcher::ignore(const QObject *receiver)
{
	listeners.removeIf([receiver](const Listening &one) { return !one.receiver || one.receiver == receiver; });
}

void DockWatcher::watchDock(QDockWidget *dock)
{
	filters.add(dock);
	// Changes that a hidden dock goes through without events of its own.
	const auto changed = [this, dock] { note(dock); };
	connections.append(connect(dock, &QDockWidget::dockLocationChanged, this, changed));
	connections.append(connect(dock, &QDockWidget::topLevelChanged, this, changed));
	connections.append(connect(dock->toggleViewAction(), &QAction::toggled, this, changed));
}

bool DockWatcher::eventFilter(QObject *watched, QEvent *event)
{
	switch (event->type()) {
	case QEvent::ChildAdded:
		if (watched == window) {
			// The child is still being made: what it is shows on the next turn.
			arrivals.append(static_cast<QChildEvent *>(event)->child());
			if (!turn.isActive()) {
				turn.start(0);
			}
		}
		break;
	case QEvent::Move:
	case QEvent::Resize:
	case QEvent::Show:
	case QEvent::Hide:
	case QEvent::ParentChange:
	case QEvent::WindowStateChange:
		if (watched != window) {
			note(watched);
		}
		break;
	default:
		break;
	}
	return QObject::eventFilter(watched, event);
}

void DockWatcher::note(QObject *object)
{
	// A drag sends hundreds of events a second: most find their object noted already.
	const bool noted = std::any_of(changes.cbegin(), changes.cend(),
				       [object](const QPointer<QObject> &one) { return one.data() == object; });
	if (!noted) {
		changes.append(object);
	}
	if (!turn.isActive()) {
		turn.start(0);
	}
}

void DockWatcher::report()
{
	auto *mainWindow = qobject_cast<QMainWindow *>(window.data());
	if (!mainWindow) {
		return;
	}
	// A dock under the mouse may be on its way: the report tells where it is left.
	if (QGuiApplication::mouseButtons() != Qt::NoButton) {
		turn.start(kButtonHeldMs);
		return;
	}
	const QList<QPointer<QObject>> children = std::exchange(arrivals, {});
	const QList<QPointer<QObject>> changed = std::exchange(changes, {});
	DockReport report;
	const auto changedDock = [&](QDockWidget *dock) {
		if (isOwnDock(mainWindow, dock) && !report.added.contains(dock)) {
			addOnce(report.changed, dock);
		}
	};
	for (const QPointer<QObject> &child : children) {
		if (!child) {
			continue;
		}
		if (isGroupWindow(child)) {
			filters.add(child);
			continue;
		}
		auto *dock = qobject_cast<QDockWidget *>(child.data());
		if (!dock || !isOwnDock(mainWindow, dock)) {
			continue;
		}
		if (filters.contains(dock)) {
			// Back from a floating tab group, or from elsewhere.
			changedDock(dock);
		} else {
			watchDock(dock);
			report.added.append(dock);
		}
	}
	for (const QPointer<QObject> &object : changed) {
		if (auto *dock = qobject_cast<QDockWidget *>(object.data())) {
			changedDock(dock);
		} else if (object) {
			// A floating tab group: its docks move with it.
			const QList<QDockWidget *> docks =
				object->findChildren<QDockWidget *>(Qt::FindDirectChildrenOnly);
			for (QDockWidget *dock : docks) {
				changedDock(dock);
			}
		}
	}
	if (changed.isEmpty() && report.added.isEmpty() && report.changed.isEmpty()) {
		return;
	}
	// A listener may change the docks, or who listens, while it hears the report: one that stopped listening meanwhile
	// hears nothing.
	const QList<Listening> hearing = listeners;
	for (const Listening &one : hearing) {
		const bool listening = std::any_of(listeners.cbegin(), listeners.cend(), [&](const Listening &now) {
			return now.receiver && now.receiver == one.receiver;
		});
		if (listening) {
			one.listener(report);
		}
	}
}
