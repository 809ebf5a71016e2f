#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

// What a modal message box looked like when it opened.
struct ModalRecord {
	QString title;
	QString text;
	QMessageBox::Icon icon = QMessageBox::NoIcon;
	QWidget *parent = nullptr;
	QStringList buttons;
	QString defaultButton;
	Qt::TextFormat textFormat = Qt::AutoText;
	Qt::WindowFlags flags;
};

// Runs `work`, answering every message box that opens meanwhile with `answer`, and returns what they showed.
QList<ModalRecord> answerModals(const std::function<void(QMessageBox *)> &answer, const std::function<void()> &work);

// Ready-made answers.
void clickAccept(QMessageBox *box);
void clickReject(QMessageBox *box);
void pressEscape(QMessageBox *box);
void clickOk(QMessageBox *box);
