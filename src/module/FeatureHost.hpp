#pragma once

#include "store/SnapshotCatalogue.hpp"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <obs.h>

class QMainWindow;

// Where a load comes from. An automatic load (of a rule or of the monitors), a remote load or the layout kept across
// restarts never asks and never shows a box: missing docks are not asked about and failures are only logged.
enum class LoadSource { Dialog, Hotkey, Automation, Remote, Undo, Menu, Monitors, Kept };
enum class LoadResult { Loaded, NotStarted, Cancelled, ReadFailed, RestoreFailed };

// The layout before a load, kept so that it can be put back: geometry, dock state and `last` as they were.
struct LayoutMemento {
	QByteArray geometry;
	QByteArray state;
	QString last;
};

// What a feature object may ask of the controller, which implements it. A feature that needs more declares its own
// host, derived from this one, beside its class.
class FeatureHost {
public:
	// Ready and not shutting down; shutting down.
	virtual bool isActive() const = 0;
	virtual bool isShuttingDown() const = 0;
	// The host's main window; null once it is gone.
	virtual QMainWindow *window() const = 0;
	// Whether a snapshot operation may start now. Starting one sets the busy flag (false when it may not start);
	// ending it clears the flag. OperationGuard pairs them.
	virtual bool canStartOperation() const = 0;
	virtual bool beginOperation() = 0;
	virtual void endOperation() = 0;
	// Loads the snapshot at path; missingDocks, when given, receives its docks that are not there now.
	virtual LoadResult loadSnapshot(const QString &path, LoadSource source, QStringList *missingDocks) = 0;
	// Puts a kept layout back, with the `last` it kept, inside an operation that has started.
	virtual LoadResult putLayoutBack(const LayoutMemento &layout, LoadSource source) = 0;
	virtual LayoutMemento currentLayout() const = 0;
	// `last`, and the path of a file of the snapshot folder.
	virtual QString lastSnapshot() const = 0;
	virtual QString snapshotPath(const QString &fileName) const = 0;

protected:
	~FeatureHost() = default;
};

// What the features that list the snapshots (the remote requests, the Dock Layouts menu) ask besides.
class CatalogueHost : public virtual FeatureHost {
public:
	// The catalogue as the folder holds it now, in the user's order; a snapshot's load hotkey, if it has one.
	virtual QList<SnapshotEntry> catalogue() const = 0;
	virtual obs_hotkey_id loadHotkeyOf(const QString &path) const = 0;
	// Whether there is a load to undo; undoing it.
	virtual bool canUndo() const = 0;
	virtual LoadResult undoLastLoad() = 0;

protected:
	~CatalogueHost() = default;
};
