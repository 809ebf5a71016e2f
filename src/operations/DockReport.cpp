// Built into test builds only: the request "ReportLayout" answers where the main window and every dock are, so
// that the real-host checks can compare layouts to the pixel in OBS's own window.
#include "operations/Layout.hpp"

#include <QDockWidget>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QMainWindow>
#include <QScreen>

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
		docks.append(entry);
	}
	QJsonArray screens;
	for (const QScreen *screen : QGuiApplication::screens()) {
		screens.append(rectObject(screen->availableGeometry()));
	}
	return QJsonObject{{QStringLiteral("window"), rectObject(mainWindow->frameGeometry())},
			   {QStringLiteral("client"), rectObject(mainWindow->geometry())},
			   {QStringLiteral("docks"), docks},
			   {QStringLiteral("screens"), screens}};
}
