#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <obs-frontend-api.h>

#include <array>
#include <optional>

// The frontend events a rule can follow, in the order the menu lists them.
enum class AutomationEvent {
	StreamingStarted,
	StreamingStopped,
	RecordingStarted,
	RecordingStopped,
	StudioModeEnabled,
	StudioModeDisabled,
	SceneCollectionChanged,
	ProfileChanged,
	ObsStarted,
};
constexpr int kAutomationEventCount = 9;

constexpr char kAutomationFileName[] = "automation.json";
constexpr qint64 kMaxAutomationFileBytes = 4194304;

// The event's name in automation.json ("recordingStarted") and the event of such a name.
const char *automationEventName(AutomationEvent event);
std::optional<AutomationEvent> automationEventNamed(const QString &name);
// The rule event a frontend event stands for; nothing for the events that rules do not follow.
std::optional<AutomationEvent> automationEventFor(enum obs_frontend_event event);
// The start event whose automatic load a stop event may take back.
std::optional<AutomationEvent> startEventOf(AutomationEvent stopEvent);

// automation.json in memory: the snapshot file name of each event's rule (empty: no rule), the option that
// puts the earlier layout back when streaming or recording stops, the undo hotkey's bindings; and, as read, the keys
// "followMonitors", "monitorLayouts" and "keepLayoutAcrossRestarts" that earlier versions keep here, written back
// unchanged for them.
struct AutomationSettings {
	std::array<QString, kAutomationEventCount> rules;
	bool restorePreviousOnStop = false;
	QJsonArray undoHotkey;
	QJsonObject olderKeys;

	QString &rule(AutomationEvent event) { return rules[size_t(event)]; }
	const QString &rule(AutomationEvent event) const { return rules[size_t(event)]; }
	bool operator==(const AutomationSettings &other) const
	{
		return rules == other.rules && restorePreviousOnStop == other.restorePreviousOnStop &&
		       undoHotkey == other.undoHotkey && olderKeys == other.olderKeys;
	}
};

enum class AutomationReadResult { Ok, Missing, NotRegularFile, TooLarge, Unreadable, Malformed };

// The rules that a read skipped: all of them counted, the first few described.
struct SkippedRules {
	static constexpr qsizetype kDescribed = 5;
	QStringList described;
	qsizetype count = 0;
};

// Reads the settings from the document's bytes. Rules that cannot be kept (an unknown event, a second rule for
// an event, a snapshot that is no plain file name) are skipped and go into `skipped`.
std::optional<AutomationSettings> parseAutomation(const QByteArray &json, SkippedRules *skipped);
// Reads the file: only a regular file of at most 4 MiB is opened. Anything but Ok leaves no rules.
AutomationReadResult readAutomationFile(const QString &path, AutomationSettings &settings, SkippedRules *skipped);
// Why a read gave no rules, for the log.
const char *automationReadProblem(AutomationReadResult result);

QByteArray automationToJson(const AutomationSettings &settings);
// Writes through QSaveFile: a failed write leaves the previous file as it was.
bool writeAutomationFile(const QString &path, const AutomationSettings &settings, QString *error);
