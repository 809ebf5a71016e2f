#include "remote/RemoteDocks.hpp"
#include "operations/DockWatcher.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/OperationGuard.hpp"
#include "operations/Screens.hpp"

#include <QAction>
#include <QDockWidget>
#include <QGuiApplication>
#include <QJsonArray>
#include <QMainWindow>
#include <QMenu>

namespace {

const QString kName = QStringLiteral("name");

// The farthest a coordinate of a requested rectangle may lie from 0.
constexpr qint64 kRectLimit = 100000;

const char *areaName(Qt::DockWidgetArea area)
{
	switch (area) {
	case Qt::LeftDockWidgetArea:
		return "left";
	case Qt::RightDockWidgetArea:
		return "right";
	case Qt::TopDockWidgetArea:
		return "top";
	case Qt::BottomDockWidgetArea:
		return "bottom";
	default:
		return "";
	}
}

QJsonObject rectObject(const QRect &rect)
{
	return QJsonObject{{QStringLiteral("x"), rect.x()},
			   {QStringLiteral("y"), rect.y()},
			   {QStringLiteral("width"), rect.width()},
			   {QStringLiteral("height"), rect.height()}};
}

// A rectangle of the request, if it has a whole one of a positive size.
std::optional<QRect> requestRect(const QJsonValue &value)
{
	const QJsonObject rect = value.toObject();
	const char *keys[] = {"x", "y", "width", "height"};
	int numbers[4] = {};
	for (int i = 0; i < 4; ++i) {
		const QJsonValue number = rect.value(QLatin1String(keys[i]));
		// A number that is not whole, or too large for 64 bits, reads as 0 here.
		const qint64 whole = number.toInteger();
		if (!number.isDouble() || number.toDouble() != double(whole) || whole < -kRectLimit ||
		    whole > kRectLimit) {
			return std::nullopt;
		}
		numbers[i] = int(whole);
	}
	if (numbers[2] <= 0 || numbers[3] <= 0) {
		return std::nullopt;
	}
	return QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
}

} // namespace

QJsonObject remoteError(const char *code, const QString &message)
{
	return QJsonObject{{QStringLiteral("error"), QLatin1String(code)}, {QStringLiteral("message"), message}};
}

RemoteDocks::RemoteDocks(DockRequestHost &host, DockWatcher &watcher, Emit emit)
    : host(host), watcher(watcher), emit(std::move(emit))
{
}

void RemoteDocks::start()
{
	stop();
	if (!host.window()) {
		return;
	}
	watching = true;
	announced.clear();
	for (QDockWidget *dock : docksInMenuOrder()) {
		announced.insert(dock, {dock, statusOf(dock)});
	}
	watcher.listen(this, [this](const DockReport &report) {
		for (QDockWidget *dock : report.added + report.changed) {
			announce(dock);
		}
	});
}

void RemoteDocks::stop()
{
	watcher.ignore(this);
	watching = false;
}

QList<QDockWidget *> RemoteDocks::docksInMenuOrder() const
{
	QList<QDockWidget *> docks;
	QMainWindow *window = watching ? host.window() : nullptr;
	if (!window) {
		return docks;
	}
	const QList<QDockWidget *> all = ownDocks(window);
	// OBS's Docks menu lists each dock by its toggle action; docks that it does not list follow.
	if (const QMenu *menu = window->findChild<QMenu *>(QStringLiteral("menuDocks"))) {
		const QList<QAction *> actions = menu->actions();
		for (const QAction *action : actions) {
			for (QDockWidget *dock : all) {
				if (dock->toggleViewAction() == action && !docks.contains(dock)) {
					docks.append(dock);
				}
			}
		}
	}
	for (QDockWidget *dock : all) {
		if (!docks.contains(dock) && !dock->objectName().isEmpty()) {
			docks.append(dock);
		}
	}
	return docks;
}

RemoteDocks::Status RemoteDocks::statusOf(QDockWidget *dock) const
{
	Status status;
	// Shown as the Docks menu's check shows it.
	status.shown = dock->toggleViewAction()->isChecked();
	status.floating = dock->isFloating();
	QMainWindow *window = watching ? host.window() : nullptr;
	if (!status.floating && window) {
		status.area = QLatin1String(areaName(window->dockWidgetArea(dock)));
	}
	return status;
}

void RemoteDocks::announceChanges()
{
	// A dock under the mouse may be on its way: the state that it is left in counts, which the watcher reports
	// once the button is released.
	if (!watching || !host.window() || QGuiApplication::mouseButtons() != Qt::NoButton) {
		return;
	}
	const QList<QDockWidget *> docks = docksInMenuOrder();
	// The docks deleted since go.
	announced.removeIf([](const QHash<QDockWidget *, Announced>::iterator &entry) { return !entry->dock; });
	for (QDockWidget *dock : docks) {
		announce(dock);
	}
}

void RemoteDocks::announce(QDockWidget *dock)
{
	// No request can name a dock without a name: it is not announced.
	if (!watching || dock->objectName().isEmpty()) {
		return;
	}
	const Status status = statusOf(dock);
	const auto before = announced.find(dock);
	// A dock seen for the first time has changed nothing yet; one made where a deleted one was is new.
	if (before == announced.end() || before->dock != dock) {
		announced.insert(dock, {dock, status});
		return;
	}
	if (before->status == status) {
		return;
	}
	before->status = status;
	QJsonObject event{{kName, dock->objectName()},
			  {QStringLiteral("shown"), status.shown},
			  {QStringLiteral("floating"), status.floating}};
	if (!status.area.isEmpty()) {
		event.insert(QStringLiteral("area"), status.area);
	}
	emit("DockChanged", event);
}

