#pragma once

#include "module/Velkin.hpp"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>

// The tests' one way past the controller's public operations: its members and those of its feature objects, read
// and set in place, and the steps of the operations that the tests take one at a time.
struct VelkinProbe {
	Velkin &velkin;

	QPointer<QMainWindow> &mainWindow() { return velkin.mainWindow; }
	QPointer<QAction> &toolsMenuAction() { return velkin.toolsMenuAction; }
	QPointer<QDialog> &managerDialog() { return velkin.managerDialog; }
	QPointer<QListWidget> &snapshotList() { return velkin.snapshotList; }
	QPointer<QLineEdit> &searchEdit() { return velkin.searchEdit; }
	QPointer<QLabel> &notFoundLabel() { return velkin.notFoundLabel; }
	QString &snapshotDirectory() { return velkin.snapshotDirectory; }
	QString &settingsPath() { return velkin.settingsPath; }
	QString &last() { return velkin.last; }
	QStringList &snapshotOrder() { return velkin.snapshotOrder; }
	QJsonObject &settings() { return velkin.settings; }
	obs_hotkey_id cycleHotkeyId() { return velkin.cycleHotkeyId; }
	obs_hotkey_id previousHotkeyId() { return velkin.previousHotkeyId; }
	obs_hotkey_id openHotkeyId() { return velkin.openHotkeyId; }
	QMap<QString, obs_hotkey_id> &loadHotkeys() { return velkin.loadHotkeys; }
	QTimer &settingsSaveTimer() { return velkin.settingsSaveTimer; }
	bool &ready() { return velkin.ready; }
	bool &shuttingDown() { return velkin.shuttingDown; }
	bool &busy() { return velkin.busy; }
	QList<QPointer<QPushButton>> &selectionButtons() { return velkin.selectionButtons; }
	bool pressedLoadQueued() { return velkin.presses.callQueued(); }

	QString snapshotPath(const QString &fileName) { return velkin.snapshotPath(fileName); }
	QString selectedSnapshotPath() { return velkin.selectedSnapshotPath(); }
	void selectSnapshotRow(const QString &path) { velkin.selectSnapshotRow(path); }
	void loadSelectedSnapshot() { velkin.loadSelectedSnapshot(); }
	QString storeSnapshot(const SnapshotData &data, const QString &oldPath)
	{
		return velkin.storeSnapshot(data, oldPath);
	}
	void reportError(const char *key, const QString &detail) { velkin.reportError(key, detail); }
	bool confirmAction(const QString &text, bool continueIsDefault)
	{
		return velkin.confirmAction(text, continueIsDefault);
	}
	bool ensureSnapshotDirectory() { return velkin.ensureSnapshotDirectory(); }
	bool checkSnapshotLimit() { return velkin.checkSnapshotLimit(); }
	void readSettings() { velkin.readSettings(); }
	void dispatchHotkey(obs_hotkey_id id) { velkin.dispatchHotkey(id); }
	void cycleSnapshot(int step) { velkin.cycleSnapshot(step); }
	void pressLoad(const QString &path) { velkin.pressLoad(path); }
	// What a rename and a delete do to the references, without the file operations around them.
	void moveSnapshotReferences(const QString &oldPath, const QString &newPath)
	{
		velkin.moveSnapshotReferences(oldPath, newPath);
	}
	void forgetSnapshotReferences(const QString &path) { velkin.forgetSnapshotReferences(path); }

	RemoteControl &remote() { return velkin.remote; }

	// Automation
	Automation &automation() { return velkin.automation; }
	AutomationSettings &automationSettings() { return velkin.automation.settings; }
	QString &automationPath() { return velkin.automation.path; }
	QPointer<QMenu> &automationMenu() { return velkin.automation.menu; }
	QPointer<QAction> &restorePreviousAction() { return velkin.automation.restorePreviousAction; }

	// Following the monitors: the settings, the screens it sees (the tests give their own) and a change of them.
	MonitorFollower &monitors() { return velkin.monitors; }
	MonitorSettings &monitorSettings() { return velkin.monitors.settings; }
	std::function<MonitorSet()> &monitorsNow() { return velkin.monitors.monitorsNow; }
	void screensChanged() { velkin.monitors.screensChanged(); }
	// Started, and the monitors' last change has settled (it may still wait for an operation's end).
	bool screensSettled() const
	{
		return !velkin.monitors.screenConnections.isEmpty() && !velkin.monitors.screensTimer.isActive();
	}
	// Settled, no change waits for an operation's end, and no write of the memory waits.
	bool monitorsIdle() const
	{
		return screensSettled() && !velkin.monitors.screensWaiting && !velkin.monitors.memorySaveTimer.isActive();
	}
	QPointer<QAction> &followMonitorsAction() { return velkin.monitors.followAction; }

	// The Dock Layouts menu and the pictures
	LayoutsMenu &layoutsMenu() { return velkin.layoutsMenu; }
	QPointer<QMenu> &layoutsSubmenu() { return velkin.layoutsMenu.menu; }
	QPointer<QAction> &layoutsMenuAction() { return velkin.layoutsMenu.menuAction; }
	const QHash<QString, LayoutsMenu::Picture> &layoutPictures() { return velkin.layoutsMenu.pictures; }

	// Undo
	UndoHistory &undo() { return velkin.undo; }
	QList<LayoutMemento> &undoHistory() { return undoHistoryOf(velkin.undo); }
	static QList<LayoutMemento> &undoHistoryOf(UndoHistory &undo) { return undo.history; }
	obs_hotkey_id undoHotkeyId() { return velkin.undo.hotkeyId; }
	QPointer<QAction> &undoAction() { return velkin.undo.action; }

	// The layout kept across restarts: its file, and a write of the layout of now there, as the still timer does.
	LayoutKeeper &keeper() { return velkin.keeper; }
	QString &keptPath() { return velkin.keeper.path; }
	QTimer &keeperStillTimer() { return velkin.keeper.stillTimer; }
	DockWatcher &dockWatcher() { return velkin.dockWatcher; }
	// The timer of the watcher's next report.
	static QTimer &turnOf(DockWatcher &watcher) { return watcher.turn; }
	void watchForKeeping()
	{
		velkin.dockWatcher.start(velkin.mainWindow);
		velkin.keeper.window = velkin.mainWindow;
		velkin.keeper.watch();
	}
	void forgetKeptLayout() { velkin.keeper.kept.reset(); }
	void keepLayoutNow(const QString &path)
	{
		velkin.keeper.setPath(path);
		velkin.keeper.window = velkin.mainWindow;
		velkin.keeper.watching = true;
		velkin.keeper.writeNow();
	}
};

inline VelkinProbe probe(Velkin *velkin)
{
	return VelkinProbe{*velkin};
}
