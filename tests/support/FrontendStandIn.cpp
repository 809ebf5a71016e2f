#include "support/FrontendStandIn.hpp"

#include <QMenuBar>

namespace standin {

QPointer<QMainWindow> mainWindow;
std::vector<std::pair<obs_frontend_event_cb, void *>> eventCallbacks;
static QPointer<QMenu> tools;

void fireEvent(enum obs_frontend_event event)
{
	const auto callbacks = eventCallbacks;
	for (const auto &[callback, data] : callbacks) {
		callback(event, data);
	}
}

QMenu *toolsMenu()
{
	if (!tools && mainWindow) {
		tools = mainWindow->menuBar()->addMenu(QStringLiteral("Tools"));
	}
	return tools;
}

} // namespace standin

void *obs_frontend_get_main_window(void)
{
	return standin::mainWindow.data();
}

void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *data)
{
	standin::eventCallbacks.emplace_back(callback, data);
}

void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *data)
{
	auto &callbacks = standin::eventCallbacks;
	for (auto it = callbacks.begin(); it != callbacks.end(); ++it) {
		if (it->first == callback && it->second == data) {
			callbacks.erase(it);
			return;
		}
	}
}

void *obs_frontend_add_tools_menu_qaction(const char *name)
{
	QMenu *menu = standin::toolsMenu();
	return menu ? menu->addAction(QString::fromUtf8(name)) : nullptr;
}
