#include "base/Log.hpp"
#include "module/Velkin.hpp"
#include "operations/LayoutCapture.hpp"
#include "operations/ModalWindow.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"
#include "store/SnapshotFolder.hpp"
#include "store/SnapshotNames.hpp"

#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QMainWindow>

namespace {

const char *nameCheckKey(NameCheckResult result)
{
	return result == NameCheckResult::NameDuplicate ? "DuplicateName" : "InvalidName";
}

} // namespace

void Velkin::saveNewSnapshot()
{
	const OperationGuard guard(*this);
	if (!guard || !checkSnapshotLimit()) {
		return;
	}
	SnapshotFolder folder;
	const QString name = promptSnapshotName(QString(), QString(), &folder);
	if (!name.isEmpty()) {
		storeLayout(name, QString(), &folder);
	}
}

void Velkin::overwriteSnapshot()
{
	const OperationGuard guard(*this);
	const auto stored = guard ? readSelectedSnapshot() : std::nullopt;
	if (!stored || !confirmAction(localeText("ConfirmOverwrite").arg(stored->data.name), false)) {
		return;
	}
	// Only the name survives from the old document; everything else is the layout as it is now.
	storeLayout(stored->data.name, stored->path, nullptr);
}

QString Velkin::storeLayout(const QString &name, const QString &oldPath, SnapshotFolder *looked)
{
	if (!mainWindow) {
		return QString();
	}
	const QString path = storeSnapshot(captureLayout(mainWindow, name), oldPath, looked);
	if (!path.isEmpty()) {
		last = path;
		saveSettings();
	}
	return path;
}

// Leaves the look at the folder that accepted the name in `looked`.
QString Velkin::promptSnapshotName(const QString &initialText, const QString &excludedPath, SnapshotFolder *looked)
{
	ModalWindow<QInputDialog> prompt(new QInputDialog(managerDialog.data()));
	prompt->setWindowTitle(localeText("Title"));
	prompt->setLabelText(localeText("NamePrompt"));
	prompt->setTextValue(initialText);
	prompt->setOkButtonText(localeText("Save"));
	prompt->setCancelButtonText(localeText("Cancel"));

	for (;;) {
		const int result = prompt.exec();
		if (result != QDialog::Accepted || !prompt || shuttingDown || !mainWindow) {
			break;
		}
		const QString name = normalizedSnapshotName(prompt->textValue());
		// Every answer is judged against the folder as it is now: the user may have changed it meanwhile.
		const NameCheckResult check = validateSnapshotName(snapshotDirectory, name, excludedPath, looked);
		if (check == NameCheckResult::NameAccepted) {
			return name;
		}
		prompt->setTextValue(name);
		reportError(nameCheckKey(check), QString());
		// The report ran a loop of its own: the prompt or the controller may be gone.
		if (!prompt || shuttingDown || !mainWindow) {
			break;
		}
	}
	return QString();
}

// Writes a new snapshot or one over oldPath, and uses up a look taken since the last event loop ran.
QString Velkin::storeSnapshot(const SnapshotData &data, const QString &oldPath, SnapshotFolder *looked)
{
	if (!ensureSnapshotDirectory()) {
		return QString();
	}
	// The checks, the write and the list that follows run without an event loop between them: one look at the
	// folder serves them all.
	SnapshotFolder folder = looked ? std::move(*looked) : readSnapshotFolder(snapshotDirectory);
	const bool replacesFile = !oldPath.isEmpty() && QFileInfo::exists(oldPath);
	if (!replacesFile && !checkSnapshotLimit(folder)) {
		return QString();
	}
	const NameCheckResult check = validateSnapshotName(folder, data.name, oldPath);
	if (check != NameCheckResult::NameAccepted) {
		reportError(nameCheckKey(check), QString());
		return QString();
	}

	const QString target = snapshotFilePath(snapshotDirectory, data.name);
	bool moved = false;
	if (!oldPath.isEmpty() && oldPath != target) {
		if (!QFile::rename(oldPath, target)) {
			reportError("RenameFailed", oldPath);
			return QString();
		}
		moved = true;
	}

	if (writeSnapshotFile(target, data) != SnapshotIoResult::Ok) {
		reportError("WriteFailed", target);
		if (moved && !QFile::rename(target, oldPath)) {
			reportError("RenameFailed", target);
			// The old content now lives under the new file name: everything that refers to it follows.
			moveSnapshotReferences(oldPath, target);
			refreshSnapshotList(target);
			saveSettings();
		}
		return QString();
	}

	if (oldPath.isEmpty()) {
		// A new snapshot starts clean, whatever an earlier one of the same file name left behind.
		forgetSnapshotReferences(target);
	} else if (moved) {
		moveSnapshotReferences(oldPath, target);
	}
	// The look brought up to date with what was written here, rather than taken again.
	const QFileInfo written(target);
	if (moved) {
		folder.forget(QFileInfo(oldPath).fileName());
	}
	folder.note(FolderEntry{written.fileName(), FolderEntry::Kind::Document, normalizedSnapshotName(data.name),
				written.lastModified()});
	refreshSnapshotList(target, &folder);
	return target;
}
