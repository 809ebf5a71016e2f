// A test-only OBS module, velkin-arrange: arranges the docks of OBS's main window through Qt alone, so that the
// real-host checks can compare the plug-in's loads with layouts that the plug-in did not make. It is the
// obs-websocket vendor "velkin-arrange" with these requests:
//
//   Arrange {"words": "bottom:scenesDock tab:scenesDock:sourcesDock window:100,90,1200,760"}
//       -> {"arranged": true}, or {"error": "..."} when a word could not be carried out
//
//   AddDock {"id": "velkinLateDock", "title": "Late"}
//       -> {"added": true}, or {"error": "..."}: adds a dock as a plug-in does, with obs_frontend_add_dock_by_id
//   RemoveDock {"id": "velkinLateDock"}
//       -> {"removed": true}: removes a dock that AddDock added, with obs_frontend_remove_dock
//   CountShows {"reset": true}
//       -> {"docks": {"statsDock": {"hide": 1, "show": 1}, ...}}: the Hide and Show events that each dock of the
//          main window received since the first CountShows, or since the last one that reset the counts
//
// The words are those of support/Arrangement.hpp, separated by spaces, carried out on OBS's UI thread. The docks
// that AddDock added are removed at exit.
#include "remote/WebSocketVendor.hpp"
#include "support/Arrangement.hpp"

#include <QDockWidget>
#include <QEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMainWindow>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

OBS_DECLARE_MODULE()

