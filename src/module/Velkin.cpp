#include "module/Velkin.hpp"
#include "automation/AutomationFile.hpp"
#include "base/Log.hpp"
#include "module/Module.hpp"
#include "operations/StudioModeGuard.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotNames.hpp"

#include <QAction>
#include <QDialog>
#include <QFileInfo>
#include <QMainWindow>

#include <util/util.hpp>

namespace {

QString configPath(const char *file)
{
	BPtr<char> path = obs_module_get_config_path(velkinModule(), file);
	return path ? QString::fromUtf8(path.Get()) : QString();
}

void frontendEventCallback(enum obs_frontend_event event, void *data)
{
	static_cast<Velkin *>(data)->onFrontendEvent(event);
}

} // namespace

Velkin::Velkin(QMainWindow *window)
    : QObject(window), mainWindow(window), automation(*this), monitors(*this), undo(*this), remote(*this, dockWatcher),
      layoutsMenu(*this), lateDocks(*this, dockWatcher), keeper(*this, dockWatcher)
{
	// OBS may hand over a relative path (portable mode), doubled or trailing slashes, or a folder behind a link.
	// Every path the module holds is derived from these two, in this one spelling.
	snapshotDirectory = normalizedPath(configPath(kSnapshotDirectoryName));
	settingsPath = normalizedPath(configPath(kSettingsFileName));
	readSettings();
	const QString automationPath = normalizedPath(configPath(kAutomationFileName));
	automation.read(automationPath);
	monitors.read(normalizedPath(configPath(kMonitorsFileName)), automationPath);
	keeper.setPath(normalizedPath(configPath(kKeptLayoutFileName)));
	keeper.readOption(normalizedPath(configPath(kKeeperFileName)),
			  automation.olderKey(QStringLiteral("keepLayoutAcrossRestarts")));
	registerGlobalHotkeys();
	settingsSaveTimer.setSingleShot(true);
	settingsSaveTimer.setInterval(kSettingsSaveDelayMs);
	QObject::connect(&settingsSaveTimer, &QTimer::timeout, this, [this] { onSettingsSaveTimer(); });
	obs_frontend_add_event_callback(frontendEventCallback, this);
}

Velkin::~Velkin()
{
	shutdown();
}

// The snapshot folder's file of that name.
QString Velkin::snapshotPath(const QString &fileName) const
{
	// The folder is clean, so joining is all it takes (the list refresh calls this once a row); only the file
	// system's root already ends in a separator.
	if (snapshotDirectory.endsWith(QLatin1Char('/'))) {
		return snapshotDirectory + fileName;
	}
	return snapshotDirectory + QLatin1Char('/') + fileName;
}

// Any path to a snapshot in the spelling the module holds.
QString Velkin::heldSnapshotPath(const QString &path) const
{
	const QString clean = normalizedPath(path);
	if (clean.isEmpty() || snapshotDirectory.isEmpty()) {
		return clean;
	}
	// A file of the snapshot folder, however it was spelled (another working folder, a link, an older
	// version), is held as the catalogue lists it.
	const QFileInfo info(clean);
	const QString listed = snapshotPath(info.fileName());
	if (clean == listed) {
		return listed;
	}
	const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
	if (!folder.isEmpty() && folder == QFileInfo(snapshotDirectory).canonicalFilePath()) {
		return listed;
	}
	return clean;
}

void Velkin::onFrontendEvent(enum obs_frontend_event event)
{
	if (shuttingDown) {
		return;
	}
	if (event == OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED) {
		finishStudioModeTeardown(mainWindow);
	}
	switch (event) {
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		activate();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
		shutdown();
		break;
	default:
		automation.frontendEvent(event);
		break;
	}
}

void Velkin::activate()
{
	if (ready || !ensureSnapshotDirectory()) {
		return;
	}
	ready = true;
	toolsMenuAction =
		static_cast<QAction *>(obs_frontend_add_tools_menu_qaction(localeText("Title").toUtf8().constData()));
	if (toolsMenuAction) {
		QObject::connect(toolsMenuAction, &QAction::triggered, this, [this] { showManagerDialog(); });
	}
	layoutsMenu.add();
	refreshSnapshotList(QString());
	saveSettings();
	connectBindingsSignal();
	dockWatcher.start(mainWindow);
	remote.open();
	automation.start();
	monitors.start();
	lateDocks.start();
	keeper.start();
}

void Velkin::shutdown()
{
	if (shuttingDown) {
		return;
	}
	shuttingDown = true;
	// An operation that waits on a question or a prompt has its frames on the stack: OBS may delete the main window
	// before that loop returns, and must not take the controller along. Unload deletes it then.
	if (busy) {
		setParent(nullptr);
	}
	// First: no request may reach the controller from here on.
	remote.close();
	settingsSaveTimer.stop();
	automation.stop();
	monitors.stop();
	lateDocks.stop();
	keeper.stop();
	dockWatcher.stop();
	layoutHold.release();
	if (ready) {
		disconnectBindingsSignal();
		// Before the hotkeys go: the final saves read their bindings from the host.
		saveSettings();
		automation.saveAtExit();
		monitors.saveAtExit();
	}
	unregisterHotkeys();
	obs_frontend_remove_event_callback(frontendEventCallback, this);
	if (toolsMenuAction) {
		delete toolsMenuAction.data();
	}
	toolsMenuAction = nullptr;
	layoutsMenu.remove();
	if (managerDialog) {
		delete managerDialog.data();
	}
	managerDialog = nullptr;
}
