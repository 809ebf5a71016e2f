#pragma once

#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "module/SnapshotHolder.hpp"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPointer>

#include <optional>

#include <obs.h>

class QAction;
class QWidget;

// Undo: the layouts from before the last loads, newest last, with the hotkey and the manager's entry that put the
// newest one back. A run of single-dock changes with no load between them is one step, the layout from before the
// first of them: toggling a dock ten times pushes no load out of the history.
class UndoHistory : public QObject, public SnapshotHolder, public OperationListener {
	friend struct VelkinProbe;

public:
	static constexpr int kDepth = 10;

	explicit UndoHistory(FeatureHost &host);

	// Keeps the layout from before a load; beyond kDepth the oldest goes.
	void remember(const LayoutMemento &before);
	// Keeps the layout from before a change of one dock, unless the newest step is that of the run it belongs to.
	void rememberDockChange(const LayoutMemento &before);
	bool isEmpty() const { return history.isEmpty(); }
	// Puts the newest kept layout back, as an operation of its own. One that the window refuses stays kept.
	LoadResult undo();

	// The hotkey "obs-velkin.undo", registered with the bindings given; its id, and its bindings as the host has
	// them now (nothing while it is not registered).
	void registerHotkey(obs_hotkey_func callback, void *data, const QJsonArray &bindings);
	void unregisterHotkey();
	obs_hotkey_id hotkey() const { return hotkeyId; }
	std::optional<QJsonArray> hotkeyBindings() const;

	// The manager list's Undo entry, enabled while there is a layout to put back.
	void addAction(QWidget *list);

	void snapshotRenamed(const QString &oldPath, const QString &newPath) override;
	void snapshotDeleted(const QString &path) override;
	// Every load but an undo's own keeps the layout from before it.
	void layoutLoaded(const LoadedLayout &loaded) override;

private:
	void updateAction();

	FeatureHost &host;
	QList<LayoutMemento> history;
	// The newest step is from before a run of dock changes that goes on until the next load or undo.
	bool dockRunOpen = false;
	obs_hotkey_id hotkeyId = OBS_INVALID_HOTKEY_ID;
	QPointer<QAction> action;
};
