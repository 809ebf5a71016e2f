#pragma once

#include "automation/AutomationFile.hpp"
#include "module/FeatureHost.hpp"
#include "module/OperationListener.hpp"
#include "module/SnapshotHolder.hpp"
#include "operations/EventFilters.hpp"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <optional>

#include <obs-frontend-api.h>

class QAction;
class QMenu;
class QWidget;
struct SnapshotFolder;

// What automation asks of the controller besides loads and layouts.
class AutomationHost : public virtual FeatureHost {
public:
	// Makes the snapshot folder, beside which automation.json lies; false, reported, when it cannot.
	virtual bool ensureSnapshotDirectory() = 0;
	// The undo hotkey's bindings as the host has them now; nothing while it is not registered.
	virtual std::optional<QJsonArray> undoHotkeyBindings() const = 0;
	// The manager's selected snapshot, and the manager's rows to show rules that changed.
	virtual QString selectedSnapshotPath() const = 0;
	virtual void rulesChanged() = 0;

protected:
	~AutomationHost() = default;
};

// Rules that load a snapshot when the show changes, kept in automation.json with the option that puts the earlier
// layout back when streaming or recording stops. It keeps what each start event loaded automatically, the record
// that a stop has taken of it, and the one event that waits for a running operation to end; in the manager's
// context menu, the rules of a snapshot and the option.
class Automation : public QObject, public SnapshotHolder, public OperationListener {
	friend struct VelkinProbe;

public:
	explicit Automation(AutomationHost &host);

	// automation.json at path, read and kept for the saves. At exit it is saved unless it is a file that could not
	// be read all: that one stays as the user left it until a rule, the option or the undo binding changes.
	void read(const QString &path);
	void save();
	void saveAtExit();
	// The undo hotkey's bindings as read.
	QJsonArray undoBindings() const { return settings.undoHotkey; }
	// A key that earlier versions keep in automation.json, as read.
	QJsonValue olderKey(const QString &key) const { return settings.olderKeys.value(key); }

	// At activation the start rule applies, once the main window is shown; at shutdown nothing waits any more.
	void start();
	void stop();
	// A frontend event of the host, applied once the host has finished with it.
	void frontendEvent(enum obs_frontend_event event);
	// A waiting event runs after the operation that held it.
	void operationEnded() override;
	// A load has happened: the start rule never replaces one. The layout kept across restarts is no load.
	void layoutLoaded(const LoadedLayout &loaded) override;

	// An event has one rule: enabling it for a file moves it from whichever file held it.
	void setRule(AutomationEvent event, const QString &fileName, bool enabled);
	void setRestorePreviousOnStop(bool enabled) { setOption(&AutomationSettings::restorePreviousOnStop, enabled); }
	// The option of keeping the layout on screen across restarts, which the layout keeper follows.
	QList<AutomationEvent> rulesOf(const QString &fileName) const;
	// The events of every snapshot that has rules, by file name: at most one entry an event.
	QHash<QString, QList<AutomationEvent>> rulesByFile() const;
	// Drops the rules of snapshot files that the folder no longer has at all.
	void dropRulesOutside(const SnapshotFolder &folder);

	// The manager list's rules submenu, for the row it was opened on, and the option.
	void addActions(QWidget *list);
	void menuOpenedOn(const QString &path) { menuPath = path; }
	void updateActions();

	void snapshotRenamed(const QString &oldPath, const QString &newPath) override;
	void snapshotDeleted(const QString &path) override;
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// What a start event loaded automatically, and the layout from before it.
	struct AutomaticLoad {
		LayoutMemento before;
		QString loaded;
	};

	void onEvent(AutomationEvent event);
	// Sets one of the options of automation.json, saves it and checks its entry.
	void setOption(bool AutomationSettings::*option, bool enabled);
	void run(AutomationEvent event);
	void applyPending();
	void fillMenu();
	// Gives the rules of the file `from` to the file `to` (to none when empty): true when there were any. The
	// records of automatic loads, the waiting stop's among them, follow a path the same way.
	bool moveRules(const QString &from, const QString &to);
	void moveRecords(const QString &from, const QString &to);

	AutomationHost &host;
	QString path;
	AutomationSettings settings;
	bool fileKept = false;
	std::optional<AutomationEvent> pendingEvent;
	// The main window while the start rule waits for it to be shown.
	EventFilters firstShowWindow{this};
	// Per start event: the layout from before its automatic load and the `last` that load set.
	std::array<std::optional<AutomaticLoad>, kAutomationEventCount> automaticLoads;
	// The record that the stop event running or waiting now took from its start.
	std::optional<AutomaticLoad> stopRecord;
	bool loadedSinceStart = false;
	QPointer<QMenu> menu;
	// The snapshot whose row the context menu was opened on: its rules submenu edits that one, even when a load
	// moves the selection while the menu is open.
	QString menuPath;
	QPointer<QAction> restorePreviousAction;
};
