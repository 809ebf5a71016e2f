#include "module/Velkin.hpp"
#include "module/Module.hpp"
#include "settings/SettingsFile.hpp"

#include <QAction>
#include <QDialog>
#include <QMainWindow>

#include <util/bmem.h>

namespace {

QString configPath(const char *file)
{
	char *path = obs_module_get_config_path(velkinModule(), file);
	if (!path) {
		return QString();
	}
	QString result = QString::fromUtf8(path);
	bfree(path);
	return result;
}

void frontendEventCallback(enum obs_frontend_event event, void *data)
{
	static_cast<Velkin *>(data)->onFrontendEvent(event);
}

} // namespace

Velkin::Velkin(QMainWindow *window) : QObject(window), mainWindow(window)
{
	snapshotDirectory = configPath(kSnapshotDirectoryName);
	settingsPath = configPath(kSettingsFileName);
	readSettings();
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

void Velkin::onFrontendEvent(enum obs_frontend_event event)
{
	if (shuttingDown) {
		return;
	}
	switch (event) {
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		activate();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
		shutdown();
		break;
	default:
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
	refreshSnapshotList(QString());
	saveSettings();
	connectBindingsSignal();
}

void Velkin::shutdown()
{
	if (shuttingDown) {
		return;
	}
	shuttingDown = true;
	settingsSaveTimer.stop();
	if (ready) {
		disconnectBindingsSignal();
		// Before the hotkeys go: the final save reads their bindings from the host.
		saveSettings();
	}
	unregisterHotkeys();
	obs_frontend_remove_event_callback(frontendEventCallback, this);
	if (toolsMenuAction) {
		delete toolsMenuAction.data();
	}
	toolsMenuAction = nullptr;
	if (managerDialog) {
		delete managerDialog.data();
	}
	managerDialog = nullptr;
}
