#include "remote/RemoteControl.hpp"
#include "base/Log.hpp"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <obs.hpp>

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr char kVendorName[] = "obs-velkin";
constexpr const char *kRequestTypes[] = {
	"GetSnapshotList",
	"LoadSnapshot",
	"SaveSnapshot",
	"LoadNextSnapshot",
	"LoadPreviousSnapshot",
	"UndoLoad",
	"GetDockList",
	"SetDockShown",
	"SetDockFloating",
	"RaiseDock",
#ifdef VELKIN_TEST_PROBES
	// Test builds only: where the window and the docks are, a busy UI thread, and bindings set as OBS's hotkey
	// settings set them.
	"ReportLayout",
	"HoldUiThread",
	"SetHotkeyBindings",
#endif
};
// How long a request waits for OBS's UI thread before it answers Busy.
constexpr auto kAnswerTimeout = std::chrono::seconds(5);

// One request's answer: made on OBS's UI thread, awaited on obs-websocket's. A request is either given up
// before the UI thread has started it (answered Busy, and never carried out) or carried out and answered, at
// exit too.
struct PendingAnswer {
	std::mutex mutex;
	std::condition_variable ready;
	bool started = false;
	bool done = false;
	QJsonObject answer;

	// The UI thread takes the request on, unless it has been given up already.
	bool claim()
	{
		const std::lock_guard<std::mutex> lock(mutex);
		started = !done;
		return started;
	}

	// Gives the request up with this answer, unless the UI thread has begun it: then its own answer comes.
	void giveUp(const QJsonObject &value)
	{
		const std::lock_guard<std::mutex> lock(mutex);
		if (!started && !done) {
			answer = value;
			done = true;
		}
		ready.notify_all();
	}

	void give(const QJsonObject &value)
	{
		const std::lock_guard<std::mutex> lock(mutex);
		if (!done) {
			answer = value;
			done = true;
		}
		ready.notify_all();
	}
};

// The remote control that answers, while there is one. It lives as long as the process, so a request still on
// obs-websocket's thread never reaches a remote control that is gone.
struct Bridge {
	std::mutex mutex;
	RemoteControl *remote = nullptr;
	std::vector<std::weak_ptr<PendingAnswer>> waiting;
};

Bridge &bridge()
{
	static Bridge instance;
	return instance;
}

void writeAnswer(obs_data_t *response, const QJsonObject &answer)
{
	if (!response) {
		return;
	}
	const QByteArray json = QJsonDocument(answer).toJson(QJsonDocument::Compact);
	const OBSDataAutoRelease data = obs_data_create_from_json(json.constData());
	obs_data_apply(response, data);
}

QJsonObject readRequest(obs_data_t *request)
{
	const char *json = request ? obs_data_get_json(request) : nullptr;
	return json ? QJsonDocument::fromJson(QByteArray(json)).object() : QJsonObject();
}

// Runs on obs-websocket's thread: hands the request to the UI thread and waits, a bounded time, for the answer.
// A batch that runs "SerialFrame" calls it on OBS's graphics thread instead, between two frames: waiting there
// would stop the video, so such a request is answered Busy at once and never carried out.
void requestCallback(obs_data_t *request, obs_data_t *response, void *data)
{
	if (obs_in_task_thread(OBS_TASK_GRAPHICS)) {
		writeAnswer(
			response,
			remoteError("Busy", QStringLiteral("OBS-Velkin cannot answer in a frame batch (SerialFrame) "
							   "without stopping OBS's video; send the request on its "
							   "own or in a SerialRealtime batch")));
		return;
	}
	const auto *type = static_cast<const char *>(data);
	const QJsonObject requestObject = readRequest(request);
	const auto pending = std::make_shared<PendingAnswer>();
	{
		std::unique_lock<std::mutex> lock(bridge().mutex);
		RemoteControl *remote = bridge().remote;
		if (!remote) {
			lock.unlock();
			writeAnswer(response, remoteError("Busy", QStringLiteral("OBS-Velkin is not running")));
			return;
		}
		if (QThread::currentThread() == remote->thread()) {
			// Called from the UI thread itself (another plug-in's call): waiting would block it.
			lock.unlock();
			writeAnswer(response, remote->answer(QString::fromLatin1(type), requestObject));
			return;
		}
		bridge().waiting.push_back(pending);
		QMetaObject::invokeMethod(
			remote,
			[remote, pending, type, requestObject] {
				if (pending->claim()) {
					pending->give(remote->answer(QString::fromLatin1(type), requestObject));
				}
			},
			Qt::QueuedConnection);
	}
	QJsonObject answer;
	{
		std::unique_lock<std::mutex> lock(pending->mutex);
		if (!pending->ready.wait_for(lock, kAnswerTimeout, [&] { return pending->done; }) &&
		    !pending->started) {
			// Given up before it began: it will not be carried out, so Busy tells the truth.
			pending->done = true;
			pending->answer = remoteError("Busy", QStringLiteral("OBS did not answer in time"));
		}
		// Begun on the UI thread: its answer comes when the work is done.
		pending->ready.wait(lock, [&] { return pending->done; });
		answer = pending->answer;
	}
	{
		const std::lock_guard<std::mutex> lock(bridge().mutex);
		auto &waiting = bridge().waiting;
		waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
					     [](const std::weak_ptr<PendingAnswer> &entry) { return entry.expired(); }),
			      waiting.end());
	}
	writeAnswer(response, answer);
}

