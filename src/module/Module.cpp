#include "base/LocaleTable.hpp"
#include "base/Log.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "store/SnapshotDocument.hpp"

#include <QMainWindow>
#include <QPointer>
#include <QThread>

#include <obs-frontend-api.h>
#include <util/text-lookup.h>

namespace {

obs_module_t *moduleHandle = nullptr;
QPointer<Velkin> controller;
bool loadedOnce = false;

} // namespace

obs_module_t *velkinModule()
{
	return moduleHandle;
}

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module)
{
	moduleHandle = module;
}

MODULE_EXPORT uint32_t obs_module_ver(void)
{
	return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char *locale)
{
	setLocaleTable(obs_module_load_locale(moduleHandle, kDefaultLocale, locale));
}

MODULE_EXPORT void obs_module_free_locale(void)
{
	setLocaleTable(nullptr);
}

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **out)
{
	return lookUpLocaleText(key, out);
}

MODULE_EXPORT const char *obs_module_name(void)
{
	return kModuleName;
}

MODULE_EXPORT const char *obs_module_description(void)
{
	return kModuleDescription;
}

MODULE_EXPORT const char *obs_module_author(void);
MODULE_EXPORT const char *obs_module_author(void)
{
	return kModuleAuthor;
}

MODULE_EXPORT bool obs_module_load(void)
{
	auto *mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	// Refusals leave everything as it was and log nothing.
	if (controller) {
		return false;
	}
	if (!mainWindow) {
		return false;
	}
	if (mainWindow->thread() != QThread::currentThread()) {
		return false;
	}

	controller = new Velkin(mainWindow);
	loadedOnce = true;
	velkinLog(LOG_INFO, "Loaded version %s (OBS %s)", kModuleVersion, kHostVersionString);
	return true;
}

MODULE_EXPORT void obs_module_unload(void)
{
	if (controller) {
		delete controller.data();
	}
	controller = nullptr;
#ifdef VELKIN_TEST_PROBES
	// Test builds count the hotkeys of ours that libobs still holds once we are gone, for the long-running checks.
	if (!loadedOnce) {
		return;
	}
	int left = 0;
	obs_enum_hotkeys(
		[](void *count, obs_hotkey_id, obs_hotkey_t *hotkey) {
			if (QByteArray(obs_hotkey_get_name(hotkey)).startsWith("obs-velkin.")) {
				++*static_cast<int *>(count);
			}
			return true;
		},
		&left);
	velkinLog(LOG_INFO, "Hotkeys left at unload: %d", left);
#endif
}
