#include "dialog/LayoutPicturePopup.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "store/SnapshotCatalogue.hpp"

#include <QAction>
#include <QHash>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSet>

#include <util/dstr.h>

namespace {

// OBS's own menu of docks, by its object name in the main window's menu bar.
constexpr char kDocksMenuName[] = "menuDocks";

// The key combination of each hotkey's first binding, as OBS names keys: one pass over all bindings.
QHash<obs_hotkey_id, QString> hotkeyTexts()
{
	QHash<obs_hotkey_id, QString> texts;
	obs_enum_hotkey_bindings(
		[](void *data, size_t, obs_hotkey_binding_t *binding) {
			auto *found = static_cast<QHash<obs_hotkey_id, QString> *>(data);
			const obs_hotkey_id id = obs_hotkey_binding_get_hotkey_id(binding);
			if (found->value(id).isEmpty()) {
				struct dstr text = {};
				obs_key_combination_to_str(obs_hotkey_binding_get_key_combination(binding), &text);
				found->insert(id, QString::fromUtf8(text.array ? text.array : ""));
				dstr_free(&text);
			}
			return true;
		},
		&texts);
	return texts;
}

// A snapshot's name as a menu shows it: an ampersand is a letter, not a mnemonic.
QString menuText(const QString &name)
{
	return QString(name).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

void Velkin::addLayoutsMenu()
{
	layoutsMenu = new QMenu(localeText("LayoutsMenu"), mainWindow);
	QObject::connect(layoutsMenu, &QMenu::aboutToShow, this, [this] { fillLayoutsMenu(); });
	// A row's picture opens beside the submenu, not at the pointer, where a tool tip would cover the entries.
	new LayoutPicturePopup(layoutsMenu, [this](QAction *action) {
		const QString path = action->data().toString();
		if (path.isEmpty() || !layoutsMenu) {
			return QString();
		}
		const QScreen *screen = layoutsMenu->screen();
		return toolTipWithPicture(path, action->toolTip(), screen ? screen->devicePixelRatio() : 1);
	});
	QMenu *docks = mainWindow ? mainWindow->menuBar()->findChild<QMenu *>(QLatin1String(kDocksMenuName)) : nullptr;
	if (docks) {
		layoutsSeparator = docks->addSeparator();
		layoutsMenuAction = docks->addMenu(layoutsMenu);
		return;
	}
	// Without OBS's Docks menu the submenu goes into the Tools menu.
	layoutsMenuAction = static_cast<QAction *>(
		obs_frontend_add_tools_menu_qaction(localeText("LayoutsMenu").toUtf8().constData()));
	if (layoutsMenuAction) {
		layoutsMenuAction->setMenu(layoutsMenu);
	}
}

void Velkin::removeLayoutsMenu()
{
	delete layoutsMenuAction.data();
	delete layoutsSeparator.data();
	delete layoutsMenu.data();
}

void Velkin::fillLayoutsMenu()
{
	if (!layoutsMenu) {
		return;
	}
	layoutsMenu->clear();
	// The list as it is now, in the manager's order: no second copy of it is kept.
	const QList<SnapshotEntry> catalogue = scanSnapshots(snapshotDirectory, snapshotOrder);
	QSet<QString> listed;
	const QHash<QString, QList<AutomationEvent>> rules = automation.rulesByFile();
	const QHash<obs_hotkey_id, QString> keys = hotkeyTexts();
	for (qsizetype i = 0; i < catalogue.size() && i < kLayoutsMenuRows; ++i) {
		const QString path = snapshotPath(catalogue.at(i).fileName);
		listed.insert(path);
		QString text = menuText(catalogue.at(i).name);
		// The load hotkey's keys stand where menus show shortcuts; OBS's hotkeys do the work, not Qt.
		const QString combination = keys.value(loadHotkeys.value(path, OBS_INVALID_HOTKEY_ID));
		if (!combination.isEmpty()) {
			text += QLatin1Char('\t') + combination;
		}
		QAction *action = layoutsMenu->addAction(text);
		action->setCheckable(true);
		action->setChecked(path == last);
		action->setData(path);
		QObject::connect(action, &QAction::triggered, this,
				 [this, path] { loadSnapshot(path, LoadSource::Menu); });
		// The row's tool tip as the manager has it; the picture beside the menu adds the layout's picture.
		action->setToolTip(rowToolTip(catalogue.at(i).name, catalogue.at(i).modified, path,
					      rules.value(catalogue.at(i).fileName)));
	}
	keepLayoutPictures(listed);
	if (catalogue.size() > kLayoutsMenuRows) {
		QObject::connect(layoutsMenu->addAction(localeText("LayoutsMore")), &QAction::triggered, this,
				 [this] { showManagerDialog(); });
	}
	layoutsMenu->addSeparator();
	QObject::connect(layoutsMenu->addAction(localeText("LayoutsSaveAs")), &QAction::triggered, this,
			 [this] { saveNewSnapshot(); });
	QAction *undo = layoutsMenu->addAction(localeText("UndoLoad"));
	undo->setEnabled(!this->undo.isEmpty());
	QObject::connect(undo, &QAction::triggered, this, [this] { undoLastLoad(); });
	QObject::connect(layoutsMenu->addAction(localeText("LayoutsManage")), &QAction::triggered, this,
			 [this] { showManagerDialog(); });
}
