#include "support/Modal.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>

#include <memory>
#include <vector>

QList<ModalRecord> answerModals(const ModalAnswer &answer, const std::function<void()> &work)
{
	QList<ModalRecord> records;
	QPointer<QWidget> answered;
	const int baseLevel = QThread::currentThread()->loopLevel();
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
		// Answer only from inside the modal's own event loop: a timer can also fire while the modal is being
		// shown, before exec() has started its loop, and an answer then would leave exec() waiting for ever.
		int modals = 0;
		for (QWidget *widget : QApplication::topLevelWidgets()) {
			modals += widget->isVisible() && widget->isModal();
		}
		if (QThread::currentThread()->loopLevel() < baseLevel + modals) {
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
		} else if (auto *files = qobject_cast<QFileDialog *>(modal)) {
			record.isPrompt = true;
			record.text = QString::number(int(files->acceptMode()));
			record.value = files->selectedFiles().value(0);
			record.buttons = files->nameFilters();
		} else if (auto *prompt = qobject_cast<QInputDialog *>(modal)) {
			record.isPrompt = true;
			record.text = prompt->labelText();
			record.value = prompt->textValue();
			record.buttons = {prompt->okButtonText(), prompt->cancelButtonText()};
		}
		records.append(record);
		if (qEnvironmentVariableIsSet("VELKIN_TEST_VERBOSE")) {
			fprintf(stderr, "modal %s: %s\n", modal->metaObject()->className(), qPrintable(record.text));
		}
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

ModalAnswer chooseFile(const QString &path)
{
	return [path](QWidget *modal) {
		auto *dialog = qobject_cast<QFileDialog *>(modal);
		if (!dialog) {
			return;
		}
		const auto choose = [dialog, path] {
			// Typed into the file name field as a person would; selectFile() leaves a focused field alone.
			dialog->selectFile(path);
			if (auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
				field->setText(path);
			}
			// QFileDialog's own accept (checks, default suffix) through the public QDialog slot.
			static_cast<QDialog *>(dialog)->accept();
		};
		choose();
		// The widget dialog finishes setting itself up after it shows and may overwrite a choice made too
		// early: choose again until it has closed. The timer goes with the dialog.
		auto *retry = new QTimer(dialog);
		QObject::connect(retry, &QTimer::timeout, dialog, [dialog, choose] {
			if (dialog->isVisible()) {
				choose();
			}
		});
		retry->start(100);
	};
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
