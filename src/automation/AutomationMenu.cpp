#include "automation/Automation.hpp"
#include "automation/AutomationText.hpp"
#include "base/Log.hpp"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

void Automation::addActions(QWidget *list)
{
	menu = new QMenu(localeText("AutoLoadMenu"), list);
	QObject::connect(menu, &QMenu::aboutToShow, this, [this] { fillMenu(); });
	list->addAction(menu->menuAction());

	restorePreviousAction = new QAction(localeText("RestorePreviousOnStop"), list);
	restorePreviousAction->setCheckable(true);
	QObject::connect(restorePreviousAction, &QAction::triggered, this,
			 [this](bool checked) { setRestorePreviousOnStop(checked); });
	list->addAction(restorePreviousAction);

	updateActions();
}

void Automation::fillMenu()
{
	if (!menu) {
		return;
	}
	menu->clear();
	// The rules of the snapshot the menu was opened on, as they are at this moment: a load meanwhile may have
	// moved the selection to another row.
	const QString fileName = QFileInfo(menuPath).fileName();
	for (int i = 0; i < kAutomationEventCount; ++i) {
		const auto event = AutomationEvent(i);
		QAction *action = menu->addAction(automationEventText(event, false));
		action->setCheckable(true);
		action->setChecked(!fileName.isEmpty() && settings.rule(event) == fileName);
		action->setEnabled(!fileName.isEmpty());
		QObject::connect(action, &QAction::triggered, this,
				 [this, event, fileName](bool checked) { setRule(event, fileName, checked); });
	}
}

void Automation::updateActions()
{
	if (menu) {
		menu->menuAction()->setEnabled(!host.selectedSnapshotPath().isEmpty());
	}
	if (restorePreviousAction) {
		restorePreviousAction->setChecked(settings.restorePreviousOnStop);
	}
}
