#pragma once

#include "latedocks/LateDocks.hpp"
#include "module/VelkinHosts.hpp"
#include "operations/DockWatcher.hpp"
#include "operations/LayoutHold.hpp"
#include "operations/Presses.hpp"
#include "undo/UndoHistory.hpp"

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>
#include <obs-frontend-api.h>
#include <obs.h>

class QAction;
class QDialog;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMainWindow;
class QPushButton;
struct SnapshotFolder;

// The one controller, a child of the host's main window, deleted by unload or with the main window, whichever comes
// first. Its operations live in one file per subsystem. Each feature beyond them is an object of its own that keeps
// its state and reaches the controller through the host interface that it declares (docs/architecture.md).
class Velkin : public QObject, private VelkinHosts {
	friend struct VelkinProbe;

public:
	explicit Velkin(QMainWindow *window);
	~Velkin() override;

	void onFrontendEvent(enum obs_frontend_event event);
	void shutdown();

	// What the dialog's buttons, the hotkeys and the menus start.
	void refreshSnapshotList(const QString &targetPath, const SnapshotFolder *looked = nullptr);
	void showManagerDialog() override;
	void saveNewSnapshot() override;
	void overwriteSnapshot();
	LoadResult loadSnapshot(const QString &path, LoadSource source = LoadSource::Dialog,
				QStringList *missingDocks = nullptr) override;
	void renameSnapshot();
	void deleteSnapshot();
	void exportSnapshot();
	void importSnapshot();
	void openSnapshotFolder();
	void saveSettings();
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// Lifecycle and paths (Velkin.cpp)
	void activate();
	QString snapshotPath(const QString &fileName) const override;
	QString heldSnapshotPath(const QString &path) const;

	// What the features ask besides (FeatureHosts.cpp)
	bool isActive() const override;
	bool isShuttingDown() const override;
	QMainWindow *window() const override;
	QString lastSnapshot() const override;
	QList<SnapshotEntry> catalogue() const override;
	QList<SnapshotEntry> catalogueOf(const SnapshotFolder &looked) const override;
	QString snapshotFolder() const override;
	obs_hotkey_id loadHotkeyOf(const QString &path) const override;
	bool canUndo() const override;
	LoadResult undoLastLoad() override;
	QStringList ruleEventNames(const QString &fileName) const override;
	std::optional<QJsonArray> undoHotkeyBindings() const override;
	bool keepsLayout() const override;
	void rememberForUndo(const LayoutMemento &before) override;
	void setKeepsLayout(bool enabled) override;

	// The list's rows (SnapshotCatalogue.cpp)
	QString selectedSnapshotPath() const override;
	QString snapshotToolTip(const SnapshotEntry &entry) const override;
	void rulesChanged() override;

	// Error reports and confirmations (ErrorReports.cpp)
	void logError(const char *key, const QString &detail);
	void reportError(const char *key, const QString &detail);
	bool confirmAction(const QString &text, bool continueIsDefault);
	bool ensureSnapshotDirectory() override;
	bool checkSnapshotLimit();
	bool checkSnapshotLimit(const SnapshotFolder &folder) override;

	// How an operation starts; what Overwrite, Rename and Export work on (OperationGuard.cpp)
	bool canStartOperation() const override;
	bool beginOperation() override;
	void endOperation() override;
	struct SelectedSnapshot {
		QString path;
		SnapshotData data;
	};
	std::optional<SelectedSnapshot> readSelectedSnapshot();

	// Capture (Capture.cpp)
	QString promptSnapshotName(const QString &initialText, const QString &excludedPath,
				   SnapshotFolder *looked = nullptr);
	QString storeSnapshot(const SnapshotData &data, const QString &oldPath, SnapshotFolder *looked = nullptr);
	QString storeLayout(const QString &name, const QString &oldPath, SnapshotFolder *looked) override;

