#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

// What a modal box or prompt looked like when it opened.
struct ModalRecord {
	QString title;
	QString text;  // a message box's text, a prompt's label
	QString value; // a prompt's text value
	QMessageBox::Icon icon = QMessageBox::NoIcon;
	QWidget *parent = nullptr;
	QStringList buttons;
	QString defaultButton;
	Qt::TextFormat textFormat = Qt::AutoText;
	Qt::WindowFlags flags;
	bool isPrompt = false;
};

using ModalAnswer = std::function<void(QWidget *)>;

// Runs `work`, answering every modal box or prompt that opens meanwhile, and returns what they showed.
QList<ModalRecord> answerModals(const ModalAnswer &answer, const std::function<void()> &work);

// Answers the first modal with the first answer, the second with the second, and so on; later ones get the last.
ModalAnswer inOrder(std::initializer_list<ModalAnswer> answers);

// Ready-made answers.
void clickAccept(QWidget *modal); // Continue in a question, the OK button of a prompt
void clickReject(QWidget *modal); // Cancel
void pressEscape(QWidget *modal);
void clickOk(QWidget *modal);                // the OK of an error box
ModalAnswer typeName(const QString &text);   // fills a prompt and accepts it
ModalAnswer chooseFile(const QString &path); // picks a file in a file dialog and accepts it
