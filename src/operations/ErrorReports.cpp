#include "base/Log.hpp"
#include "module/Velkin.hpp"
#include "operations/ModalWindow.hpp"
#include "store/SnapshotCatalogue.hpp"
#include "store/SnapshotFolder.hpp"

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

constexpr Qt::WindowFlags kBoxFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;

} // namespace

void Velkin::logError(const char *key, const QString &detail)
{
	velkinLog(LOG_WARNING, "%s: %s", key, detail.toUtf8().constData());
}

void Velkin::reportError(const char *key, const QString &detail)
{
	logError(key, detail);
	if (remote.keepQuiet(key)) {
		return;
	}
	if (shuttingDown || !mainWindow) {
		return;
	}
	QWidget *parent = managerDialog ? static_cast<QWidget *>(managerDialog) : static_cast<QWidget *>(mainWindow);
	QString text = localeText(key);
	if (!detail.isEmpty()) {
		text += QStringLiteral("\n\n") + detail;
	}
	ModalWindow<QMessageBox> box(
		new QMessageBox(QMessageBox::Warning, localeText("Title"), text, QMessageBox::Ok, parent, kBoxFlags));
	box->setTextFormat(Qt::PlainText);
	box.exec();
}

bool Velkin::confirmAction(const QString &text, bool continueIsDefault)
{
	ModalWindow<QMessageBox> box(new QMessageBox(QMessageBox::Question, localeText("Title"), text,
						     QMessageBox::NoButton, managerDialog.data(), kBoxFlags));
	box->setTextFormat(Qt::PlainText);
	QPushButton *continueButton = box->addButton(localeText("Continue"), QMessageBox::AcceptRole);
	QPushButton *cancelButton = box->addButton(localeText("Cancel"), QMessageBox::RejectRole);
	box->setDefaultButton(continueIsDefault ? continueButton : cancelButton);
	box.exec();
	return box && !shuttingDown && box->clickedButton() == continueButton;
}

bool Velkin::ensureSnapshotDirectory()
{
	if (!snapshotDirectory.isEmpty() && !settingsPath.isEmpty() && QDir().mkpath(snapshotDirectory) &&
	    QFileInfo(snapshotDirectory).isDir()) {
		return true;
	}
	reportError("DirectoryFailed", QString());
	return false;
}

bool Velkin::checkSnapshotLimit()
{
	return checkSnapshotLimit(readSnapshotFolder(snapshotDirectory));
}

bool Velkin::checkSnapshotLimit(const SnapshotFolder &folder)
{
	if (folder.documentCount() < kMaxSnapshots) {
		return true;
	}
	reportError("SnapshotLimit", QString());
	return false;
}
