#pragma once

#include <QDialog>
#include <QPointer>

// A modal window made on the heap for one question: exec() runs its event loop, and the window is deleted when the
// holder goes, if it still exists then. Its parent may take it along during the loop, so test it (or the result of
// exec) before reading from it afterwards.
template <typename Window>
class ModalWindow {
public:
	explicit ModalWindow(Window *window) : pointer(window) {}
	~ModalWindow() { delete pointer.data(); }

	ModalWindow(const ModalWindow &) = delete;
	ModalWindow &operator=(const ModalWindow &) = delete;

	int exec() { return pointer ? pointer->exec() : int(QDialog::Rejected); }
	Window *operator->() const { return pointer.data(); }
	explicit operator bool() const { return !pointer.isNull(); }

private:
	QPointer<Window> pointer;
};
