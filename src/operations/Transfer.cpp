#include "base/Log.hpp"
#include "module/Velkin.hpp"
#include "operations/ModalWindow.hpp"
#include "operations/OperationGuard.hpp"
#include "store/SnapshotDocument.hpp"
#include "store/SnapshotNames.hpp"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMainWindow>
#include <QUrl>

QString Velkin::chooseSnapshotFile(FileDialogMode mode, const QString &suggestedName)
{
	const bool exporting = mode == FileDialogMode::Export;
	ModalWindow<QFileDialog> dialog(new QFileDialog(managerDialog.data(),
							localeText(exporting ? "Export" : "Import"), QString(),
							localeText("FileFilter")));
	dialog->setAcceptMode(exporting ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
	dialog->setFileMode(exporting ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
	dialog->setDefaultSuffix(QStringLiteral("json"));
	if (!suggestedName.isEmpty()) {
		dialog->selectFile(suggestedName);
	}
	const int result = dialog.exec();
	QString chosen;
	if (result == QDialog::Accepted && dialog && !shuttingDown && mainWindow) {
		const QStringList files = dialog->selectedFiles();
		chosen = files.isEmpty() ? QString() : files.first();
	}
	return chosen;
}

void Velkin::exportSnapshot()
{
	const OperationGuard guard(*this);
	const auto selected = guard ? readSelectedSnapshot() : std::nullopt;
	const QString target = selected ? chooseSnapshotFile(FileDialogMode::Export,
							     selected->data.name + QLatin1String(kSnapshotFileSuffix))
					: QString();
	if (target.isEmpty()) {
		return;
	}
	if (writeSnapshotFile(target, selected->data) != SnapshotIoResult::Ok) {
		reportError("WriteFailed", target);
	}
}

void Velkin::importSnapshot()
{
	const OperationGuard guard(*this);
	if (!guard || !checkSnapshotLimit()) {
		return;
	}
	const QString source = chooseSnapshotFile(FileDialogMode::Import, QString());
	if (source.isEmpty()) {
		return;
	}
	SnapshotData data;
	if (readSnapshotFile(source, data) != SnapshotIoResult::Ok) {
		reportError("ReadFailed", source);
		return;
	}
	if (!storeSnapshot(data, QString()).isEmpty()) {
		saveSettings();
	}
}

void Velkin::openSnapshotFolder()
{
	if (!ensureSnapshotDirectory()) {
		return;
	}
	if (!QDesktopServices::openUrl(QUrl::fromLocalFile(snapshotDirectory))) {
		reportError("OpenFolderFailed", snapshotDirectory);
	}
}
