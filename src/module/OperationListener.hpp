#pragma once

#include "module/FeatureHost.hpp"
#include "store/SnapshotDocument.hpp"

#include <QString>

// A load, an undo or a layout put back that has taken effect.
struct LoadedLayout {
	// The snapshot that is `last` now and its name; both empty for a layout from before any snapshot.
	QString path;
	QString name;
	// What went onto the window, and the layout from before it.
	SnapshotData layout;
	LayoutMemento before;
	LoadSource source = LoadSource::Dialog;
	// Somebody chose this load: a person, a rule, a request, the monitors or undo. The layout kept across restarts,
	// put back at start, is no choice: it names no snapshot, and `path` is `last` as it stood.
	bool chosen = true;
};

// A feature that reacts to what the controller's operations did. The start and end of every operation, and every load
// that took effect once `last` is its path, reach each listener of operationListeners(), in that list's order. A kept
// layout that OBS had put on screen already changed nothing: it reaches the late docks alone.
class OperationListener {
public:
	virtual void layoutLoaded(const LoadedLayout &loaded) = 0;
	// An operation has set the busy flag; it has ended and cleared it.
	virtual void operationStarted() {}
	virtual void operationEnded() {}

protected:
	~OperationListener() = default;
};
