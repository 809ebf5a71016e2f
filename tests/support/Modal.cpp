#include "support/Modal.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <memory>
#include <vector>

QList<ModalRecord> answerModals(const ModalAnswer &answer, const std::function<void()> &work)
{
	QList<ModalRecord> records;
	QPointer<QWidget> answered;
	QTimer poll;
	poll.setInterval(5);
	QObject::connect(&poll, &QTimer::timeout, [&] {
		QWidget *modal = QApplication::activeModalWidget();
		if (!modal || !modal->isVisible()) {
			return;
		}
		if (modal == answered) {
			return;
		}
		answered = modal;
		ModalRecord record;
		record.title = modal->windowTitle();
		record.parent = modal->parentWidget();
		record.flags = modal->windowFlags();
		if (auto *box = qobject_cast<QMessageBox *>(modal)) {
			record.text = box->text();
			record.icon = box->icon();
			for (QAbstractButton *button : box->buttons()) {
				record.buttons.append(button->text());
			}
			record.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
			record.textFormat = box->textFormat();
		} else if (auto *prompt = qobject_cast<QInputDialog *>(modal)) {
			record.isPrompt = true;
			record.text = prompt->labelText();
			record.value = prompt->textValue();
			record.buttons = {prompt->okButtonText(), prompt->cancelButtonText()};
		}
		records.append(record);
		answer(modal);
	});
	// A modal that closes and opens again (a prompt shown anew) counts as a new one.
	QTimer reset;
	reset.setInterval(1);
	QObject::connect(&reset, &QTimer::timeout, [&] {
		if (answered && !answered->isVisible()) {
			answered = nullptr;
		}
	});
	poll.start();
	reset.start();
	work();
	return records;
}

ModalAnswer inOrder(std::initializer_list<ModalAnswer> answers)
{
	auto list = std::make_shared<std::vector<ModalAnswer>>(answers);
	auto next = std::make_shared<size_t>(0);
	return [list, next](QWidget *modal) {
		const size_t index = std::min(*next, list->size() - 1);
		++*next;
		(*list)[index](modal);
	};
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

void clickAccept(QWidget *modal)
{
	if (auto *box = qobject_cast<QMessageBox *>(modal)) {
		clickRole(box, QMessageBox::AcceptRole);
	} else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
		dialog->accept();
	}
}

void clickReject(QWidget *modal)
{
	if (auto *box = qobject_cast<QMessageBox *>(modal)) {
		clickRole(box, QMessageBox::RejectRole);
	} else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
		dialog->reject();
	}
}

void pressEscape(QWidget *modal)
{
	QTest::keyClick(modal, Qt::Key_Escape);
}

void clickOk(QWidget *modal)
{
	if (auto *box = qobject_cast<QMessageBox *>(modal)) {
		if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
			ok->click();
		}
	}
}

ModalAnswer typeName(const QString &text)
{
	return [text](QWidget *modal) {
		if (auto *prompt = qobject_cast<QInputDialog *>(modal)) {
			prompt->setTextValue(text);
			prompt->accept();
		}
	};
}
