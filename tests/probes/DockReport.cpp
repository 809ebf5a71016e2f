// Built into test builds only: the request "ReportLayout" answers where the main window and every dock are, so
// that the real-host checks can compare layouts to the pixel in OBS's own window, and which native windows they
// and the other native widgets have. The request "SetHotkeyBindings" changes a hotkey's bindings as OBS's hotkey
// settings do.
#include "probes/DockReport.hpp"

#include <QDockWidget>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QMainWindow>
#include <QScreen>

#include <obs.h>

#include <vector>

namespace {

QJsonObject rectObject(const QRect &rect)
{
	return QJsonObject{{QStringLiteral("x"), rect.x()},
			   {QStringLiteral("y"), rect.y()},
			   {QStringLiteral("width"), rect.width()},
			   {QStringLiteral("height"), rect.height()}};
}

} // namespace

QJsonObject reportDockLayout(QMainWindow *mainWindow)
{
	QJsonArray docks;
	const QList<QDockWidget *> all = mainWindow->findChildren<QDockWidget *>();
	for (const QDockWidget *dock : all) {
		// A docked tab behind another in its group is visible to Qt but moved out of sight.
		const bool shown = dock->isVisible() && (dock->isFloating() || !dock->visibleRegion().isEmpty());
		// A floating dock by its own rectangle, the one that a state keeps and restores. Its frame is the
		// window system's, and on X11 Qt works the frame out from the server's size of the moment: read between
		// two resizes, it keeps the difference as a frame that is not there, until the next resize.
		const QRect rect = dock->isFloating() ? dock->geometry()
						      : QRect(dock->mapTo(mainWindow, QPoint(0, 0)), dock->size());
		QJsonObject entry = rectObject(rect);
		entry.insert(QStringLiteral("name"), dock->objectName());
		entry.insert(QStringLiteral("floating"), dock->isFloating());
		entry.insert(QStringLiteral("shown"), shown);
		// The dock's own native window, when it has one (OBS's docks are native beside its native preview), so
		// that a check that watches the window system can name the dock; never made here, as winId() would.
		if (dock->testAttribute(Qt::WA_NativeWindow) && dock->internalWinId()) {
			entry.insert(QStringLiteral("windowId"), static_cast<qint64>(dock->internalWinId()));
		}
		docks.append(entry);
	}
	// The other native windows below the main window (Qt makes a native widget's siblings native too, such as the
	// tab bars of docked tab groups), by object name or else class, to name what a check sees in the window system.
	QJsonArray windows;
	for (const QWidget *widget : mainWindow->findChildren<QWidget *>()) {
		if (widget->testAttribute(Qt::WA_NativeWindow) && widget->internalWinId() &&
		    !qobject_cast<const QDockWidget *>(widget)) {
			const QString name = widget->objectName().isEmpty()
						     ? QString::fromLatin1(widget->metaObject()->className())
						     : widget->objectName();
			windows.append(
				QJsonObject{{QStringLiteral("windowId"), static_cast<qint64>(widget->internalWinId())},
					    {QStringLiteral("name"), name}});
		}
	}
	QJsonArray screens;
	for (const QScreen *screen : QGuiApplication::screens()) {
		screens.append(rectObject(screen->availableGeometry()));
	}
	return QJsonObject{{QStringLiteral("window"), rectObject(mainWindow->frameGeometry())},
			   {QStringLiteral("windowId"), static_cast<qint64>(mainWindow->internalWinId())},
			   {QStringLiteral("client"), rectObject(mainWindow->geometry())},
			   {QStringLiteral("docks"), docks},
			   {QStringLiteral("windows"), windows},
			   {QStringLiteral("screens"), screens}};
}

QJsonObject setHotkeyBindings(const QJsonObject &request)
{
	struct Found {
		QByteArray name;
		obs_hotkey_id id = OBS_INVALID_HOTKEY_ID;
	} found{request.value(QStringLiteral("hotkeyName")).toString().toUtf8()};
	obs_enum_hotkeys(
		[](void *data, obs_hotkey_id id, obs_hotkey_t *hotkey) {
			auto *wanted = static_cast<Found *>(data);
			if (wanted->name == obs_hotkey_get_name(hotkey)) {
				wanted->id = id;
				return false;
			}
			return true;
		},
		&found);
	if (found.id == OBS_INVALID_HOTKEY_ID) {
		return QJsonObject{{QStringLiteral("bound"), false}};
	}
	// As OBS's hotkey settings save a hotkey: its key combinations, loaded in one call.
	std::vector<obs_key_combination_t> combinations;
	for (const QJsonValue &value : request.value(QStringLiteral("bindings")).toArray()) {
		const QJsonObject binding = value.toObject();
		obs_key_combination_t combination{};
		combination.key =
			obs_key_from_name(binding.value(QStringLiteral("key")).toString().toUtf8().constData());
		const struct {
			const char *name;
			uint32_t flag;
		} modifiers[] = {{"shift", INTERACT_SHIFT_KEY},
				 {"control", INTERACT_CONTROL_KEY},
				 {"alt", INTERACT_ALT_KEY},
				 {"command", INTERACT_COMMAND_KEY}};
		for (const auto &modifier : modifiers) {
			if (binding.value(QLatin1String(modifier.name)).toBool()) {
				combination.modifiers |= modifier.flag;
			}
		}
		combinations.push_back(combination);
	}
	obs_hotkey_load_bindings(found.id, combinations.data(), combinations.size());
	return QJsonObject{{QStringLiteral("bound"), true}};
}
