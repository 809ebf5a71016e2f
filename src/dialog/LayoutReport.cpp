// Built into test builds only: on request, the shown manager reports in the log its size and, for every button and
// every shown label, the room that its text has and the room that the text takes, when it opens and after each change
// of the search, so that the real-host checks can judge a translation in OBS's own theme and fonts.
#include "base/Log.hpp"
#include "module/Velkin.hpp"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// The width that the style leaves for a push button's text: the button's width less what the style adds around its
// contents (measured at a width beyond any minimum that the style sets) and less its icon.
int buttonTextRoom(const QPushButton *button)
{
	QStyleOptionButton option;
	option.initFrom(button);
	option.features = QStyleOptionButton::None;
	if (button->isFlat()) {
		option.features |= QStyleOptionButton::Flat;
	}
	if (button->autoDefault()) {
		option.features |= QStyleOptionButton::AutoDefaultButton;
	}
	if (button->isDefault()) {
		option.features |= QStyleOptionButton::DefaultButton;
	}
	option.text = button->text();
	option.icon = button->icon();
	option.iconSize = button->iconSize();
	constexpr int kWide = 10000;
	const QSize contents(kWide, button->fontMetrics().height());
	const int added =
		button->style()->sizeFromContents(QStyle::CT_PushButton, &option, contents, button).width() - kWide;
	// QPushButton puts its icon 4 pixels before the text.
	const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
	return button->width() - added - icon;
}

// The rectangle in which a label lays out its text: inside its frame and its margin, less its indent.
QRect labelTextRoom(const QLabel *label)
{
	const int margin = label->margin();
	QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
	int indent = label->indent();
	if (indent < 0 && label->frameWidth() > 0) {
		indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
	}
	room.setWidth(room.width() - std::max(0, indent));
	return room;
}

// The size that a label's text takes when laid out as the label lays it out, wrapped at the given width when the
// label wraps: its widest line (a word wider than the width sticks out) and its height.
QSize labelTextSize(const QLabel *label, int width)
{
	const bool rich = label->textFormat() == Qt::RichText ||
			  (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
	if (rich) {
		QTextDocument document;
		document.setDefaultFont(label->font());
		document.setDocumentMargin(0);
		QTextOption option = document.defaultTextOption();
		option.setWrapMode(label->wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
		document.setDefaultTextOption(option);
		document.setHtml(label->text());
		document.setTextWidth(label->wordWrap() ? width : -1);
		return QSize(int(std::ceil(document.idealWidth())), int(std::ceil(document.size().height())));
	}
	const int flags = Qt::AlignLeft | Qt::AlignTop | (label->wordWrap() ? Qt::TextWordWrap : 0);
	return QFontMetrics(label->font())
		.boundingRect(QRect(0, 0, label->wordWrap() ? width : QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), flags,
			      label->text())
		.size();
}

// A label's text on one line of the log, without markup.
QByteArray loggedText(const QLabel *label)
{
	QTextDocument document;
	if (label->textFormat() == Qt::PlainText) {
		document.setPlainText(label->text());
	} else {
		document.setHtml(label->text());
	}
	return document.toPlainText().simplified().toUtf8();
}

void writeReport(const QDialog *dialog)
{
	velkinLog(LOG_INFO, "Dialog report: dialog width %d height %d", dialog->width(), dialog->height());
	const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
	for (const QPushButton *button : buttons) {
		const QPoint centre = button->mapTo(dialog, button->rect().center());
		const int text = QFontMetrics(button->font()).size(Qt::TextShowMnemonic, button->text()).width();
		velkinLog(LOG_INFO, "Dialog report: button \"%s\" width %d room %d text %d at %d,%d",
			  button->text().toUtf8().constData(), button->width(), buttonTextRoom(button), text,
			  centre.x(), centre.y());
	}
	const QList<QLabel *> labels = dialog->findChildren<QLabel *>();
	for (const QLabel *label : labels) {
		if (!label->isVisible()) {
			continue;
		}
		const QRect room = labelTextRoom(label);
		const QSize text = labelTextSize(label, room.width());
		const QRect inDialog(label->mapTo(dialog, QPoint(0, 0)), label->size());
		velkinLog(LOG_INFO, "Dialog report: label \"%s\" wraps %d room %dx%d text %dx%d left %d right %d of %d",
			  loggedText(label).constData(), int(label->wordWrap()), room.width(), room.height(),
			  text.width(), text.height(), inDialog.left(), inDialog.right(), dialog->width());
	}
	velkinLog(LOG_INFO, "Dialog report: end");
}

} // namespace

void Velkin::reportDialogLayout()
{
	if (!qEnvironmentVariableIsSet("VELKIN_DIALOG_REPORT") || !managerDialog) {
		return;
	}
	// Once the dialog has been laid out and painted.
	QTimer::singleShot(500, managerDialog, [dialog = managerDialog] { writeReport(dialog); });
	// Again after each change of the search, which shows or hides the note that nothing matches.
	if (searchEdit && !searchEdit->property("velkinReports").toBool()) {
		searchEdit->setProperty("velkinReports", true);
		QObject::connect(searchEdit, &QLineEdit::textChanged, managerDialog, [dialog = managerDialog] {
			QTimer::singleShot(500, dialog, [dialog] { writeReport(dialog); });
		});
	}
}