bool RemoteDocks::handles(const QString &type)
{
	return type == QLatin1String("GetDockList") || type == QLatin1String("SetDockShown") ||
	       type == QLatin1String("SetDockFloating") || type == QLatin1String("RaiseDock");
}

QDockWidget *RemoteDocks::findDock(const QJsonObject &request, QJsonObject *error) const
{
	if (!request.value(kName).isString()) {
		*error = remoteError("BadRequest", QStringLiteral("Give the dock's \"name\""));
		return nullptr;
	}
	const QString name = request.value(kName).toString();
	for (QDockWidget *dock : docksInMenuOrder()) {
		if (dock->objectName() == name) {
			return dock;
		}
	}
	*error = remoteError("NotFound", QStringLiteral("No such dock"));
	return nullptr;
}

QJsonObject RemoteDocks::dockList() const
{
	QMainWindow *window = host.window();
	QJsonArray docks;
	for (QDockWidget *dock : docksInMenuOrder()) {
		const Status status = statusOf(dock);
		QJsonObject entry{{kName, dock->objectName()},
				  {QStringLiteral("title"), dock->windowTitle()},
				  {QStringLiteral("shown"), status.shown},
				  {QStringLiteral("floating"), status.floating}};
		if (!status.area.isEmpty()) {
			entry.insert(QStringLiteral("area"), status.area);
		}
		QJsonArray tabs;
		// A tab behind another is moved out of sight by Qt: it has the place of the tab on top.
		QDockWidget *placed = dock;
		for (QDockWidget *other : window->tabifiedDockWidgets(dock)) {
			tabs.append(QJsonObject{{kName, other->objectName()}});
			if (!status.floating && dock->visibleRegion().isEmpty() && !other->visibleRegion().isEmpty()) {
				placed = other;
			}
		}
		if (!tabs.isEmpty()) {
			entry.insert(QStringLiteral("tabbedWith"), tabs);
		}
		// On the screen when floating, in the main window when docked.
		const QRect rect =
			status.floating ? dock->geometry() : QRect(placed->mapTo(window, QPoint(0, 0)), placed->size());
		entry.insert(QStringLiteral("rect"), rectObject(rect));
		docks.append(entry);
	}
	return QJsonObject{{QStringLiteral("docks"), docks}};
}

// Runs a change of one dock as an operation: the layout from before it becomes an undo step when it changed, and
// the change is announced at once.
QJsonObject RemoteDocks::change(QDockWidget *dock, const std::function<void()> &work)
{
	const OperationGuard guard(host);
	if (!guard) {
		return remoteError("Busy", QStringLiteral("OBS-Velkin is busy; try again"));
	}
	const LayoutMemento before = host.currentLayout();
	work();
	const LayoutMemento after = host.currentLayout();
	if (after.state != before.state || after.geometry != before.geometry) {
		host.rememberForUndo(before);
	}
	announceChanges();
	const Status status = statusOf(dock);
	return QJsonObject{{kName, dock->objectName()},
			   {QStringLiteral("shown"), status.shown},
			   {QStringLiteral("floating"), status.floating}};
}

QJsonObject RemoteDocks::answer(const QString &type, const QJsonObject &request)
{
	QMainWindow *window = watching ? host.window() : nullptr;
	if (!window) {
		return remoteError("Busy", QStringLiteral("OBS-Velkin is not running"));
	}
	if (type == QLatin1String("GetDockList")) {
		return dockList();
	}
	QJsonObject error;
	QDockWidget *dock = findDock(request, &error);
	if (!dock) {
		return error;
	}
	if (type == QLatin1String("SetDockShown")) {
		const QJsonValue shown = request.value(QStringLiteral("shown"));
		if (!shown.isBool()) {
			return remoteError("BadRequest", QStringLiteral("Give \"shown\": true or false"));
		}
		// As the Docks menu's check does it.
		return change(dock, [dock, wanted = shown.toBool()] {
			if (dock->toggleViewAction()->isChecked() != wanted) {
				dock->toggleViewAction()->trigger();
			}
		});
	}
	if (type == QLatin1String("SetDockFloating")) {
		const QJsonValue floating = request.value(QStringLiteral("floating"));
		const QJsonValue rectValue = request.value(QStringLiteral("rect"));
		const std::optional<QRect> rect = requestRect(rectValue);
		if (!floating.isBool() || (!rectValue.isUndefined() && (!rect || !floating.toBool()))) {
			return remoteError("BadRequest",
					   QStringLiteral("Give \"floating\": true or false, and a \"rect\" "
							  "with x, y, width and height to float it at"));
		}
		// Lock Docks takes the feature away.
		if (!dock->features().testFlag(QDockWidget::DockWidgetFloatable)) {
			return remoteError("Locked", QStringLiteral("This dock cannot float or dock now (Lock Docks)"));
		}
		return change(dock, [window, dock, wanted = floating.toBool(), rect] {
			if (wanted) {
				dock->setFloating(true);
				if (rect) {
					dock->setGeometry(placeOnScreens(*rect, availableScreenAreas()));
				}
				return;
			}
			// Back where Qt last had it docked, or else where OBS docks a dock of its own.
			dock->setFloating(false);
			if (dock->isFloating() || window->dockWidgetArea(dock) == Qt::NoDockWidgetArea) {
				window->addDockWidget(Qt::RightDockWidgetArea, dock);
			}
		});
	}
	// RaiseDock: shown, and its tab on top of its group.
	return change(dock, [dock] {
		if (!dock->toggleViewAction()->isChecked()) {
			dock->toggleViewAction()->trigger();
		}
		dock->raise();
	});
}