	// Restore (Restore.cpp)
	void reportLoadFailure(LoadSource source, const char *key, const QString &detail);
	LayoutMemento currentLayout() const override;
	// Sets `last` and tells every listener of operationListeners(), in order.
	void finishLoad(const LoadedLayout &loaded);
	LoadResult putLayoutBack(const LayoutMemento &layout, LoadSource source) override;
	LoadResult putKeptLayout(const SnapshotData &kept, bool *changed) override;
	void selectSnapshotRow(const QString &path);

	// Export and import (Transfer.cpp)
	enum class FileDialogMode { Export, Import };
	QString chooseSnapshotFile(FileDialogMode mode, const QString &suggestedName);

	// References that follow a snapshot file, the controller's and its SnapshotHolders' (SnapshotReferences.cpp)
	void moveSnapshotReferences(const QString &oldPath, const QString &newPath);
	void forgetSnapshotReferences(const QString &path);
	std::array<SnapshotHolder *, 4> snapshotHolders();
	// The features that follow loads and the ends of operations (OperationGuard.cpp), in the order they are told.
	std::array<OperationListener *, 6> operationListeners();

	// Manager dialog (ManagerDialog.cpp, DialogInteractions.cpp; the report of test builds in LayoutReport.cpp)
	void reportDialogLayout();
	void buildManagerDialog();
	QPushButton *addDialogButton(QGridLayout *grid, int row, const char *key, bool needsSnapshot,
				     const std::function<void()> &operation);
	QListWidgetItem *findSnapshotItem(const QString &query) const;
	void applySearch();
	void updateSearchNotice();
	void focusSearch();
	void loadSelectedSnapshot();
	void updateButtonStates();
	void storeListOrder();

	// Hotkeys (Hotkeys.cpp, Presses.cpp)
	static void hotkeyCallback(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
	static void onBindingsChanged(void *data, calldata_t *callData);
	void registerGlobalHotkeys();
	void unregisterHotkeys();
	void connectBindingsSignal();
	void disconnectBindingsSignal();
	void dispatchHotkey(obs_hotkey_id id);
	void cycleSnapshot(int step);
	QString cycleTarget(const QString &from, int step) const override;
	void pressLoad(const QString &path);
	void applyPressedLoad() override;
	void registerLoadHotkey(const QString &path, const QString &displayName);
	void pruneLoadHotkeys(const QSet<QString> &listedPaths);
	void noteBindingsChanged(obs_hotkey_id id);

	// Settings file (SettingsFile.cpp)
	void readSettings();
	void onSettingsSaveTimer();

	QPointer<QMainWindow> mainWindow;
	QPointer<QAction> toolsMenuAction;
	QPointer<QDialog> managerDialog;
	QPointer<QListWidget> snapshotList;
	QPointer<QLineEdit> searchEdit;
	QPointer<QLabel> notFoundLabel;
	QString snapshotDirectory;
	QString settingsPath;
	QString last;
	QStringList snapshotOrder;
	QJsonObject settings;
	obs_hotkey_id cycleHotkeyId = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id previousHotkeyId = OBS_INVALID_HOTKEY_ID;
	obs_hotkey_id openHotkeyId = OBS_INVALID_HOTKEY_ID;
	QMap<QString, obs_hotkey_id> loadHotkeys;
	QTimer settingsSaveTimer;
	bool ready = false;
	bool shuttingDown = false;
	bool busy = false;
	QList<QPointer<QPushButton>> selectionButtons;
	// The features, each the owner of its state; the hold after a load and the watcher of the docks serve them.
	LayoutHold layoutHold;
	DockWatcher dockWatcher;
	Automation automation;
	MonitorFollower monitors;
	UndoHistory undo;
	RemoteControl remote;
	LayoutsMenu layoutsMenu;
	LoadPresses presses;
	LateDocks lateDocks;
	LayoutKeeper keeper;
	// Each load hotkey's name and description as last given: a refresh renames only what changed.
	QHash<obs_hotkey_id, QByteArray> loadHotkeyLabels;
};
