#include "automation/AutomationFile.hpp"
#include "automation/AutomationText.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "operations/OperationGuard.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotFolder.hpp"

#include <QMainWindow>

namespace {

bool hasStopEvent(AutomationEvent event)
{
	return event == AutomationEvent::StreamingStarted || event == AutomationEvent::RecordingStarted;
}

} // namespace

QString automationEventText(AutomationEvent event, bool shortForm)
{
	// "recordingStarted" reads as the keys "EventRecordingStarted" and "EventShortRecordingStarted".
	QByteArray key = automationEventName(event);
	key[0] = char(QChar::toUpper(uint(key[0])));
	return localeText((QByteArray(shortForm ? "EventShort" : "Event") + key).constData());
}

QString automationRulesText(const QList<AutomationEvent> &events)
{
	QStringList texts;
	for (const AutomationEvent event : events) {
		texts.append(automationEventText(event, true));
	}
	return texts.join(QStringLiteral(", "));
}

void Velkin::readAutomation()
{
	SkippedRules skipped;
	const AutomationReadResult result = readAutomationFile(automationPath, automation, &skipped);
	// A file that is there but unreadable, or that holds rules that were skipped, stays as the user left it until
	// a rule, the option or the undo binding is changed here.
	automationFileKept =
		(result != AutomationReadResult::Ok && result != AutomationReadResult::Missing) || skipped.count != 0;
	if (result == AutomationReadResult::Missing) {
		velkinLog(LOG_INFO, "No automation rules: %s %s", kAutomationFileName, automationReadProblem(result));
	} else if (result != AutomationReadResult::Ok) {
		velkinLog(LOG_WARNING, "No automation rules: %s %s", kAutomationFileName,
			  automationReadProblem(result));
	}
	for (const QString &line : skipped.described) {
		velkinLog(LOG_WARNING, "Skipped automation rule: %s", line.toUtf8().constData());
	}
	if (skipped.count > skipped.described.size()) {
		velkinLog(LOG_WARNING, "Skipped %lld more automation rules",
			  qlonglong(skipped.count - skipped.described.size()));
	}
}

void Velkin::saveAutomation()
{
	if (const std::optional<QJsonArray> bindings = undo.hotkeyBindings()) {
		automation.undoHotkey = *bindings;
	}
	if (automationPath.isEmpty() || !ensureSnapshotDirectory()) {
		return;
	}
	QString error;
	if (!writeAutomationFile(automationPath, automation, &error)) {
		velkinLog(LOG_WARNING, "Could not save automation rules: %s", error.toUtf8().constData());
		return;
	}
	automationFileKept = false;
}

void Velkin::onAutomationEvent(AutomationEvent event)
{
	if (!ready || shuttingDown) {
		return;
	}
	// Before anything else: a start forgets what an earlier start of its kind loaded, and a stop takes that
	// record, whether or not it acts on it. No record is ever left for a later stop to act on.
	const std::optional<AutomationEvent> start = startEventOf(event);
	std::optional<AutomaticLoad> earlier;
	if (start) {
		earlier = std::exchange(automaticLoads[size_t(*start)], std::nullopt);
	} else if (hasStopEvent(event)) {
		automaticLoads[size_t(event)].reset();
	}
	// An event that would change nothing neither waits nor pushes a waiting one aside.
	const bool acts = !automation.rule(event).isEmpty() ||
			  (start && automation.restorePreviousOnStop && (earlier || pendingAutomationEvent == start));
	if (!acts) {
		return;
	}
	stopRecord = earlier;
	if (canStartOperation()) {
		runAutomation(event);
		return;
	}
	// An operation is running: the newest event waits for its end, and the one it replaces is named.
	if (pendingAutomationEvent && *pendingAutomationEvent != event) {
		velkinLog(LOG_WARNING, "Automation: \"%s\" replaces \"%s\", which waited for a running operation",
			  automationEventName(event), automationEventName(*pendingAutomationEvent));
	}
	pendingAutomationEvent = event;
}

