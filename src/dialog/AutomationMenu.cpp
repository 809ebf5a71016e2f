#include "automation/AutomationText.hpp"
#include "module/Keys.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "store/SnapshotCatalogue.hpp"

#include <QAction>
#include <QDialog>
#include <QFileInfo>
#include <QHash>
#include <QListWidget>
#include <QMenu>

void Velkin::addAutomationActions()
{
	automationMenu = new QMenu(localeText("AutoLoadMenu"), snapshotList);
	automationMenuAction = automationMenu->menuAction();
	QObject::connect(automationMenu, &QMenu::aboutToShow, this, [this] { fillAutomationMenu(); });
	snapshotList->addAction(automationMenuAction);

	restorePreviousAction = new QAction(localeText("RestorePreviousOnStop"), snapshotList);
	restorePreviousAction->setCheckable(true);
	QObject::connect(restorePreviousAction, &QAction::triggered, this,
			 [this](bool checked) { setRestorePreviousOnStop(checked); });
	snapshotList->addAction(restorePreviousAction);

	auto *separator = new QAction(snapshotList);
	separator->setSeparator(true);
	snapshotList->addAction(separator);

	undo.addAction(snapshotList);

	separator = new QAction(snapshotList);
	separator->setSeparator(true);
	snapshotList->addAction(separator);

	updateAutomationActions();
}

void Velkin::fillAutomationMenu()
{
	if (!automationMenu) {
		return;
	}
	automationMenu->clear();
	// The rules of the snapshot the menu was opened on, as they are at this moment: a load meanwhile may have
	// moved the selection to another row.
	const QString fileName = QFileInfo(automationMenuPath).fileName();
	for (int i = 0; i < kAutomationEventCount; ++i) {
		const auto event = AutomationEvent(i);
		QAction *action = automationMenu->addAction(automationEventText(event, false));
		action->setCheckable(true);
		action->setChecked(!fileName.isEmpty() && automation.rule(event) == fileName);
		action->setEnabled(!fileName.isEmpty());
		QObject::connect(action, &QAction::triggered, this, [this, event, fileName](bool checked) {
			setAutomationRule(event, fileName, checked);
		});
	}
}

void Velkin::updateAutomationActions()
{
	if (automationMenuAction) {
		automationMenuAction->setEnabled(!selectedSnapshotPath().isEmpty());
	}
	if (restorePreviousAction) {
		restorePreviousAction->setChecked(automation.restorePreviousOnStop);
	}
}

void Velkin::updateRuleDisplay()
{
	if (!snapshotList) {
		return;
	}
	// Only rows that have rules or had them change: a thousand rows cost a lookup each.
	const QHash<QString, QList<AutomationEvent>> rules = rulesByFile();
	for (int row = 0; row < snapshotList->count(); ++row) {
		QListWidgetItem *item = snapshotList->item(row);
		const QString path = item->data(kPathRole).toString();
		const QList<AutomationEvent> events = rules.value(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
		if (events.isEmpty() && !item->data(kRulesRole).isValid()) {
			continue;
		}
		item->setData(kRulesRole, events.isEmpty() ? QVariant() : QVariant(automationRulesText(events)));
		item->setToolTip(rowToolTip(item->text(), QFileInfo(path).fileTime(QFileDevice::FileModificationTime),
					    path, events));
	}
}
