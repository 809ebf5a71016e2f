// Arbitrary request data handed to each remote request of an activated controller, as obs-websocket hands it
// over: every answer is an object that either reports success or carries one of the known error codes.
#include "FuzzHost.hpp"
#include "module/Velkin.hpp"
#include "support/DockWindow.hpp"
#include "support/FrontendStandIn.hpp"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>

#include <obs.hpp>

#include <array>
#include <cstdint>
#include <cstdlib>

namespace {

Velkin *velkin = nullptr;
int runs = 0;

constexpr std::array<const char *, 7> kTypes = {
	"GetSnapshotList",      "LoadSnapshot", "SaveSnapshot",  "LoadNextSnapshot",
	"LoadPreviousSnapshot", "UndoLoad",     "NoSuchRequest",
};

const QStringList kCodes = {
	QStringLiteral("Busy"),          QStringLiteral("NotFound"),      QStringLiteral("InvalidName"),
	QStringLiteral("DuplicateName"), QStringLiteral("LimitReached"),  QStringLiteral("ReadFailed"),
	QStringLiteral("WriteFailed"),   QStringLiteral("RestoreFailed"), QStringLiteral("BadRequest")};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	startFuzzHost();
	velkin = makeFuzzController();
	DockWindowPlan plan;
	plan.docks = coreDocks();
	plan.size = QSize(1000, 700);
	plan.show = false;
	buildDockWindow(probe(velkin).mainWindow(), plan);
	standin::fireEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
	if (size < 1) {
		return 0;
	}
	// The first byte picks the request; the rest is its data.
	const char *type = kTypes[bytes[0] % kTypes.size()];
	const QByteArray json(reinterpret_cast<const char *>(bytes + 1), qsizetype(size - 1));
	const OBSDataAutoRelease request = obs_data_create_from_json(json.constData());
	const OBSDataAutoRelease response = obs_data_create();
	probe(velkin).remote().answer(type, request, response);

	const QJsonObject answer = QJsonDocument::fromJson(QByteArray(obs_data_get_json(response))).object();
	if (answer.isEmpty()) {
		std::abort();
	}
	const QJsonValue code = answer.value(QStringLiteral("error"));
	if (!code.isUndefined() && !kCodes.contains(code.toString())) {
		std::abort();
	}
	// Saved snapshots pile up: start over now and then, as a person deleting files behind the plug-in would.
	if (++runs % 200 == 0) {
		QDir folder(probe(velkin).snapshotDirectory());
		for (const QString &file : folder.entryList(QDir::Files)) {
			folder.remove(file);
		}
		velkin->refreshSnapshotList(QString());
		testhost::clearLog();
	}
	return 0;
}
