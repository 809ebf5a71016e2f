#include "operations/StudioModeGuard.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>

void finishStudioModeTeardown(QMainWindow *window)
{
	if (!window) {
		return;
	}
	// OBS 32 keeps its preview and program views equally wide with an observer. When the views' area shrinks, as
	// it does when a load widens the docks beside it, the observer sets both views' widths again a millisecond
	// later, without looking whether they are still there. Studio mode switched off within that millisecond (a
	// deck button that loads a layout and leaves studio mode at once) deletes the program view and asks for the
	// observer's deletion, and its timer then crashes OBS. Carrying out the deletion that OBS asked for now, while
	// OBS reports the switch, takes the timer with it. An observer that OBS keeps has no deletion pending and
	// stays.
	const QList<QObject *> children = window->findChildren<QObject *>(Qt::FindDirectChildrenOnly);
	for (QObject *child : children) {
		if (qstrcmp(child->metaObject()->className(), "PreviewProgramSizeObserver") == 0) {
			QCoreApplication::sendPostedEvents(child, QEvent::DeferredDelete);
		}
	}
}
