#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

#include <obs-frontend-api.h>
#include <obs.h>

#include "store/SnapshotDocument.hpp"

class QAction;
class QGridLayout;
class QListWidgetItem;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QMainWindow;
class QPushButton;

// The one controller: everything the module holds while it is loaded. It is a child of the host's
// main window and is deleted either by unload or together with the main window, whichever comes first.
// Its operations live in one file per subsystem; the members are open to those files and to the tests.
class Velkin : public QObject {
public:
	explicit Velkin(QMainWindow *window);
	~Velkin() override;

	Velkin(const Velkin &) = delete;
	Velkin &operator=(const Velkin &) = delete;

	// Lifecycle
	void onFrontendEvent(enum obs_frontend_event event);
	void shutdown();

	// Paths: the snapshot folder's file of that name, and any path to a snapshot in the spelling the module holds.
	QString snapshotPath(const QString &fileName) const;
	QString heldSnapshotPath(const QString &path) const;

	// Catalogue
	void refreshSnapshotList(const QString &targetPath);
	QString selectedSnapshotPath() const;

	// Error reports and confirmations
	void reportError(const char *key, const QString &detail);
	bool confirmAction(const QString &text, bool continueIsDefault);
	bool ensureSnapshotDirectory();
	bool checkSnapshotLimit();

	// Snapshot operations
	bool canStartOperation() const;
	// The selected snapshot's path and document, where Overwrite, Rename and Export start. Nothing when no
	// snapshot is selected (silently) or its file cannot be read (reported).
	struct SelectedSnapshot {
		QString path;
		SnapshotData data;
	};
	std::optional<SelectedSnapshot> readSelectedSnapshot();
	void saveNewSnapshot();
	void overwriteSnapshot();
	QString promptSnapshotName(const QString &initialText, const QString &excludedPath);
	QString storeSnapshot(const SnapshotData &data, const QString &oldPath);
	void loadSnapshot(const QString &path);
	void renameSnapshot();
	void deleteSnapshot();
	enum class FileDialogMode { Export, Import };
	QString chooseSnapshotFile(FileDialogMode mode, const QString &suggestedName);
	void exportSnapshot();
	void importSnapshot();
	void openSnapshotFolder();

	// References that follow a snapshot file
	void moveSnapshotReferences(const QString &oldPath, const QString &newPath);
	void forgetSnapshotReferences(const QString &path);

	// Manager dialog
	void showManagerDialog();
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

	// Hotkeys
	static void hotkeyCallback(void *data, obs_hotkey_id id, obs_hotkey_t *hotkey, bool pressed);
	static void onBindingsChanged(void *data, calldata_t *callData);
	void registerGlobalHotkeys();
	void unregisterHotkeys();
	void connectBindingsSignal();
	void disconnectBindingsSignal();
	void dispatchHotkey(obs_hotkey_id id);
	void cycleSnapshot(int step);
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
	QTimer settingsSaveTimer;
	bool ready = false;
	bool shuttingDown = false;
	bool busy = false;
	QList<QPointer<QPushButton>> selectionButtons;

private:
	void activate();
};
