#include "menu/LayoutsMenu.hpp"
#include "base/Log.hpp"
#include "menu/LayoutPicturePopup.hpp"
#include "store/SnapshotCatalogue.hpp"

#include <QAction>
#include <QHash>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSet>

#include <obs-frontend-api.h>
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

LayoutsMenu::LayoutsMenu(MenuHost &host) : host(host) {}

void LayoutsMenu::add()
{
	QMainWindow *window = host.window();
	menu = new QMenu(localeText("LayoutsMenu"), window);
	QObject::connect(menu, &QMenu::aboutToShow, this, [this] { fill(); });
	// A row's picture opens beside the submenu, not at the pointer, where a tool tip would cover the entries.
	new LayoutPicturePopup(menu, [this](QAction *action) {
		const QString path = action->data().toString();
		if (path.isEmpty() || !menu) {
			return QString();
		}
		const QScreen *screen = menu->screen();
		return toolTipWithPicture(path, action->toolTip(), screen ? screen->devicePixelRatio() : 1);
	});
	QMenu *docks = window ? window->menuBar()->findChild<QMenu *>(QLatin1String(kDocksMenuName)) : nullptr;
	if (docks) {
		separator = docks->addSeparator();
		menuAction = docks->addMenu(menu);
		return;
	}
	// Without OBS's Docks menu the submenu goes into the Tools menu.
	menuAction = static_cast<QAction *>(
		obs_frontend_add_tools_menu_qaction(localeText("LayoutsMenu").toUtf8().constData()));
	if (menuAction) {
		menuAction->setMenu(menu);
	}
}

void LayoutsMenu::remove()
{
	delete menuAction.data();
	delete separator.data();
	delete menu.data();
}

void LayoutsMenu::fill()
{
	if (!menu) {
		return;
	}
	menu->clear();
	// The list as it is now, in the manager's order: no second copy of it is kept.
	const QList<SnapshotEntry> catalogue = host.catalogue();
	const QString last = host.lastSnapshot();
	QSet<QString> present;
	for (const SnapshotEntry &entry : catalogue) {
		present.insert(host.snapshotPath(entry.fileName));
	}
	const QHash<obs_hotkey_id, QString> keys = hotkeyTexts();
	for (qsizetype i = 0; i < catalogue.size() && i < kRows; ++i) {
		const QString path = host.snapshotPath(catalogue.at(i).fileName);
		QString text = menuText(catalogue.at(i).name);
		// The load hotkey's keys stand where menus show shortcuts; OBS's hotkeys do the work, not Qt.
		const QString combination = keys.value(host.loadHotkeyOf(path));
		if (!combination.isEmpty()) {
			text += QLatin1Char('\t') + combination;
		}
		QAction *action = menu->addAction(text);
		action->setCheckable(true);
		action->setChecked(path == last);
		action->setData(path);
		QObject::connect(action, &QAction::triggered, this,
				 [this, path] { host.loadSnapshot(path, LoadSource::Menu, nullptr); });
		// The row's tool tip as the manager has it; the picture beside the menu adds the layout's picture.
		action->setToolTip(host.snapshotToolTip(catalogue.at(i)));
	}
	// The pictures of the manager's rows beyond the menu's are kept too.
	keepPictures(present);
	if (catalogue.size() > kRows) {
		QObject::connect(menu->addAction(localeText("LayoutsMore")), &QAction::triggered, this,
				 [this] { host.showManagerDialog(); });
	}
	menu->addSeparator();
	QObject::connect(menu->addAction(localeText("LayoutsSaveAs")), &QAction::triggered, this,
			 [this] { host.saveNewSnapshot(); });
	QAction *undo = menu->addAction(localeText("UndoLoad"));
	undo->setEnabled(host.canUndo());
	QObject::connect(undo, &QAction::triggered, this, [this] { host.undoLastLoad(); });
	QObject::connect(menu->addAction(localeText("LayoutsManage")), &QAction::triggered, this,
			 [this] { host.showManagerDialog(); });
	QAction *keep = menu->addAction(localeText("KeepLayout"));
	keep->setCheckable(true);
	keep->setChecked(host.keepsLayout());
	QObject::connect(keep, &QAction::triggered, this, [this](bool checked) { host.setKeepsLayout(checked); });
}
