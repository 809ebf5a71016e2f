#include "support/Modal.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

QList<ModalRecord> answerModals(const std::function<void(QMessageBox *)> &answer, const std::function<void()> &work)
{
	QList<ModalRecord> records;
	QPointer<QMessageBox> answered;
	QTimer poll;
	poll.setInterval(5);
	QObject::connect(&poll, &QTimer::timeout, [&] {
		auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
		if (!box || box == answered || !box->isVisible()) {
			return;
		}
		answered = box;
		ModalRecord record;
		record.title = box->windowTitle();
		record.text = box->text();
		record.icon = box->icon();
		record.parent = box->parentWidget();
		for (QAbstractButton *button : box->buttons()) {
			record.buttons.append(button->text());
		}
		record.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
		record.textFormat = box->textFormat();
		record.flags = box->windowFlags();
		records.append(record);
		answer(box);
	});
	poll.start();
	work();
	return records;
}

static void clickRole(QMessageBox *box, QMessageBox::ButtonRole role)
{
	for (QAbstractButton *button : box->buttons()) {
		if (box->buttonRole(button) == role) {
			button->click();
			return;
		}
	}
}

void clickAccept(QMessageBox *box)
{
	clickRole(box, QMessageBox::AcceptRole);
}

void clickReject(QMessageBox *box)
{
	clickRole(box, QMessageBox::RejectRole);
}

void pressEscape(QMessageBox *box)
{
	QTest::keyClick(box, Qt::Key_Escape);
}

void clickOk(QMessageBox *box)
{
	if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
		ok->click();
	}
}