const char *sourceName(LoadSource source)
{
	switch (source) {
	case LoadSource::Dialog:
		return "dialog";
	case LoadSource::Hotkey:
		return "hotkey";
	case LoadSource::Automation:
		return "automation";
	case LoadSource::Remote:
		return "remote";
	case LoadSource::Undo:
		return "undo";
	case LoadSource::Menu:
		return "menu";
	case LoadSource::Monitors:
		return "monitors";
	case LoadSource::Kept:
		return "kept";
	}
	return "";
}

} // namespace

RemoteControl::RemoteControl(RemoteHost &host, DockWatcher &watcher)
    : host(host), docks(host, watcher, [this](const char *type, const QJsonObject &data) { emitEvent(type, data); })
{
}

void RemoteControl::open()
{
	docks.start();
	switch (websocket::registerVendor(kVendorName, vendor)) {
	case websocket::VendorStatus::Registered:
		break;
	case websocket::VendorStatus::Absent:
		velkinLog(LOG_WARNING, "Remote control is off: obs-websocket is not loaded");
		return;
	case websocket::VendorStatus::TooOld:
		velkinLog(LOG_WARNING, "Remote control is off: obs-websocket is too old");
		return;
	case websocket::VendorStatus::Refused:
		velkinLog(LOG_WARNING, "Remote control is off: obs-websocket refused the vendor \"%s\"", kVendorName);
		return;
	}
	{
		const std::lock_guard<std::mutex> lock(bridge().mutex);
		bridge().remote = this;
	}
	for (const char *type : kRequestTypes) {
		if (!websocket::registerRequest(vendor, type, requestCallback, const_cast<char *>(type))) {
			velkinLog(LOG_WARNING, "Remote control: obs-websocket refused the request \"%s\"", type);
		}
	}
}

void RemoteControl::close()
{
	docks.stop();
	{
		// Requests that still wait for the UI thread are answered Busy at once, and one that it has begun gets
		// its own answer when its work ends; new ones find no remote control.
		const std::lock_guard<std::mutex> lock(bridge().mutex);
		if (bridge().remote == this) {
			bridge().remote = nullptr;
		}
		for (const std::weak_ptr<PendingAnswer> &entry : bridge().waiting) {
			if (const std::shared_ptr<PendingAnswer> pending = entry.lock()) {
				pending->giveUp(remoteError("Busy", QStringLiteral("OBS-Velkin is shutting down")));
			}
		}
		bridge().waiting.clear();
	}
	if (vendor) {
		for (const char *type : kRequestTypes) {
			websocket::unregisterRequest(vendor, type);
		}
	}
	vendor = websocket::Vendor();
}

void RemoteControl::answer(const char *type, obs_data_t *request, obs_data_t *response)
{
	writeAnswer(response, answer(QString::fromUtf8(type), readRequest(request)));
}

void RemoteControl::layoutLoaded(const LoadedLayout &loaded)
{
	// A layout put back from before any snapshot, or from one that is gone, names none; nor does the layout kept
	// across restarts, which is no snapshot.
	QJsonObject event{{QStringLiteral("source"), QLatin1String(sourceName(loaded.source))}};
	if (!loaded.path.isEmpty() && loaded.chosen) {
		event.insert(QStringLiteral("name"), loaded.name);
		event.insert(QStringLiteral("fileName"), QFileInfo(loaded.path).fileName());
	}
	emitEvent("SnapshotLoaded", event);
	docks.announceChanges();
}

void RemoteControl::emitEvent(const char *type, const QJsonObject &data)
{
	if (qstrcmp(type, "SnapshotLoaded") == 0) {
		++loadsAnnounced;
	}
	if (listener) {
		listener(type, data);
	}
	if (!vendor) {
		return;
	}
	const QByteArray json = QJsonDocument(data).toJson(QJsonDocument::Compact);
	const OBSDataAutoRelease object = obs_data_create_from_json(json.constData());
	websocket::emitEvent(vendor, type, object);
}

void RemoteControl::noteCatalogue(size_t fingerprint)
{
	const bool changed = catalogueFingerprint && *catalogueFingerprint != fingerprint;
	catalogueFingerprint = fingerprint;
	if (changed) {
		emitEvent("SnapshotListChanged", QJsonObject());
	}
}

void RemoteControl::setEventListener(std::function<void(const char *type, const QJsonObject &data)> listener)
{
	this->listener = std::move(listener);
}

bool RemoteControl::keepQuiet(const char *key)
{
	if (!quietReports) {
		return false;
	}
	quietReportKey = key;
	return true;
}
