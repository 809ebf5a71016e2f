#include "module/Keys.hpp"
#include "module/Module.hpp"
#include "module/Velkin.hpp"
#include "operations/Layout.hpp"
#include "operations/OperationGuard.hpp"
#include "settings/SettingsFile.hpp"
#include "store/SnapshotDocument.hpp"

#include <QListWidget>
#include <QMainWindow>

void Velkin::loadSnapshot(const QString &path)
{
	if (path.isEmpty()) {
		return;
	}
	const OperationGuard guard(*this);
	if (!guard) {
		return;
	}

	SnapshotData data;
	if (readSnapshotFile(path, data) != SnapshotIoResult::Ok) {
		reportError("ReadFailed", path);
		return;
	}
	const QStringList missing = missingDocks(mainWindow, data);
	if (!missing.isEmpty() &&
	    !confirmAction(localeText("MissingDocks").arg(missing.join(QStringLiteral(", "))), false)) {
		return;
	}
	if (!mainWindow) {
		return;
	}
	if (!applyLayout(mainWindow, data)) {
		reportError("RestoreFailed", QString());
		return;
	}

	last = path;
	settingsSaveTimer.start(kSettingsSaveDelayMs);
	if (snapshotList) {
		for (int row = 0; row < snapshotList->count(); ++row) {
			if (snapshotList->item(row)->data(kPathRole).toString() == path) {
				snapshotList->setCurrentRow(row);
				break;
			}
		}
	}
}
