#include "remote/RemoteControl.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/OperationGuard.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotCatalogue.hpp"
#include "store/SnapshotFolder.hpp"
#include "store/SnapshotNames.hpp"

#ifdef VELKIN_TEST_PROBES
#include "probes/DockReport.hpp"
#endif

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMainWindow>
#include <QThread>

#include <algorithm>
#include <optional>

namespace {

const QString kName = QStringLiteral("name");
const QString kFileName = QStringLiteral("fileName");

// An error report of the operations, as the code a remote client reads.
QJsonObject errorOfReport(const QByteArray &key)
{
	if (key == "InvalidName" || key == "DuplicateName" || key == "ReadFailed" || key == "RestoreFailed") {
		return remoteError(key.constData(), QStringLiteral("The operation failed: %1").arg(QLatin1String(key)));
	}
	if (key == "SnapshotLimit") {
		return remoteError("LimitReached", QStringLiteral("There are already 1000 snapshots"));
	}
	return remoteError("WriteFailed", QStringLiteral("The snapshot could not be written (%1)")
						  .arg(QLatin1String(key.isEmpty() ? QByteArray("unknown") : key)));
}

// The catalogue entry a request names: by its exact file name (never a path), or by its name as the dialog
// compares names.
std::optional<SnapshotEntry> findEntry(const QList<SnapshotEntry> &catalogue, const QJsonObject &request)
{
	const QJsonValue fileName = request.value(kFileName);
	if (fileName.isString()) {
		const QString wanted = fileName.toString();
		if (!isPlainFileName(wanted)) {
			return std::nullopt;
		}
		for (const SnapshotEntry &entry : catalogue) {
			if (entry.fileName == wanted) {
				return entry;
			}
		}
		return std::nullopt;
	}
	const QString key = snapshotNameKey(normalizedSnapshotName(request.value(kName).toString()));
	for (const SnapshotEntry &entry : catalogue) {
		if (snapshotNameKey(entry.name) == key) {
			return entry;
		}
	}
	return std::nullopt;
}

} // namespace

// While it lives, error reports are logged and remembered, never shown.
class RemoteControl::Quiet {
public:
	explicit Quiet(RemoteControl &remote) : remote(remote)
	{
		remote.quietReports = true;
		remote.quietReportKey.clear();
	}
	~Quiet() { remote.quietReports = false; }
	Quiet(const Quiet &) = delete;
	Quiet &operator=(const Quiet &) = delete;

private:
	RemoteControl &remote;
};

QJsonObject RemoteControl::answer(const QString &type, const QJsonObject &request)
{
	if (!host.isActive() || !host.canStartOperation()) {
		return remoteError("Busy", QStringLiteral("OBS-Velkin is busy; try again"));
	}
	if (type == QLatin1String("GetSnapshotList")) {
		return snapshotList();
	}
#ifdef VELKIN_TEST_PROBES
	if (type == QLatin1String("ReportLayout")) {
		QJsonObject report = reportDockLayout(host.window());
		// Which load the layout comes from: `last`, and how many loads have taken effect (a double carries
		// every count that a run reaches).
		report.insert(QStringLiteral("last"), QFileInfo(host.lastSnapshot()).fileName());
		report.insert(QStringLiteral("loads"), double(loadsAnnounced));
		return report;
	}
	if (type == QLatin1String("SetHotkeyBindings")) {
		return setHotkeyBindings(request);
	}
	if (type == QLatin1String("HoldUiThread")) {
		// Keeps OBS's UI thread busy for a while, as switching a large scene collection does.
		QThread::msleep(ulong(std::clamp(request.value(QStringLiteral("milliseconds")).toInt(), 0, 5000)));
		return QJsonObject();
	}
#endif
	// Hotkey presses that came first take effect first, as they would one by one. Nobody watches that load here
	// either: it asks nothing and shows nothing.
	{
		const Quiet quiet(*this);
		host.applyPressedLoad();
	}
	if (!host.canStartOperation()) {
		return remoteError("Busy", QStringLiteral("OBS-Velkin is busy; try again"));
	}
	if (RemoteDocks::handles(type)) {
		return docks.answer(type, request);
	}
	if (type == QLatin1String("LoadSnapshot")) {
		return load(request);
	}
	if (type == QLatin1String("SaveSnapshot")) {
		return save(request);
	}
	if (type == QLatin1String("LoadNextSnapshot")) {
		return cycle(+1);
	}
	if (type == QLatin1String("LoadPreviousSnapshot")) {
		return cycle(-1);
	}
	if (type == QLatin1String("UndoLoad")) {
		return undo();
	}
	return remoteError("BadRequest", QStringLiteral("Unknown request"));
}

