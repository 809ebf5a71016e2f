#include "automation/AutomationText.hpp"
#include "base/Log.hpp"
#include "module/Keys.hpp"
#include "module/Velkin.hpp"
#include "store/SnapshotCatalogue.hpp"
#include "store/SnapshotFolder.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QScrollBar>
#include <QSet>

#include <algorithm>

QList<SnapshotEntry> scanSnapshots(const QString &directory, const QStringList &order, int *unreadable, int *overflow)
{
	return scanSnapshots(readSnapshotFolder(directory), order, unreadable, overflow);
}

QList<SnapshotEntry> scanSnapshots(const SnapshotFolder &folder, const QStringList &order, int *unreadable,
				   int *overflow)
{
	int unreadableCount = 0;
	QMap<QString, SnapshotEntry> byFileName;
	for (const FolderEntry &entry : folder.entries) {
		if (entry.kind == FolderEntry::Kind::Document) {
			byFileName.insert(entry.fileName, SnapshotEntry{entry.fileName, entry.name, entry.modified});
		} else if (entry.kind == FolderEntry::Kind::Unreadable) {
			++unreadableCount;
		}
	}

	QList<SnapshotEntry> result;
	result.reserve(byFileName.size());
	for (const QString &fileName : order) {
		const auto it = byFileName.find(fileName);
		if (it != byFileName.end()) {
			result.append(it.value());
			byFileName.erase(it);
		}
	}
	QList<SnapshotEntry> rest = byFileName.values();
	std::stable_sort(rest.begin(), rest.end(), [](const SnapshotEntry &a, const SnapshotEntry &b) {
		return QString::localeAwareCompare(a.name, b.name) < 0;
	});
	result.append(rest);

	const int surplus = std::max(0, int(result.size()) - kMaxSnapshots);
	if (surplus > 0) {
		result.resize(kMaxSnapshots);
	}
	if (unreadable) {
		*unreadable = unreadableCount;
	}
	if (overflow) {
		*overflow = surplus;
	}
	return result;
}

QString modifiedText(const QDateTime &local)
{
	// Formatted directly: QDateTime::toString parses its format anew for every row.
	const QDate date = local.date();
	const QTime time = local.time();
	return QString::asprintf("%04d-%02d-%02d %02d:%02d", date.year(), date.month(), date.day(), time.hour(),
				 time.minute());
}

QString modifiedSeconds(const QDateTime &local)
{
	return QString::asprintf(":%02d", local.time().second());
}

namespace {

// A row's tool tip: its name, the file's modification time to the second, its path and its rules.
QString rowToolTip(const QString &name, const QDateTime &modified, const QString &path,
		   const QList<AutomationEvent> &events)
{
	const QDateTime local = modified.toLocalTime();
	QString tip = name + QLatin1Char('\n') +
		      localeText("Modified").arg(modifiedText(local) + modifiedSeconds(local)) + QLatin1Char('\n') +
		      path;
	if (!events.isEmpty()) {
		QStringList texts;
		for (const AutomationEvent event : events) {
			texts.append(automationEventText(event, false));
		}
		tip += QLatin1Char('\n') + localeText("AutoLoadTip").arg(texts.join(QStringLiteral(", ")));
	}
	return tip;
}

} // namespace

QString Velkin::selectedSnapshotPath() const
{
	if (!snapshotList || !snapshotList->currentItem()) {
		return QString();
	}
	return snapshotList->currentItem()->data(kPathRole).toString();
}

