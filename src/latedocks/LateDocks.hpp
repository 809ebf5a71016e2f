#pragma once

#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "operations/LayoutHold.hpp"
#include "store/SnapshotDocument.hpp"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QStringList>

class DockWatcher;
class QDockWidget;
class QMainWindow;

// Docks that a load's snapshot names but that were not there at the load take their place when they appear, until
// the next load: the snapshot's layout is applied once more with them there, at the window's size and place of the
// moment, which gives what a load made with them there gives. It happens only while the docks that the snapshot
// names are as the load (or the last such placement) left them: in the side, order, tab group, floating rectangle
// and visibility that the user can change by hand. Otherwise the user has arranged them since, and the new dock is
// left where its maker put it. New docks are those that the watcher of the main window's docks reports added.
class LateDocks : public QObject, public OperationListener {
public:
	LateDocks(FeatureHost &host, DockWatcher &watcher);

	// Listening to the watcher, from activation to shutdown.
	void start();
	void stop();
	// A load, an undo or a layout put back has applied this layout. The docks that it names and that the window
	// lacks now wait, and those that waited before no longer do; an undo or a stop's layout put back names no
	// docks, so none wait after it.
	void layoutLoaded(const LoadedLayout &loaded) override;
	// A placement that waited for a running operation happens now.
	void operationEnded() override;
	// The names still waiting, in the snapshot's order.
	QStringList waitingDocks() const { return waiting; }

private:
	// Where a dock is, as far as the user can change it by hand.
	struct Place {
		Qt::DockWidgetArea area = Qt::NoDockWidgetArea;
		bool floating = false;
		bool hidden = false;
		// A floating dock's rectangle, or that of its floating tab group.
		QRect floatingRect;
		// The other docks of its tab group, of those compared, sorted.
		QStringList tabs;
		bool operator==(const Place &other) const;
		bool operator!=(const Place &other) const { return !(*this == other); }
	};
	// Of two shown docked docks (or tab groups) in one side, the one that lies wholly left of or above the other.
	struct Before {
		QString first;
		QString second;
		bool above = false;
		bool operator==(const Before &other) const;
	};
	// The docks by name, and their order within their sides.
	struct Arrangement {
		QMap<QString, Place> docks;
		QList<Before> order;
	};

	// A waiting dock as first seen once its maker had done with it, to tell whether the user moved it since.
	struct Seen {
		QPointer<QDockWidget> dock;
		bool floating = false;
		bool visible = false;
		QRect geometry;
	};

	// The named docks' arrangement now, and the names of those whose place or order differs between two.
	static Arrangement arrangementOf(QMainWindow *window, const QStringList &names);
	static QStringList changedDocks(const Arrangement &was, const Arrangement &now);

	void queuePlacement();
	void place();
	// The named docks present now that do not wait.
	QStringList placedDocks() const;

	FeatureHost &host;
	DockWatcher &watcher;
	bool watching = false;
	SnapshotData layout;
	// The snapshot's geometry when the load gave the window another size than the snapshot's, and the docks their
	// shares of it: a placement gives them their shares too. Empty otherwise.
	QByteArray sharesOf;
	QStringList waiting;
	// The named docks as the load or the last placement left them, taken right after it.
	Arrangement reference;
	// Docks reported added since the last placement.
	QList<QPointer<QDockWidget>> arrivals;
	QList<Seen> seen;
	bool placementQueued = false;
	bool placing = false;
	// Keeps the window system's late answers from moving the docks after a placement.
	LayoutHold hold;
};