namespace {

constexpr char kVendorName[] = "velkin-arrange";
constexpr char kArrange[] = "Arrange";
constexpr char kAddDock[] = "AddDock";
constexpr char kRemoveDock[] = "RemoveDock";
constexpr char kCountShows[] = "CountShows";
// How long a request waits for OBS's UI thread.
constexpr auto kAnswerTimeout = std::chrono::seconds(20);

websocket::Vendor vendor;
// OBS's main window from finished loading until exit; requests find none before or after.
std::atomic<QMainWindow *> mainWindow{nullptr};
// The ids of the docks that AddDock added; touched on OBS's UI thread only.
std::vector<std::string> addedDocks;

// Counts the Hide and Show events of the docks that it watches, by dock name; lives on OBS's UI thread.
class ShowCounter : public QObject {
public:
	void watch(QDockWidget *dock)
	{
		// Installing a filter again moves it to the front of the list, where it is already: no second count.
		dock->installEventFilter(this);
	}
	void reset() { counts = QJsonObject(); }
	QJsonObject docks() const { return counts; }

protected:
	bool eventFilter(QObject *watched, QEvent *event) override
	{
		if ((event->type() == QEvent::Hide || event->type() == QEvent::Show) &&
		    qobject_cast<QDockWidget *>(watched)) {
			const QString kind =
				event->type() == QEvent::Hide ? QStringLiteral("hide") : QStringLiteral("show");
			QJsonObject dock = counts.value(watched->objectName()).toObject();
			dock.insert(kind, dock.value(kind).toInt() + 1);
			counts.insert(watched->objectName(), dock);
		}
		return false;
	}

private:
	QJsonObject counts;
};

// Made by the first CountShows, a child of the main window.
QPointer<ShowCounter> showCounter;

// Runs `work` on OBS's UI thread and returns its error, empty when it succeeded.
QString onUiThread(QMainWindow *window, std::function<QString()> work)
{
	if (QThread::currentThread() == window->thread()) {
		return work();
	}
	auto done = std::make_shared<std::promise<QString>>();
	std::future<QString> result = done->get_future();
	QMetaObject::invokeMethod(
		window, [work, done] { done->set_value(work()); }, Qt::QueuedConnection);
	if (result.wait_for(kAnswerTimeout) != std::future_status::ready) {
		return QStringLiteral("OBS's UI thread did not carry out the request in time");
	}
	return result.get();
}

// Carries out the work on OBS's UI thread and answers {done: true}, or {"error": ...} with what went wrong.
void answer(obs_data_t *response, const char *done, const std::function<QString()> &work)
{
	QMainWindow *window = mainWindow.load();
	const QString error = window ? onUiThread(window, work) : QStringLiteral("OBS is not running");
	if (error.isEmpty()) {
		obs_data_set_bool(response, done, true);
	} else {
		obs_data_set_string(response, "error", error.toUtf8().constData());
	}
}

// Runs on obs-websocket's thread.
void addDockRequest(obs_data_t *request, obs_data_t *response, void *)
{
	const std::string id = obs_data_get_string(request, "id");
	const QString title = QString::fromUtf8(obs_data_get_string(request, "title"));
	answer(response, "added", [id, title] {
		auto *contents = new QLabel(title);
		if (!obs_frontend_add_dock_by_id(id.c_str(), title.toUtf8().constData(), contents)) {
			delete contents;
			return QStringLiteral("OBS refused the dock");
		}
		addedDocks.push_back(id);
		return QString();
	});
}

// Runs on obs-websocket's thread.
void arrangeRequest(obs_data_t *request, obs_data_t *response, void *)
{
	const QStringList words =
		QString::fromUtf8(obs_data_get_string(request, "words")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
	answer(response, "arranged", [words] {
		QMainWindow *window = mainWindow.load();
		return window ? arrangeDocks(window, words) : QStringLiteral("OBS is not running");
	});
}

// Runs on obs-websocket's thread.
void removeDockRequest(obs_data_t *request, obs_data_t *response, void *)
{
	const std::string id = obs_data_get_string(request, "id");
	answer(response, "removed", [id] {
		const auto found = std::find(addedDocks.begin(), addedDocks.end(), id);
		if (found == addedDocks.end()) {
			return QStringLiteral("no such dock was added");
		}
		addedDocks.erase(found);
		obs_frontend_remove_dock(id.c_str());
		return QString();
	});
}

// Runs on obs-websocket's thread.
void countShowsRequest(obs_data_t *request, obs_data_t *response, void *)
{
	const bool reset = obs_data_get_bool(request, "reset");
	auto docks = std::make_shared<QJsonObject>();
	answer(response, "counted", [reset, docks] {
		QMainWindow *window = mainWindow.load();
		if (!window) {
			return QStringLiteral("OBS is not running");
		}
		if (!showCounter) {
			showCounter = new ShowCounter;
			showCounter->setParent(window);
		}
		*docks = showCounter->docks();
		if (reset) {
			showCounter->reset();
		}
		// Docks that came since are watched from now on.
		for (QDockWidget *dock : window->findChildren<QDockWidget *>()) {
			showCounter->watch(dock);
		}
		return QString();
	});
	// Read only once the UI thread is done with it.
	if (obs_data_get_bool(response, "counted")) {
		obs_data_t *counts = obs_data_create_from_json(QJsonDocument(*docks).toJson().constData());
		obs_data_set_obj(response, "docks", counts);
		obs_data_release(counts);
	}
}

void frontendEvent(enum obs_frontend_event event, void *)
{
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING) {
		mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
		if (websocket::registerVendor(kVendorName, vendor) != websocket::VendorStatus::Registered ||
		    !websocket::registerRequest(vendor, kArrange, arrangeRequest, nullptr) ||
		    !websocket::registerRequest(vendor, kAddDock, addDockRequest, nullptr) ||
		    !websocket::registerRequest(vendor, kRemoveDock, removeDockRequest, nullptr) ||
		    !websocket::registerRequest(vendor, kCountShows, countShowsRequest, nullptr)) {
			blog(LOG_WARNING, "[velkin-arrange] obs-websocket did not take the vendor");
		}
	} else if (event == OBS_FRONTEND_EVENT_EXIT) {
		mainWindow = nullptr;
		websocket::unregisterRequest(vendor, kArrange);
		websocket::unregisterRequest(vendor, kAddDock);
		websocket::unregisterRequest(vendor, kRemoveDock);
		websocket::unregisterRequest(vendor, kCountShows);
		for (const std::string &id : addedDocks) {
			obs_frontend_remove_dock(id.c_str());
		}
		addedDocks.clear();
		vendor = websocket::Vendor();
	}
}

} // namespace

MODULE_EXPORT bool obs_module_load(void)
{
	obs_frontend_add_event_callback(frontendEvent, nullptr);
	return true;
}

MODULE_EXPORT void obs_module_unload(void)
{
	obs_frontend_remove_event_callback(frontendEvent, nullptr);
}