// A look at the folder that the same uninterrupted stretch of work took already spares the refresh a second one.
void Velkin::refreshSnapshotList(const QString &targetPath, const SnapshotFolder *looked)
{
	const bool keepScrollPosition = targetPath.isEmpty();
	const QString target = keepScrollPosition ? selectedSnapshotPath() : targetPath;

	// Remember the user's place: the current row and the row at the top of the view, to the pixel.
	const QPointer<QListWidget> &list = snapshotList;
	int rememberedRow = -1;
	int rememberedScroll = 0;
	QString topPath;
	int topOffset = 0;
	if (list) {
		rememberedRow = list->currentRow();
		rememberedScroll = list->verticalScrollBar()->value();
		if (QListWidgetItem *top = list->itemAt(1, 1)) {
			topPath = top->data(kPathRole).toString();
			topOffset = list->visualItemRect(top).top();
		}
		list->clear();
	}

	int unreadable = 0;
	int overflow = 0;
	SnapshotFolder ownLook;
	if (!looked) {
		ownLook = readSnapshotFolder(snapshotDirectory);
		looked = &ownLook;
	}
	const QList<SnapshotEntry> catalogue = scanSnapshots(*looked, snapshotOrder, &unreadable, &overflow);
	snapshotOrder.clear();

	// What the catalogue holds, whatever its order: a new order is announced where the user makes it.
	size_t fingerprint = qHash(catalogue.size());
	// Rules are few: looked up once here, a row costs a lookup in a small table.
	const QHash<QString, QList<AutomationEvent>> rules = automation.rulesByFile();
	QSet<QString> presentPaths;
	QListWidgetItem *newTop = nullptr;
	for (const SnapshotEntry &entry : catalogue) {
		snapshotOrder.append(entry.fileName);
		fingerprint += qHashMulti(0, entry.fileName, entry.name, entry.modified.toMSecsSinceEpoch());
		const QString path = snapshotPath(entry.fileName);
		presentPaths.insert(path);
		registerLoadHotkey(path, entry.name);
		if (list) {
			const QDateTime local = entry.modified.toLocalTime();
			const QString minutes = modifiedText(local);
			auto *item = new QListWidgetItem(entry.name, list);
			item->setData(kPathRole, path);
			item->setData(kModifiedRole, minutes);
			const QList<AutomationEvent> events = rules.value(entry.fileName);
			item->setToolTip(rowToolTip(entry.name, local, path, events));
			if (!events.isEmpty()) {
				item->setData(kRulesRole, automationRulesText(events));
			}
			if (!topPath.isEmpty() && path == topPath) {
				newTop = item;
			}
			if (path == target) {
				list->setCurrentItem(item);
			}
		}
	}

	pruneLoadHotkeys(presentPaths);
	layoutsMenu.keepPictures(presentPaths);
	automation.dropRulesOutside(*looked);
	monitors.dropSnapshotsOutside(*looked);
	remote.noteCatalogue(fingerprint);

	if (unreadable != 0) {
		velkinLog(LOG_WARNING, "Skipped %d unreadable snapshot file(s)", unreadable);
	}
	if (overflow != 0) {
		velkinLog(LOG_WARNING, "%d snapshot file(s) exceed the %d-snapshot limit; files remain on disk",
			  overflow, kMaxSnapshots);
	}

	// The list may have gone with the dialog while the items were being added.
	if (!list) {
		return;
	}
	if (list->currentRow() < 0 && list->count() > 0) {
		list->setCurrentRow(std::max(0, std::min(list->count() - 1, rememberedRow)));
	}
	if (keepScrollPosition) {
		list->doItemsLayout();
		if (newTop) {
			list->scrollToItem(newTop, QAbstractItemView::PositionAtTop);
			if (list->verticalScrollMode() == QAbstractItemView::ScrollPerPixel) {
				list->verticalScrollBar()->setValue(list->verticalScrollBar()->value() - topOffset);
			}
		} else {
			list->verticalScrollBar()->setValue(rememberedScroll);
		}
	} else if (QListWidgetItem *current = list->currentItem()) {
		list->scrollToItem(current, QAbstractItemView::EnsureVisible);
	}
	updateSearchNotice();
	updateButtonStates();
}

QString Velkin::snapshotToolTip(const SnapshotEntry &entry) const
{
	return rowToolTip(entry.name, entry.modified, snapshotPath(entry.fileName), automation.rulesOf(entry.fileName));
}

void Velkin::rulesChanged()
{
	if (!snapshotList) {
		return;
	}
	// Only rows that have rules or had them change: a thousand rows cost a lookup each.
	const QHash<QString, QList<AutomationEvent>> rules = automation.rulesByFile();
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
