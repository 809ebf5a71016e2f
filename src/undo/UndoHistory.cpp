#include "undo/UndoHistory.hpp"
#include "base/Log.hpp"
#include "operations/OperationGuard.hpp"
#include "settings/SettingsFile.hpp"

#include <QAction>
#include <QWidget>

namespace {

constexpr char kHotkeyName[] = "obs-velkin.undo";

} // namespace

UndoHistory::UndoHistory(FeatureHost &host) : host(host) {}

void UndoHistory::remember(const LayoutMemento &before)
{
	dockRunOpen = false;
	history.append(before);
	while (history.size() > kDepth) {
		history.removeFirst();
	}
	updateAction();
}

void UndoHistory::rememberDockChange(const LayoutMemento &before)
{
	if (dockRunOpen && !history.isEmpty()) {
		return;
	}
	remember(before);
	dockRunOpen = true;
}

LoadResult UndoHistory::undo()
{
	const OperationGuard guard(host);
	if (!guard || history.isEmpty()) {
		return LoadResult::NotStarted;
	}
	dockRunOpen = false;
	const LayoutMemento layout = history.takeLast();
	const LoadResult result = host.putLayoutBack(layout, LoadSource::Undo);
	if (result != LoadResult::Loaded) {
		// The window refused it: the layout stays in the history, to be tried again.
		history.append(layout);
	}
	updateAction();
	return result;
}

void UndoHistory::registerHotkey(obs_hotkey_func callback, void *data, const QJsonArray &bindings)
{
	hotkeyId = obs_hotkey_register_frontend(kHotkeyName, localeText("UndoHotkey").toUtf8().constData(), callback,
						data);
	hotkeyBindingsFromJson(hotkeyId, bindings);
}

void UndoHistory::unregisterHotkey()
{
	obs_hotkey_unregister(hotkeyId);
	hotkeyId = OBS_INVALID_HOTKEY_ID;
}

std::optional<QJsonArray> UndoHistory::hotkeyBindings() const
{
	if (hotkeyId == OBS_INVALID_HOTKEY_ID) {
		return std::nullopt;
	}
	return hotkeyBindingsToJson(hotkeyId);
}

void UndoHistory::addAction(QWidget *list)
{
	action = new QAction(localeText("UndoLoad"), list);
	QObject::connect(action, &QAction::triggered, this, [this] { undo(); });
	list->addAction(action);
	updateAction();
}

void UndoHistory::updateAction()
{
	if (action) {
		action->setEnabled(!history.isEmpty());
	}
}

void UndoHistory::snapshotRenamed(const QString &oldPath, const QString &newPath)
{
	for (LayoutMemento &layout : history) {
		if (layout.last == oldPath) {
			layout.last = newPath;
		}
	}
}

void UndoHistory::snapshotDeleted(const QString &path)
{
	// The kept layouts stay, but no longer name a snapshot that they came from.
	for (LayoutMemento &layout : history) {
		if (layout.last == path) {
			layout.last.clear();
		}
	}
}

void UndoHistory::layoutLoaded(const LoadedLayout &loaded)
{
	if (loaded.source != LoadSource::Undo) {
		remember(loaded.before);
	}
}
