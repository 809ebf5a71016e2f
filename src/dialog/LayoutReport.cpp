// Built into test builds only: on request, the shown manager reports in the log whether its texts fit, so that
// the real-host checks can judge a translation in OBS's own theme and fonts.
#include "module/Module.hpp"
#include "module/Velkin.hpp"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

void Velkin::reportDialogLayout()
{
	if (!qEnvironmentVariableIsSet("VELKIN_DIALOG_REPORT") || !managerDialog) {
		return;
	}
	// Once the dialog has been laid out and painted.
	QTimer::singleShot(500, managerDialog, [dialog = managerDialog] {
		const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
		for (const QPushButton *button : buttons) {
			const QPoint centre = button->mapTo(dialog, button->rect().center());
			velkinLog(LOG_INFO, "Dialog report: button \"%s\" width %d needs %d at %d,%d",
				  button->text().toUtf8().constData(), button->width(), button->sizeHint().width(),
				  centre.x(), centre.y());
		}
		const QList<QLabel *> labels = dialog->findChildren<QLabel *>();
		for (const QLabel *label : labels) {
			if (!label->wordWrap() || !label->isVisible()) {
				continue;
			}
			const QRect inDialog(label->mapTo(dialog, QPoint(0, 0)), label->size());
			velkinLog(LOG_INFO,
				  "Dialog report: wrapped text of %d lines, left %d right %d of %d, height %d needs %d",
				  label->height() / std::max(1, label->fontMetrics().lineSpacing()), inDialog.left(),
				  inDialog.right(), dialog->width(), label->height(),
				  label->heightForWidth(label->width()));
		}
	});
}
