#pragma once

#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "store/SnapshotDocument.hpp"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QStringList>

class QDockWidget;
class QMainWindow;

// Docks that a load's snapshot names but that were not there at the load take their place when they appear, until
// the next load: the snapshot's layout is applied once more with them there, which gives what a load made with them
// there gives. It happens only while the docks are as the load (or the last such placement) left them when the new
// dock arrives; otherwise the user has arranged them since, and the new dock is left where its maker put it. New
// docks are noticed by the child events of the main window.
class LateDocks : public QObject, public OperationListener {
public:
	explicit LateDocks(FeatureHost &host);

	// Watching the host's main window, from activation to shutdown.
	void start();
	void stop();
	// A load or an undo has applied this layout; the docks that it names and that the window lacks now wait.
	void layoutLoaded(const LoadedLayout &loaded) override;
	// A placement that waited for a running operation happens now.
	void operationEnded() override;
	// The names still waiting, in the snapshot's order.
	QStringList waitingDocks() const { return waiting; }

	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// A child of the main window, noticed as it was made: whether the docks were then as the load left them.
	struct Arrival {
		QPointer<QObject> child;
		bool asLoaded = false;
		QByteArray geometry;
	};
	// A waiting dock as first seen once its maker had done with it, to tell whether the user moved it since.
	struct Seen {
		QPointer<QDockWidget> dock;
		bool floating = false;
		bool visible = false;
		QRect geometry;
		bool asLoaded = false;
		QByteArray geometryBefore;
	};

	void queuePlacement();
	void place();

	FeatureHost &host;
	// The main window being watched, as a plain QObject pointer: it is read while the window may be half destroyed.
	QPointer<QObject> watched;
	SnapshotData layout;
	QStringList waiting;
	// The window's dock state right after the load or the last placement.
	QByteArray stateAfter;
	QList<Arrival> arrivals;
	QList<Seen> seen;
	bool placementQueued = false;
	bool placing = false;
};
