// A test-only OBS module, velkin-arrange: arranges the docks of OBS's main window through Qt alone, so that the
// real-host checks can compare the plug-in's loads with layouts that the plug-in did not make. It is the
// obs-websocket vendor "velkin-arrange" with one request:
//
//   Arrange {"words": "bottom:scenesDock tab:scenesDock:sourcesDock window:100,90,1200,760"}
//       -> {"arranged": true}, or {"error": "..."} when a word could not be carried out
//
// The words are those of support/Arrangement.hpp, separated by spaces, carried out on OBS's UI thread.
#include "remote/WebSocketVendor.hpp"
#include "support/Arrangement.hpp"

#include <QMainWindow>
#include <QMetaObject>
#include <QThread>

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

OBS_DECLARE_MODULE()

namespace {

constexpr char kVendorName[] = "velkin-arrange";
constexpr char kArrange[] = "Arrange";
// How long a request waits for OBS's UI thread.
constexpr auto kAnswerTimeout = std::chrono::seconds(20);

websocket::Vendor vendor;
// OBS's main window from finished loading until exit; requests find none before or after.
std::atomic<QMainWindow *> mainWindow{nullptr};

QString arrangeOnUiThread(QMainWindow *window, const QStringList &words)
{
	if (QThread::currentThread() == window->thread()) {
		return arrangeDocks(window, words);
	}
	auto done = std::make_shared<std::promise<QString>>();
	std::future<QString> result = done->get_future();
	QMetaObject::invokeMethod(
		window, [window, words, done] { done->set_value(arrangeDocks(window, words)); }, Qt::QueuedConnection);
	if (result.wait_for(kAnswerTimeout) != std::future_status::ready) {
		return QStringLiteral("OBS's UI thread did not carry out the words in time");
	}
	return result.get();
}

// Runs on obs-websocket's thread.
void arrangeRequest(obs_data_t *request, obs_data_t *response, void *)
{
	QMainWindow *window = mainWindow.load();
	const QStringList words =
		QString::fromUtf8(obs_data_get_string(request, "words")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
	const QString error = window ? arrangeOnUiThread(window, words) : QStringLiteral("OBS is not running");
	if (error.isEmpty()) {
		obs_data_set_bool(response, "arranged", true);
	} else {
		obs_data_set_string(response, "error", error.toUtf8().constData());
	}
}

void frontendEvent(enum obs_frontend_event event, void *)
{
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING) {
		mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
		if (websocket::registerVendor(kVendorName, vendor) != websocket::VendorStatus::Registered ||
		    !websocket::registerRequest(vendor, kArrange, arrangeRequest, nullptr)) {
			blog(LOG_WARNING, "[velkin-arrange] obs-websocket did not take the vendor");
		}
	} else if (event == OBS_FRONTEND_EVENT_EXIT) {
		mainWindow = nullptr;
		websocket::unregisterRequest(vendor, kArrange);
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
