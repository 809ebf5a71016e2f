#include "dialog/LayoutPicture.hpp"
#include "module/Velkin.hpp"

#include <QBuffer>
#include <QDockWidget>
#include <QFileInfo>
#include <QMainWindow>

QString Velkin::layoutPictureHtml(const QString &path)
{
	// Drawn on first hover and kept while the file is unchanged: a refresh draws nothing.
	const QDateTime modified = QFileInfo(path).fileTime(QFileDevice::FileModificationTime);
	const auto cached = layoutPictures.constFind(path);
	if (cached != layoutPictures.cend() && cached->modified == modified) {
		return cached->html;
	}
	QString html;
	SnapshotData data;
	if (mainWindow && modified.isValid() && readSnapshotFile(path, data) == SnapshotIoResult::Ok) {
		QHash<QString, QString> titles;
		for (const QDockWidget *dock : mainWindow->findChildren<QDockWidget *>()) {
			titles.insert(dock->objectName(), dock->windowTitle());
		}
		const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titles);
		QByteArray png;
		QBuffer buffer(&png);
		if (geometry && buffer.open(QIODevice::WriteOnly) &&
		    drawLayoutPicture(*geometry).save(&buffer, "PNG")) {
			html = QStringLiteral("<img src=\"data:image/png;base64,%1\">")
				       .arg(QLatin1String(png.toBase64()));
		}
	}
	// A snapshot that cannot be drawn keeps its plain tool tip.
	layoutPictures.insert(path, LayoutPicture{modified, html});
	return html;
}

QString Velkin::toolTipWithPicture(const QString &path, const QString &text)
{
	const QString picture = layoutPictureHtml(path);
	if (picture.isEmpty()) {
		return text;
	}
	return QStringLiteral("<qt>%1<br>%2</qt>")
		.arg(picture, text.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
}