void Velkin::runAutomation(AutomationEvent event)
{
	const std::optional<AutomaticLoad> earlier = std::exchange(stopRecord, std::nullopt);
	const QString fileName = automation.rule(event);
	if (!fileName.isEmpty()) {
		// The layout from before the load, as the load itself keeps it: nothing runs in between.
		const QString path = snapshotPath(fileName);
		const std::optional<LayoutMemento> before =
			hasStopEvent(event) ? std::optional<LayoutMemento>(currentLayout()) : std::nullopt;
		const LoadResult result = loadSnapshot(path, LoadSource::Automation);
		if (result == LoadResult::Loaded && before) {
			automaticLoads[size_t(event)] = AutomaticLoad{*before, path};
		}
		return;
	}
	// A stop without a rule of its own takes back what its start loaded, unless another layout has been
	// chosen since.
	if (!startEventOf(event) || !earlier || !automation.restorePreviousOnStop || last != earlier->loaded) {
		return;
	}
	const OperationGuard guard(*this);
	if (guard) {
		putLayoutBack(earlier->before, LoadSource::Automation);
	}
}

void Velkin::operationEnded()
{
	if (pendingAutomationEvent && !shuttingDown) {
		QMetaObject::invokeMethod(
			this, [this] { applyPendingAutomation(); }, Qt::QueuedConnection);
	}
}

void Velkin::applyPendingAutomation()
{
	// Another operation may have started before this call came: the event waits for that one's end.
	if (!pendingAutomationEvent || !ready || shuttingDown || !canStartOperation()) {
		return;
	}
	const AutomationEvent event = *pendingAutomationEvent;
	pendingAutomationEvent.reset();
	runAutomation(event);
}

void Velkin::watchForFirstShow()
{
	if (!mainWindow) {
		return;
	}
	if (mainWindow->isVisible()) {
		// After the host's own handlers of the finished-loading event, which may still add docks.
		QMetaObject::invokeMethod(
			this, [this] { onAutomationEvent(AutomationEvent::ObsStarted); }, Qt::QueuedConnection);
		return;
	}
	// Started hidden (minimized to the tray): the rule waits until the window is first shown.
	firstShowWindow = mainWindow.data();
	firstShowWindow->installEventFilter(this);
}

void Velkin::setAutomationRule(AutomationEvent event, const QString &fileName, bool enabled)
{
	if (shuttingDown || fileName.isEmpty()) {
		return;
	}
	QString &rule = automation.rule(event);
	if (enabled) {
		// An event has one rule: taking it here moves it from whichever snapshot held it.
		rule = fileName;
	} else if (rule == fileName) {
		rule.clear();
	} else {
		return;
	}
	saveAutomation();
	updateRuleDisplay();
}

void Velkin::setRestorePreviousOnStop(bool enabled)
{
	if (shuttingDown || automation.restorePreviousOnStop == enabled) {
		return;
	}
	automation.restorePreviousOnStop = enabled;
	saveAutomation();
	updateAutomationActions();
}

QList<AutomationEvent> Velkin::rulesOf(const QString &fileName) const
{
	return rulesByFile().value(fileName);
}

QHash<QString, QList<AutomationEvent>> Velkin::rulesByFile() const
{
	QHash<QString, QList<AutomationEvent>> byFile;
	for (int i = 0; i < kAutomationEventCount; ++i) {
		const QString &rule = automation.rules[size_t(i)];
		if (!rule.isEmpty()) {
			byFile[rule].append(AutomationEvent(i));
		}
	}
	return byFile;
}

void Velkin::dropRulesOutside(const SnapshotFolder &folder)
{
	// A folder that could not be listed says nothing about its files. A file that is there but not listed (one
	// being rewritten, one of a newer format, one past the limit) keeps its rules.
	if (!folder.listed) {
		return;
	}
	QSet<QString> present;
	for (const FolderEntry &entry : folder.entries) {
		present.insert(entry.fileName);
	}
	bool changed = false;
	for (QString &rule : automation.rules) {
		if (!rule.isEmpty() && !present.contains(rule)) {
			velkinLog(LOG_WARNING, "Dropped automation rule: %s is gone", rule.toUtf8().constData());
			rule.clear();
			changed = true;
		}
	}
	if (changed) {
		saveAutomation();
	}
}
