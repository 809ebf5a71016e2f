#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QPointer>

#include <obs-frontend-api.h>

#include <utility>
#include <vector>

// Stands in for the four frontend calls the plug-in makes; everything else in the tests is real.
namespace standin {

extern QPointer<QMainWindow> mainWindow;
extern std::vector<std::pair<obs_frontend_event_cb, void *>> eventCallbacks;

// Delivers a frontend event to every registered callback, as the host does.
void fireEvent(enum obs_frontend_event event);

// The Tools menu the stand-in adds actions to (created with the first action).
QMenu *toolsMenu();

} // namespace standin
