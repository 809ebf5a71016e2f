#pragma once

#include "operations/EventFilters.hpp"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QDockWidget;
class QMainWindow;

// The main window's docks that changed since the last report, each named once.
struct DockReport {
	// Docks that the window did not have before: made as its children, or taken in from elsewhere.
	QList<QDockWidget *> added;
	// Docks it had that moved, were resized, shown or hidden, floated or docked, changed their side, or whose floating
	// tab group moved or was resized.
	QList<QDockWidget *> changed;
};

// Watches the main window's own docks (ownDocks), not those of a main window within a dock, for the features that
// follow them. A report goes to every listener on a turn of the event loop after the changes, at most one for each
// turn, and names each dock by its pointer: two docks may share a name. While a mouse button that Qt sees is held a
// dock may be on its way in a drag, and the report waits until no button is held. A report follows every change
// noted, even when each dock it concerns has been deleted since, so it may name none. The window is searched for its
// docks once, at start; after that each new child of the window is looked at once, on the next turn.
class DockWatcher : public QObject {
	friend struct VelkinProbe;

public:
	using Listener = std::function<void(const DockReport &report)>;

	// How often the report that waits for a mouse button looks again.
	static constexpr int kButtonHeldMs = 100;

	DockWatcher();

	void start(QMainWindow *window);
	void stop();

	// The listener hears every report until ignore(receiver), or until the receiver is destroyed.
	void listen(QObject *receiver, Listener listener);
	void ignore(const QObject *receiver);

	// For the tests: how many times the window was searched for its docks.
	qint64 searches() const { return searchCount; }

	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	struct Listening {
		QPointer<QObject> receiver;
		Listener listener;
	};

	void watchDock(QDockWidget *dock);
	void note(QObject *object);
	void report();

	// A plain QObject pointer: the filter sees the window while it is half destroyed.
	QPointer<QObject> window;
	// The window, its docks and the windows of floating tab groups.
	EventFilters filters{this};
	QList<QMetaObject::Connection> connections;
	// Children of the window as they were made, and docks or floating tab groups that changed since the last report.
	QList<QPointer<QObject>> arrivals;
	QList<QPointer<QObject>> changes;
	QList<Listening> listeners;
	QTimer turn;
	qint64 searchCount = 0;
};
