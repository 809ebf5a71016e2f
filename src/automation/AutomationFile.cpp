#include "automation/AutomationFile.hpp"
#include "store/SnapshotNames.hpp"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

// Each event's name in the file and the frontend event it follows, in the order of AutomationEvent. The start
// of OBS has no frontend event of its own.
struct EventInfo {
	const char *name;
	std::optional<enum obs_frontend_event> frontendEvent;
};
const std::array<EventInfo, kAutomationEventCount> kEvents = {{
	{"streamingStarted", OBS_FRONTEND_EVENT_STREAMING_STARTED},
	{"streamingStopped", OBS_FRONTEND_EVENT_STREAMING_STOPPED},
	{"recordingStarted", OBS_FRONTEND_EVENT_RECORDING_STARTED},
	{"recordingStopped", OBS_FRONTEND_EVENT_RECORDING_STOPPED},
	{"studioModeEnabled", OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED},
	{"studioModeDisabled", OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED},
	{"sceneCollectionChanged", OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED},
	{"profileChanged", OBS_FRONTEND_EVENT_PROFILE_CHANGED},
	{"obsStarted", std::nullopt},
}};

const QString kRules = QStringLiteral("rules");
const QString kEvent = QStringLiteral("event");
const QString kSnapshot = QStringLiteral("snapshot");
const QString kRestorePrevious = QStringLiteral("restorePreviousOnStop");
const QString kUndoHotkey = QStringLiteral("undoHotkey");
// Kept for earlier versions, which follow the monitors and keep the layout from this file.
const QStringList kOlderKeys{QStringLiteral("followMonitors"), QStringLiteral("monitorLayouts"),
			     QStringLiteral("keepLayoutAcrossRestarts")};

} // namespace

const char *automationEventName(AutomationEvent event)
{
	return kEvents[size_t(event)].name;
}

std::optional<AutomationEvent> automationEventNamed(const QString &name)
{
	for (int i = 0; i < kAutomationEventCount; ++i) {
		if (name == QLatin1String(kEvents[size_t(i)].name)) {
			return AutomationEvent(i);
		}
	}
	return std::nullopt;
}

std::optional<AutomationEvent> automationEventFor(enum obs_frontend_event event)
{
	for (int i = 0; i < kAutomationEventCount; ++i) {
		if (kEvents[size_t(i)].frontendEvent == event) {
			return AutomationEvent(i);
		}
	}
	return std::nullopt;
}

std::optional<AutomationEvent> startEventOf(AutomationEvent stopEvent)
{
	switch (stopEvent) {
	case AutomationEvent::StreamingStopped:
		return AutomationEvent::StreamingStarted;
	case AutomationEvent::RecordingStopped:
		return AutomationEvent::RecordingStarted;
	default:
		return std::nullopt;
	}
}

std::optional<AutomationSettings> parseAutomation(const QByteArray &json, SkippedRules *skipped)
{
	QJsonParseError error;
	const QJsonDocument document = QJsonDocument::fromJson(json, &error);
	if (error.error != QJsonParseError::NoError || !document.isObject()) {
		return std::nullopt;
	}
	const QJsonObject object = document.object();
	// A file may hold a million bad rules: only the first few are described.
	const auto skip = [skipped](const auto &why) {
		if (skipped && skipped->count++ < SkippedRules::kDescribed) {
			skipped->described.append(why());
		}
	};

	AutomationSettings settings;
	settings.restorePreviousOnStop = object.value(kRestorePrevious).toBool(false);
	settings.undoHotkey = object.value(kUndoHotkey).toArray();
	for (const QString &key : kOlderKeys) {
		if (object.contains(key)) {
			settings.olderKeys.insert(key, object.value(key));
		}
	}
	const QJsonValue rules = object.value(kRules);
	if (!rules.isUndefined() && !rules.isArray()) {
		skip([] { return QStringLiteral("\"rules\" is not a list"); });
	}
	const QJsonArray list = rules.toArray();
	for (qsizetype i = 0; i < list.size(); ++i) {
		const QJsonObject rule = list.at(i).toObject();
		const QString eventName = rule.value(kEvent).toString();
		const QString snapshot = rule.value(kSnapshot).toString();
		const std::optional<AutomationEvent> event = automationEventNamed(eventName);
		if (!event) {
			skip([&] { return QStringLiteral("rule %1: unknown event \"%2\"").arg(i + 1).arg(eventName); });
		} else if (!isPlainFileName(snapshot)) {
			// A rule names a file of the snapshot folder by its name alone, never a way to another folder.
			skip([&] {
				return QStringLiteral("rule %1: \"%2\" is not a snapshot file name")
					.arg(i + 1)
					.arg(snapshot);
			});
		} else if (!settings.rule(*event).isEmpty()) {
			skip([&] {
				return QStringLiteral("rule %1: a second rule for \"%2\"").arg(i + 1).arg(eventName);
			});
		} else {
			settings.rule(*event) = snapshot;
		}
	}
	return settings;
}

AutomationReadResult readAutomationFile(const QString &path, AutomationSettings &settings, SkippedRules *skipped)
{
	settings = AutomationSettings();
	const QFileInfo info(path);
	if (!info.exists() && !info.isSymLink()) {
		return AutomationReadResult::Missing;
	}
	// A FIFO or a device in its place would block the host's start.
	if (!info.isFile()) {
		return AutomationReadResult::NotRegularFile;
	}
	QFile file(path);
	if (!file.open(QIODevice::ReadOnly)) {
		return AutomationReadResult::Unreadable;
	}
	if (file.size() > kMaxAutomationFileBytes) {
		return AutomationReadResult::TooLarge;
	}
	const QByteArray bytes = file.read(file.size() + 1);
	if (bytes.size() > kMaxAutomationFileBytes) {
		return AutomationReadResult::TooLarge;
	}
	const std::optional<AutomationSettings> parsed = parseAutomation(bytes, skipped);
	if (!parsed) {
		return AutomationReadResult::Malformed;
	}
	settings = *parsed;
	return AutomationReadResult::Ok;
}

const char *automationReadProblem(AutomationReadResult result)
{
	switch (result) {
	case AutomationReadResult::Ok:
		return "read";
	case AutomationReadResult::Missing:
		return "was not found";
	case AutomationReadResult::NotRegularFile:
		return "is not a regular file";
	case AutomationReadResult::TooLarge:
		return "is larger than 4 MiB";
	case AutomationReadResult::Unreadable:
		return "could not be opened";
	case AutomationReadResult::Malformed:
		return "is not a JSON object";
	}
	return "could not be read";
}

QByteArray automationToJson(const AutomationSettings &settings)
{
	QJsonArray rules;
	for (int i = 0; i < kAutomationEventCount; ++i) {
		const QString &snapshot = settings.rules[size_t(i)];
		if (!snapshot.isEmpty()) {
			rules.append(
				QJsonObject{{kEvent, QLatin1String(kEvents[size_t(i)].name)}, {kSnapshot, snapshot}});
		}
	}
	QJsonObject object = settings.olderKeys;
	object.insert(kRules, rules);
	object.insert(kRestorePrevious, settings.restorePreviousOnStop);
	object.insert(kUndoHotkey, settings.undoHotkey);
	return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool writeAutomationFile(const QString &path, const AutomationSettings &settings, QString *error)
{
	const QByteArray bytes = automationToJson(settings);
	QSaveFile file(path);
	if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
		return true;
	}
	if (error) {
		*error = file.errorString();
	}
	return false;
}
