#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

#include <obs-frontend-api.h>
#include <obs.h>

#include "automation/Automation.hpp"
#include "menu/LayoutsMenu.hpp"
#include "module/FeatureHost.hpp"
#include "remote/RemoteControl.hpp"
#include "store/SnapshotDocument.hpp"
#include "undo/UndoHistory.hpp"

class QAction;
class QGridLayout;
class QListWidgetItem;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMainWindow;
class QMenu;
class QPushButton;
struct SnapshotFolder;

// The one controller: everything the module holds while it is loaded. It is a child of the host's
// main window and is deleted either by unload or together with the main window, whichever comes first.
// Its operations live in one file per subsystem; the members are open to those files and to the tests.
class Velkin : public QObject, private AutomationHost, private RemoteHost, private MenuHost {
public:
	explicit Velkin(QMainWindow *window);
	~Velkin() override;

	Velkin(const Velkin &) = delete;
	Velkin &operator=(const Velkin &) = delete;

	// Lifecycle
	void onFrontendEvent(enum obs_frontend_event event);
	void shutdown();
	bool isActive() const override;
	bool isShuttingDown() const override;
	QMainWindow *window() const override;
	QString lastSnapshot() const override;

	// Paths: the snapshot folder's file of that name, and any path to a snapshot in the spelling the module holds.
	QString snapshotPath(const QString &fileName) const override;
	QString heldSnapshotPath(const QString &path) const;

	// Catalogue
	// A look at the folder that the same uninterrupted stretch of work took already spares a second one.
	void refreshSnapshotList(const QString &targetPath, const SnapshotFolder *looked = nullptr);
	QString selectedSnapshotPath() const override;

	// Error reports and confirmations
	void logError(const char *key, const QString &detail);
	void reportError(const char *key, const QString &detail);
	bool confirmAction(const QString &text, bool continueIsDefault);
	bool ensureSnapshotDirectory() override;
	bool checkSnapshotLimit();
	bool checkSnapshotLimit(const SnapshotFolder &folder) override;

	// Snapshot operations
	bool canStartOperation() const override;
	bool beginOperation() override;
	void endOperation() override;
	// The selected snapshot's path and document, where Overwrite, Rename and Export start. Nothing when no
	// snapshot is selected (silently) or its file cannot be read (reported).
	struct SelectedSnapshot {
		QString path;
		SnapshotData data;
	};
	std::optional<SelectedSnapshot> readSelectedSnapshot();
	void saveNewSnapshot() override;
	void overwriteSnapshot();
	// The accepted name; the look at the folder that accepted it goes to `looked`, for the store that follows.
	QString promptSnapshotName(const QString &initialText, const QString &excludedPath,
				   SnapshotFolder *looked = nullptr);
	// Writes the document as a new snapshot or over the one at oldPath and lists it. `looked`, when given, is a
	// look at the folder taken since the last event loop ran; it is used up.
	QString storeSnapshot(const SnapshotData &data, const QString &oldPath, SnapshotFolder *looked = nullptr);
	// Stores the layout of now under the name, as storeSnapshot does, and makes it `last`.
	QString storeLayout(const QString &name, const QString &oldPath, SnapshotFolder *looked) override;
	using LoadSource = ::LoadSource;
	using LoadResult = ::LoadResult;
	using LayoutMemento = ::LayoutMemento;
	LoadResult loadSnapshot(const QString &path, LoadSource source = LoadSource::Dialog,
				QStringList *missingDocks = nullptr) override;
	void reportLoadFailure(LoadSource source, const char *key, const QString &detail);
	void renameSnapshot();
	void deleteSnapshot();
	enum class FileDialogMode { Export, Import };
	QString chooseSnapshotFile(FileDialogMode mode, const QString &suggestedName);
	void exportSnapshot();
	void importSnapshot();
	void openSnapshotFolder();

	LayoutMemento currentLayout() const override;
	void finishLoad(const QString &path, const QString &name, const LayoutMemento &before, LoadSource source);
	LoadResult putLayoutBack(const LayoutMemento &layout, LoadSource source) override;
	LoadResult undoLastLoad() override;
	void selectSnapshotRow(const QString &path);

	// What the features ask besides (FeatureHosts.cpp)
	QList<SnapshotEntry> catalogue() const override;
	QList<SnapshotEntry> catalogueOf(const SnapshotFolder &looked) const override;
	QString snapshotFolder() const override;
	obs_hotkey_id loadHotkeyOf(const QString &path) const override;
	bool canUndo() const override;
	QStringList ruleEventNames(const QString &fileName) const override;
	std::optional<QJsonArray> undoHotkeyBindings() const override;
	QString snapshotToolTip(const SnapshotEntry &entry) const override;

	// References that follow a snapshot file: the controller's own, then those of every holder.
	void moveSnapshotReferences(const QString &oldPath, const QString &newPath);
	void forgetSnapshotReferences(const QString &path);
	// Every feature object that holds snapshot paths or file names: a feature that holds them is a SnapshotHolder
	// and is listed here, where rename and delete reach it.
	std::array<SnapshotHolder *, 3> snapshotHolders();

	// Manager dialog
	void showManagerDialog() override;
	// Test builds only: logs the shown dialog's size and the room of its texts, when VELKIN_DIALOG_REPORT is set.
	void reportDialogLayout();
	void buildManagerDialog();
	QPushButton *addDialogButton(QGridLayout *grid, int row, const char *key, bool needsSnapshot,
				     const std::function<void()> &operation);
	QListWidgetItem *findSnapshotItem(const QString &query) const;
	void applySearch();
	void updateSearchNotice();
	bool eventFilter(QObject *watched, QEvent *event) override;
	void focusSearch();
	void loadSelectedSnapshot();
	void updateButtonStates();
	void storeListOrder();
	// Shows the rules of every row as they are now.
	void rulesChanged() override;
	// A row's tool tip: its name, the file's modification time to the second, its path and its rules.
	static QString rowToolTip(const QString &name, const QDateTime &modified, const QString &path,
				  const QList<AutomationEvent> &events);

	// Hotkeys
	static void hotkeyCallback(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
	static void onBindingsChanged(void *data, calldata_t *callData);
	void registerGlobalHotkeys();
	void unregisterHotkeys();
	void connectBindingsSignal();
	void disconnectBindingsSignal();
	void dispatchHotkey(obs_hotkey_id id);
	void cycleSnapshot(int step);
	// The snapshot `step` places from the snapshot at `from` in the order; from a snapshot that is not listed,
	// next is the first and previous the last.
	QString cycleTarget(const QString &from, int step) const override;
	void pressLoad(const QString &path);
	void applyPressedLoad() override;
	void registerLoadHotkey(const QString &path, const QString &displayName);
	void pruneLoadHotkeys(const QSet<QString> &listedPaths);
	void noteBindingsChanged(obs_hotkey_id id);

	// Settings file
	void readSettings();
	void saveSettings();
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
	// The name and description each load hotkey was last given, so that a refresh renames only what changed: the
	// host looks a hotkey up among all of them for every rename.
	QHash<obs_hotkey_id, QByteArray> loadHotkeyLabels;
	// Where the load presses since the last applied one lead: each press moves it, and one queued call loads it.
	// A burst of presses restores one layout, not one per press.
	std::optional<QString> pressedLoad;
	bool pressedLoadQueued = false;
	QTimer settingsSaveTimer;
	bool ready = false;
	bool shuttingDown = false;
	bool busy = false;
	QList<QPointer<QPushButton>> selectionButtons;

	Automation automation;
	UndoHistory undo;
	RemoteControl remote;
	LayoutsMenu layoutsMenu;

private:
	void activate();
};
