#pragma once

#include "module/FeatureHost.hpp"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class DockWatcher;
class QDockWidget;
class QMainWindow;

// The answer of a failed remote request: its error code and a message in English.
QJsonObject remoteError(const char *code, const QString &message);

// What the single-dock requests ask of the controller besides the window and the operations.
class DockRequestHost : public virtual FeatureHost {
public:
	// Keeps the layout from before a change of the docks, as a step that Undo Last Load puts back; a run of such
	// changes with no load between them is one step.
	virtual void rememberForUndo(const LayoutMemento &before) = 0;

protected:
	~DockRequestHost() = default;
};

// The remote control's single docks: the requests that list the main window's docks and show, hide, float, dock
// and raise one of them, and the event "DockChanged" once a dock's shown, floating or area changes, whatever
// changed it. Only the main window's own docks count, not those of a main window within a dock. The docks that the
// watcher of the main window's docks reports are looked at as it reports them, once no mouse button is held, and all
// of them right after a load or a request, so that a load gives at most one event per dock; a look while a button is
// held leaves them to the watcher's next report. The dock states last announced, dock by dock, are this object's
// own.
class RemoteDocks : public QObject {
public:
	using Emit = std::function<void(const char *type, const QJsonObject &data)>;
	RemoteDocks(DockRequestHost &host, DockWatcher &watcher, Emit emit);

	// Listening to the watcher, from the remote control's opening to its closing.
	void start();
	void stop();

	// Whether the request is one of these; its answer, on the UI thread with no operation running.
	static bool handles(const QString &type);
	QJsonObject answer(const QString &type, const QJsonObject &request);

	// Announces the docks that changed since the last look, unless a mouse button is held.
	void announceChanges();

private:
	struct Status {
		bool shown = false;
		bool floating = false;
		QString area;
		bool operator==(const Status &other) const
		{
			return shown == other.shown && floating == other.floating && area == other.area;
		}
	};
	// A dock's state last announced; the pointer tells a dock made where a deleted one was from that one.
	struct Announced {
		QPointer<QDockWidget> dock;
		Status status;
	};

	QList<QDockWidget *> docksInMenuOrder() const;
	QDockWidget *findDock(const QJsonObject &request, QJsonObject *error) const;
	Status statusOf(QDockWidget *dock) const;
	QJsonObject dockList() const;
	QJsonObject change(QDockWidget *dock, const std::function<void()> &work);
	// Announces the dock if its state differs from the one last announced; a dock not seen before changed nothing.
	void announce(QDockWidget *dock);

	DockRequestHost &host;
	DockWatcher &watcher;
	Emit emit;
	bool watching = false;
	QHash<QDockWidget *, Announced> announced;
};
