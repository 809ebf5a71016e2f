#include "support/TestHost.hpp"

#include <QApplication>
#include <QDir>
#include <QMutex>
#include <QTemporaryDir>

#include <obs.h>
#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

// The plug-in's own entry points, linked into this test binary.
extern "C" void obs_module_set_pointer(obs_module_t *module);
extern "C" void obs_module_set_locale(const char *locale);
extern "C" void obs_module_free_locale(void);

namespace {

QMutex logMutex;
QStringList capturedLog;
QStringList missingTexts;
std::unique_ptr<QTemporaryDir> configDir;
std::unique_ptr<QTemporaryDir> scratchDir;
obs_module_t *moduleHandle = nullptr;

void captureLog(int level, const char *format, va_list args, void *)
{
	char buffer[8192];
	vsnprintf(buffer, sizeof(buffer), format, args);
	QMutexLocker lock(&logMutex);
	capturedLog.append(QString::fromUtf8(buffer));
	static const QString missing = QStringLiteral("[obs-velkin] No text for the key ");
	if (capturedLog.last().startsWith(missing)) {
		missingTexts.append(capturedLog.last().mid(missing.size()));
	}
	if (level <= LOG_WARNING || qEnvironmentVariableIsSet("VELKIN_TEST_VERBOSE")) {
		fprintf(stderr, "log %d: %s\n", level, buffer);
	}
}

} // namespace

namespace testhost {

QString configDirectory()
{
	return configDir->path();
}

obs_module_t *module()
{
	return moduleHandle;
}

QStringList logLines()
{
	QMutexLocker lock(&logMutex);
	return capturedLog;
}

QStringList takeMissingTexts()
{
	QMutexLocker lock(&logMutex);
	return std::exchange(missingTexts, {});
}

void clearLog()
{
	QMutexLocker lock(&logMutex);
	capturedLog.clear();
}

QStringList pluginLogLines()
{
	QStringList lines = logLines().filter(QStringLiteral("[obs-velkin] "));
	lines.removeAll(QStringLiteral("[obs-velkin] No automation rules: automation.json was not found"));
	lines.removeAll(QStringLiteral("[obs-velkin] Remote control is off: obs-websocket is not loaded"));
	return lines;
}

int countLogLines(const QString &line)
{
	return int(logLines().count(line));
}

QString scratchDirectory()
{
	return scratchDir->path();
}

} // namespace testhost

namespace {

bool startLibobs(const QString &moduleConfigPath)
{
	if (!obs_startup("en-US", moduleConfigPath.toUtf8().constData(), nullptr)) {
		fprintf(stderr, "obs_startup failed\n");
		return false;
	}
	// libobs hands out module handles only for real module files, so open the built plug-in and give
	// its handle to the copy of the plug-in code linked into this binary.
	if (obs_open_module(&moduleHandle, VELKIN_MODULE_FILE, VELKIN_DATA_DIR) != MODULE_SUCCESS) {
		fprintf(stderr, "obs_open_module failed for %s\n", VELKIN_MODULE_FILE);
		return false;
	}
	// As OBS's frontend does: hotkey presses are routed to the UI thread, where the callback then runs;
	// obs-websocket calls obs_hotkey_trigger_routed_callback from its own thread.
	obs_hotkey_set_callback_routing_func(
		[](void *, obs_hotkey_id id, bool pressed) {
			QMetaObject::invokeMethod(
				qApp, [id, pressed] { obs_hotkey_trigger_routed_callback(id, pressed); },
				Qt::QueuedConnection);
		},
		nullptr);
	obs_hotkey_enable_callback_rerouting(true);
	obs_module_set_pointer(moduleHandle);
	obs_module_set_locale("en-US");
	return true;
}

} // namespace

namespace testhost {

bool start()
{
	base_set_log_handler(captureLog, nullptr);
	const QString scratchBase = qEnvironmentVariable("VELKIN_TEST_SCRATCH", QDir::tempPath());
	QDir().mkpath(scratchBase);
	configDir = std::make_unique<QTemporaryDir>(scratchBase + QStringLiteral("/velkin-config-XXXXXX"));
	scratchDir = std::make_unique<QTemporaryDir>(scratchBase + QStringLiteral("/velkin-scratch-XXXXXX"));
	if (!configDir->isValid() || !scratchDir->isValid()) {
		fprintf(stderr, "cannot create the test directories\n");
		return false;
	}
	return startLibobs(configDir->path());
}

bool restart(const QString &moduleConfigPath)
{
	obs_module_free_locale();
	obs_shutdown();
	return startLibobs(moduleConfigPath);
}

void stop()
{
	obs_module_free_locale();
	obs_shutdown();
	scratchDir.reset();
	configDir.reset();
}

} // namespace testhost
