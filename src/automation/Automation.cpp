#include "automation/Automation.hpp"
#include "automation/AutomationText.hpp"
#include "base/Log.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotFolder.hpp"

#include <QEvent>
#include <QFileInfo>
#include <QMainWindow>
#include <QSet>

#include <utility>

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

Automation::Automation(AutomationHost &host) : host(host) {}

void Automation::read(const QString &filePath)
{
	path = filePath;
	SkippedRules skipped;
	const AutomationReadResult result = readAutomationFile(path, settings, &skipped);
	// A file that is there but unreadable, or that holds rules that were skipped, stays as the user left it until
	// a rule, the option or the undo binding is changed here.
	fileKept =
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

void Automation::save()
{
	if (const std::optional<QJsonArray> bindings = host.undoHotkeyBindings()) {
		settings.undoHotkey = *bindings;
	}
	if (path.isEmpty() || !host.ensureSnapshotDirectory()) {
		return;
	}
	QString error;
	if (!writeAutomationFile(path, settings, &error)) {
		velkinLog(LOG_WARNING, "Could not save automation rules: %s", error.toUtf8().constData());
		return;
	}
	fileKept = false;
}

void Automation::saveAtExit()
{
	if (!fileKept) {
		save();
	}
}

void Automation::start()
{
	QMainWindow *window = host.window();
	if (!window) {
		return;
	}
	if (window->isVisible()) {
		// After the host's own handlers of the finished-loading event, which may still add docks.
		QMetaObject::invokeMethod(
			this, [this] { onEvent(AutomationEvent::ObsStarted); }, Qt::QueuedConnection);
		return;
	}
	// Started hidden (minimized to the tray): the rule waits until the window is first shown.
	firstShowWindow.add(window);
}

void Automation::stop()
{
	pendingEvent.reset();
	firstShowWindow.removeAll();
}

bool Automation::eventFilter(QObject *watched, QEvent *event)
{
	if (event->type() == QEvent::Show && firstShowWindow.contains(watched)) {
		// The main window comes out of the tray for the first time: now the start rule applies, once the
		// window has settled, unless a layout was loaded meanwhile (by another rule or a Stream Deck, maybe in
		// the middle of a stream): that one stays.
		firstShowWindow.removeAll();
		QMetaObject::invokeMethod(
			this,
			[this] {
				if (!loadedSinceStart) {
					onEvent(AutomationEvent::ObsStarted);
				}
			},
			Qt::QueuedConnection);
	}
	return QObject::eventFilter(watched, event);
}

void Automation::frontendEvent(enum obs_frontend_event event)
{
	// Applied once the host has finished with the event: it may be in the middle of starting an output or
	// switching a profile. Events of the host's own start (OBS 32 reports its scene collection before it has
	// finished loading) are no change of the show: the start rule stands for them.
	const std::optional<AutomationEvent> rule = automationEventFor(event);
	if (rule && host.isActive()) {
		QMetaObject::invokeMethod(
			this, [this, rule] { onEvent(*rule); }, Qt::QueuedConnection);
	}
}

void Automation::onEvent(AutomationEvent event)
{
	if (!host.isActive()) {
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
	const bool acts = !settings.rule(event).isEmpty() ||
			  (start && settings.restorePreviousOnStop && (earlier || pendingEvent == start));
	if (!acts) {
		return;
	}
	stopRecord = earlier;
	if (host.canStartOperation()) {
		run(event);
		return;
	}
	// An operation is running: the newest event waits for its end, and the one it replaces is named.
	if (pendingEvent && *pendingEvent != event) {
		velkinLog(LOG_WARNING, "Automation: \"%s\" replaces \"%s\", which waited for a running operation",
			  automationEventName(event), automationEventName(*pendingEvent));
	}
	pendingEvent = event;
}

void Automation::run(AutomationEvent event)
{
	const std::optional<AutomaticLoad> earlier = std::exchange(stopRecord, std::nullopt);
	const QString fileName = settings.rule(event);
	if (!fileName.isEmpty()) {
		// The layout from before the load, as the load itself keeps it: nothing runs in between.
		const QString snapshot = host.snapshotPath(fileName);
		const std::optional<LayoutMemento> before =
			hasStopEvent(event) ? std::optional<LayoutMemento>(host.currentLayout()) : std::nullopt;
		const LoadResult result = host.loadSnapshot(snapshot, LoadSource::Automation, nullptr);
		if (result == LoadResult::Loaded && before) {
			automaticLoads[size_t(event)] = AutomaticLoad{*before, snapshot};
		}
		return;
	}
	// A stop without a rule of its own takes back what its start loaded, unless another layout has been
	// chosen since.
	if (!startEventOf(event) || !earlier || !settings.restorePreviousOnStop ||
	    host.lastSnapshot() != earlier->loaded) {
		return;
	}
	const OperationGuard guard(host);
	if (guard) {
		host.putLayoutBack(earlier->before, LoadSource::Automation);
	}
}

void Automation::operationEnded()
{
	if (pendingEvent && !host.isShuttingDown()) {
		QMetaObject::invokeMethod(
			this, [this] { applyPending(); }, Qt::QueuedConnection);
	}
}

void Automation::layoutLoaded(const LoadedLayout &loaded)
{
	if (loaded.chosen) {
		loadedSinceStart = true;
	}
}

void Automation::applyPending()
{
	// Another operation may have started before this call came: the event waits for that one's end.
	if (!pendingEvent || !host.isActive() || !host.canStartOperation()) {
		return;
	}
	const AutomationEvent event = *pendingEvent;
	pendingEvent.reset();
	run(event);
}

void Automation::setRule(AutomationEvent event, const QString &fileName, bool enabled)
{
	if (host.isShuttingDown() || fileName.isEmpty()) {
		return;
	}
	QString &rule = settings.rule(event);
	if (enabled) {
		rule = fileName;
	} else if (rule == fileName) {
		rule.clear();
	} else {
		return;
	}
	save();
	host.rulesChanged();
}

void Automation::setOption(bool AutomationSettings::*option, bool enabled)
{
	if (host.isShuttingDown() || settings.*option == enabled) {
		return;
	}
	settings.*option = enabled;
	save();
	updateActions();
}

QList<AutomationEvent> Automation::rulesOf(const QString &fileName) const
{
	return rulesByFile().value(fileName);
}

QHash<QString, QList<AutomationEvent>> Automation::rulesByFile() const
{
	QHash<QString, QList<AutomationEvent>> byFile;
	for (int i = 0; i < kAutomationEventCount; ++i) {
		const QString &rule = settings.rules[size_t(i)];
		if (!rule.isEmpty()) {
			byFile[rule].append(AutomationEvent(i));
		}
	}
	return byFile;
}

void Automation::dropRulesOutside(const SnapshotFolder &folder)
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
	for (QString &rule : settings.rules) {
		if (!rule.isEmpty() && !present.contains(rule)) {
			velkinLog(LOG_WARNING, "Dropped automation rule: %s is gone", rule.toUtf8().constData());
			rule.clear();
			changed = true;
		}
	}
	if (changed) {
		save();
	}
}

bool Automation::moveRules(const QString &from, const QString &to)
{
	bool changed = false;
	for (QString &rule : settings.rules) {
		if (rule == from) {
			rule = to;
			changed = true;
		}
	}
	return changed;
}

void Automation::moveRecords(const QString &from, const QString &to)
{
	const auto follow = [&](std::optional<AutomaticLoad> &load) {
		if (!load) {
			return;
		}
		for (QString *path : {&load->loaded, &load->before.last}) {
			if (*path == from) {
				*path = to;
			}
		}
	};
	for (std::optional<AutomaticLoad> &load : automaticLoads) {
		follow(load);
	}
	// And the record that a waiting stop has taken: that stop compares it with `last`.
	follow(stopRecord);
}

void Automation::snapshotRenamed(const QString &oldPath, const QString &newPath)
{
	// A rule left under the new name belonged to a file that is gone.
	const bool dropped = moveRules(QFileInfo(newPath).fileName(), QString());
	const bool moved = moveRules(QFileInfo(oldPath).fileName(), QFileInfo(newPath).fileName());
	moveRecords(oldPath, newPath);
	if (dropped || moved) {
		save();
	}
}

void Automation::snapshotDeleted(const QString &path)
{
	const bool dropped = moveRules(QFileInfo(path).fileName(), QString());
	// The records still hold their layouts, but no longer a snapshot that they came from.
	moveRecords(path, QString());
	if (dropped) {
		save();
	}
}
