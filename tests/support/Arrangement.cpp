#include "support/Arrangement.hpp"

#include <QApplication>
#include <QDockWidget>
#include <QMap>
#include <QRect>

namespace {

QRect rectOf(const QString &text)
{
	const QStringList parts = text.split(QLatin1Char(','));
	if (parts.size() != 4) {
		return QRect();
	}
	return QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
}

// The first dock of that object name, anywhere under the window.
QDockWidget *dockNamed(QMainWindow *window, const QString &name)
{
	return name.isEmpty() ? nullptr : window->findChild<QDockWidget *>(name);
}

QString arrangeOne(QMainWindow *window, const QString &word)
{
	static const QMap<QString, Qt::DockWidgetArea> sides{{QStringLiteral("left"), Qt::LeftDockWidgetArea},
							     {QStringLiteral("right"), Qt::RightDockWidgetArea},
							     {QStringLiteral("top"), Qt::TopDockWidgetArea},
							     {QStringLiteral("bottom"), Qt::BottomDockWidgetArea}};
	const QStringList parts = word.split(QLatin1Char(':'));
	const QString &action = parts[0];
	if (action == QLatin1String("window")) {
		const QRect rect = rectOf(parts.value(1));
		if (!rect.isValid()) {
			return QStringLiteral("no rectangle in %1").arg(word);
		}
		window->setGeometry(rect);
		return QString();
	}
	QDockWidget *dock = dockNamed(window, parts.value(1));
	QDockWidget *other = dockNamed(window, parts.value(2));
	const bool needsOther = action == QLatin1String("split") || action == QLatin1String("tab");
	if (!dock || (needsOther && !other)) {
		return QStringLiteral("no dock in %1").arg(word);
	}
	if (action == QLatin1String("float")) {
		dock->show();
		dock->setFloating(true);
		const QRect rect = rectOf(parts.value(2));
		dock->setGeometry(rect.isValid() ? rect : QRect(900, 120, 420, 300));
	} else if (action == QLatin1String("hide")) {
		dock->hide();
	} else if (action == QLatin1String("show")) {
		dock->show();
	} else if (sides.contains(action)) {
		dock->setFloating(false);
		window->addDockWidget(sides.value(action), dock);
	} else if (action == QLatin1String("split")) {
		window->splitDockWidget(dock, other,
					parts.value(3) == QLatin1String("v") ? Qt::Vertical : Qt::Horizontal);
	} else if (action == QLatin1String("tab")) {
		window->tabifyDockWidget(dock, other);
	} else if (action == QLatin1String("width") || action == QLatin1String("height")) {
		window->resizeDocks({dock}, {parts.value(2).toInt()},
				    action == QLatin1String("width") ? Qt::Horizontal : Qt::Vertical);
	} else {
		return QStringLiteral("unknown action in %1").arg(word);
	}
	return QString();
}

} // namespace

QString arrangeDocks(QMainWindow *window, const QStringList &words)
{
	for (const QString &word : words) {
		const QString error = arrangeOne(window, word);
		if (!error.isEmpty()) {
			return error;
		}
		QApplication::processEvents();
	}
	return QString();
}
