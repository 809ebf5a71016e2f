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
};

// A feature that reacts to what the controller's operations did. Every load that took effect and the start and end of
// every operation reach each listener of operationListeners(), in that list's order, once the controller has set `last`.
class OperationListener {
public:
	virtual void layoutLoaded(const LoadedLayout &loaded) = 0;
	// An operation has set the busy flag; it has ended and cleared it.
	virtual void operationStarted() {}
	virtual void operationEnded() {}

protected:
	~OperationListener() = default;
};