QJsonObject RemoteControl::snapshotList()
{
	const QList<SnapshotEntry> catalogue = host.catalogue();
	QList<obs_hotkey_id> ids;
	for (const SnapshotEntry &entry : catalogue) {
		ids.append(host.loadHotkeyOf(host.snapshotPath(entry.fileName)));
	}
	const QList<QJsonArray> bindings = hotkeyBindingsToJson(ids);
	QJsonArray snapshots;
	for (qsizetype i = 0; i < catalogue.size(); ++i) {
		const SnapshotEntry &entry = catalogue.at(i);
		// Lists of objects: obs-websocket carries answers as host data, whose arrays hold objects only.
		QJsonArray rules;
		for (const QString &event : host.ruleEventNames(entry.fileName)) {
			rules.append(QJsonObject{{QStringLiteral("event"), event}});
		}
		snapshots.append(QJsonObject{
			{kName, entry.name},
			{kFileName, entry.fileName},
			{QStringLiteral("position"), int(i + 1)},
			{QStringLiteral("modified"), entry.modified.toUTC().toString(Qt::ISODate)},
			{QStringLiteral("hasHotkey"), !bindings.at(i).isEmpty()},
			{QStringLiteral("rules"), rules},
		});
	}
	QJsonObject answer{{QStringLiteral("snapshots"), snapshots}};
	// Host data has no null: without a last snapshot the member is left out.
	const QString last = host.lastSnapshot();
	if (!last.isEmpty()) {
		answer.insert(QStringLiteral("last"), QFileInfo(last).fileName());
	}
	return answer;
}

namespace {

QJsonObject loadAnswer(LoadResult result, const QString &path, const QStringList &missing)
{
	switch (result) {
	case LoadResult::Loaded: {
		QJsonArray docks;
		for (const QString &dock : missing) {
			docks.append(QJsonObject{{kName, dock}});
		}
		QJsonObject answer{{QStringLiteral("loaded"), true}, {QStringLiteral("missingDocks"), docks}};
		// An undo back to before any snapshot, or to one that is gone, names none.
		if (!path.isEmpty()) {
			answer.insert(kFileName, QFileInfo(path).fileName());
		}
		return answer;
	}
	case LoadResult::ReadFailed:
		return remoteError("ReadFailed", QStringLiteral("The snapshot could not be read"));
	case LoadResult::RestoreFailed:
		return remoteError("RestoreFailed",
				   QStringLiteral("OBS refused this layout; the previous one is back"));
	case LoadResult::NotStarted:
	case LoadResult::Cancelled:
		break;
	}
	return remoteError("Busy", QStringLiteral("OBS-Velkin is busy; try again"));
}

} // namespace

QJsonObject RemoteControl::load(const QJsonObject &request)
{
	if (!request.value(kFileName).isString() && !request.value(kName).isString()) {
		return remoteError("BadRequest", QStringLiteral("Give \"name\" or \"fileName\""));
	}
	const std::optional<SnapshotEntry> entry = findEntry(host.catalogue(), request);
	if (!entry) {
		return remoteError("NotFound", QStringLiteral("No such snapshot"));
	}
	const QString path = host.snapshotPath(entry->fileName);
	QStringList missing;
	return loadAnswer(host.loadSnapshot(path, LoadSource::Remote, &missing), path, missing);
}

QJsonObject RemoteControl::save(const QJsonObject &request)
{
	const QJsonValue overwriteValue = request.value(QStringLiteral("overwrite"));
	if (!request.value(kName).isString() || !(overwriteValue.isUndefined() || overwriteValue.isBool())) {
		return remoteError("BadRequest", QStringLiteral("Give \"name\" and, if you like, \"overwrite\": true"));
	}
	const OperationGuard guard(host);
	if (!guard) {
		return remoteError("Busy", QStringLiteral("OBS-Velkin is busy; try again"));
	}
	const Quiet quiet(*this);
	const QString name = normalizedSnapshotName(request.value(kName).toString());
	QString written;
	// Nothing runs an event loop from here to the store: one look at the folder serves every check.
	SnapshotFolder folder;
	switch (validateSnapshotName(host.snapshotFolder(), name, QString(), &folder)) {
	case NameCheckResult::NameInvalid:
		return remoteError("InvalidName", QStringLiteral("This name cannot be used"));
	case NameCheckResult::NameDuplicate: {
		if (!overwriteValue.toBool(false)) {
			return remoteError("DuplicateName", QStringLiteral("A snapshot with this name already exists"));
		}
		// As Overwrite does it: the stored name stays, the layout is the one of now.
		// The catalogue lists readable documents only, with their stored names.
		const std::optional<SnapshotEntry> entry =
			findEntry(host.catalogueOf(folder), QJsonObject{{kName, name}});
		if (!entry) {
			return remoteError("ReadFailed", QStringLiteral("The snapshot to overwrite could not be read"));
		}
		written = host.storeLayout(entry->name, host.snapshotPath(entry->fileName), &folder);
		break;
	}
	case NameCheckResult::NameAccepted:
		if (!host.checkSnapshotLimit(folder)) {
			return errorOfReport(quietReportKey);
		}
		written = host.storeLayout(name, QString(), &folder);
		break;
	}
	if (written.isEmpty()) {
		return errorOfReport(quietReportKey);
	}
	return QJsonObject{{kFileName, QFileInfo(written).fileName()}};
}

QJsonObject RemoteControl::cycle(int step)
{
	const QString target = host.cycleTarget(host.lastSnapshot(), step);
	if (target.isEmpty()) {
		return remoteError("NotFound", QStringLiteral("There are no snapshots"));
	}
	QStringList missing;
	return loadAnswer(host.loadSnapshot(target, LoadSource::Remote, &missing), target, missing);
}

QJsonObject RemoteControl::undo()
{
	if (!host.canUndo()) {
		return remoteError("NotFound", QStringLiteral("There is no load to undo"));
	}
	const Quiet quiet(*this);
	const LoadResult result = host.undoLastLoad();
	return loadAnswer(result, host.lastSnapshot(), QStringList());
}
