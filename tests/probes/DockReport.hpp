#pragma once

// Built into test builds only, for the remote requests of the real-host checks.
#include <QJsonObject>

class QMainWindow;

// Where the window and every dock are and the screens' available areas, for the remote request
// "ReportLayout"; and, for the request "SetHotkeyBindings", gives the hotkey of that name the bindings, as OBS's
// hotkey settings do.
QJsonObject reportDockLayout(QMainWindow *window);
QJsonObject setHotkeyBindings(const QJsonObject &request);
