#include "module/Keys.hpp"
#include "module/Velkin.hpp"
#include "store/SnapshotNames.hpp"

#include <QEvent>
#include <QFileInfo>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QHelpEvent>
#include <QScreen>
#include <QToolTip>
#include <QMainWindow>
#include <QPushButton>

namespace {

QString queryOf(const QLineEdit *edit)
{
	return normalizedSnapshotName(edit->text());
}

} // namespace

QListWidgetItem *Velkin::findSnapshotItem(const QString &query) const
{
	if (!snapshotList || query.isEmpty()) {
		return nullptr;
	}
	if (query.startsWith(QLatin1Char('#'))) {
		// A row number as painted: "#1" is the first row. Never falls back to names.
		bool ok = false;
		const int number = query.mid(1).toInt(&ok, 10);
		if (!ok || number < 1 || number > snapshotList->count()) {
			return nullptr;
		}
		return snapshotList->item(number - 1);
	}
	for (int row = 0; row < snapshotList->count(); ++row) {
		QListWidgetItem *item = snapshotList->item(row);
		if (item->text().contains(query, Qt::CaseInsensitive)) {
			return item;
		}
	}
	return nullptr;
}

void Velkin::applySearch()
{
	if (!snapshotList || !searchEdit || !notFoundLabel || shuttingDown || busy || !mainWindow) {
		return;
	}
	const QString query = queryOf(searchEdit);
	QListWidgetItem *item = findSnapshotItem(query);
	notFoundLabel->setVisible(!query.isEmpty() && !item);
	if (item) {
		snapshotList->setCurrentItem(item);
		snapshotList->scrollToItem(item, QAbstractItemView::EnsureVisible);
	}
}

void Velkin::updateSearchNotice()
{
	if (!searchEdit || !notFoundLabel) {
		return;
	}
	const QString query = queryOf(searchEdit);
	notFoundLabel->setVisible(!query.isEmpty() && !findSnapshotItem(query));
}

bool Velkin::eventFilter(QObject *watched, QEvent *event)
{
	if (event->type() == QEvent::ToolTip && snapshotList && watched == snapshotList->viewport()) {
		// A row's tool tip carries a picture of its layout, drawn when it is first wanted.
		const auto *help = static_cast<QHelpEvent *>(event);
		if (QListWidgetItem *item = snapshotList->itemAt(help->pos())) {
			const QScreen *screen = snapshotList->screen();
			QToolTip::showText(help->globalPos(),
					   layoutsMenu.toolTipWithPicture(item->data(kPathRole).toString(),
									  item->toolTip(),
									  screen ? screen->devicePixelRatio() : 1),
					   snapshotList->viewport(), snapshotList->visualItemRect(item));
			return true;
		}
		return QObject::eventFilter(watched, event);
	}
	if (event->type() == QEvent::ContextMenu && snapshotList &&
	    (watched == snapshotList || watched == snapshotList->viewport())) {
		automation.menuOpenedOn(selectedSnapshotPath());
		return QObject::eventFilter(watched, event);
	}
	// The event type first: while the line edit is being destroyed it still sends events here, and the
	// guarded pointer must not be read then.
	if (event->type() != QEvent::KeyPress || watched != searchEdit) {
		return QObject::eventFilter(watched, event);
	}
	const auto *key = static_cast<QKeyEvent *>(event);
	if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) {
		return QObject::eventFilter(watched, event);
	}
	// Consumed from here on: Return never reaches the line edit or the dialog's default button.
	if (key->isAutoRepeat() || !snapshotList || shuttingDown || busy) {
		return true;
	}
	const QString query = queryOf(searchEdit);
	QListWidgetItem *current = snapshotList->currentItem();
	QListWidgetItem *target = nullptr;
	if (!query.startsWith(QLatin1Char('#')) && current && current->text().contains(query, Qt::CaseInsensitive)) {
		target = current;
	} else {
		target = findSnapshotItem(query);
	}
	if (target) {
		loadSnapshot(target->data(kPathRole).toString());
	}
	return true;
}

void Velkin::focusSearch()
{
	if (shuttingDown || busy || !searchEdit) {
		return;
	}
	searchEdit->setFocus(Qt::ShortcutFocusReason);
	searchEdit->selectAll();
}

void Velkin::loadSelectedSnapshot()
{
	loadSnapshot(selectedSnapshotPath());
}

void Velkin::updateButtonStates()
{
	const bool hasSnapshot = !selectedSnapshotPath().isEmpty();
	for (const QPointer<QPushButton> &button : selectionButtons) {
		if (button) {
			button->setEnabled(hasSnapshot);
		}
	}
	automation.updateActions();
}

void Velkin::storeListOrder()
{
	snapshotOrder.clear();
	if (snapshotList) {
		for (int row = 0; row < snapshotList->count(); ++row) {
			snapshotOrder.append(QFileInfo(snapshotList->item(row)->data(kPathRole).toString()).fileName());
		}
	}
	saveSettings();
	remote.emitEvent("SnapshotListChanged", QJsonObject());
}
