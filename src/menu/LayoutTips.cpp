#include "base/Log.hpp"
#include "menu/LayoutPicture.hpp"
#include "menu/LayoutsMenu.hpp"
#include "operations/LayoutCapture.hpp"

#include <QApplication>
#include <QBuffer>
#include <QDockWidget>
#include <QFileInfo>
#include <QMainWindow>
#include <QToolTip>

namespace {

// What a picture is drawn with now: the theme's colours, the tool tip's font, the labels and the pixel ratio.
LayoutPictureStyle currentPictureStyle(qreal devicePixelRatio)
{
	LayoutPictureStyle style;
	style.palette = QApplication::palette();
	style.font = QToolTip::font();
	style.previewText = localeText("PicturePreview");
	style.missingText = localeText("PictureMissing");
	style.devicePixelRatio = devicePixelRatio;
	return style;
}

size_t styleKey(const LayoutPictureStyle &style)
{
	size_t key = qHashMulti(0, style.font.toString(), style.previewText, style.missingText,
				qRound(style.devicePixelRatio * 100));
	for (const QPalette::ColorRole role :
	     {QPalette::Window, QPalette::WindowText, QPalette::Mid, QPalette::Dark, QPalette::Highlight,
	      QPalette::Button, QPalette::ButtonText, QPalette::Shadow}) {
		key = qHashMulti(key, style.palette.color(role).rgba());
	}
	return key;
}

} // namespace

QString LayoutsMenu::pictureHtml(const QString &path, qreal devicePixelRatio)
{
	// Drawn on first hover and kept while the file, the theme and the screen's pixel ratio stay: a refresh draws
	// nothing.
	const QFileInfo file(path);
	const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
	const qint64 size = file.size();
	const LayoutPictureStyle style = currentPictureStyle(devicePixelRatio);
	const size_t key = styleKey(style);
	const auto cached = pictures.constFind(path);
	if (cached != pictures.cend() && cached->modified == modified && cached->size == size && cached->style == key) {
		return cached->html;
	}
	QString html;
	SnapshotData data;
	QMainWindow *window = host.window();
	if (window && modified.isValid() && readSnapshotFile(path, data) == SnapshotIoResult::Ok) {
		QHash<QString, QString> titles;
		const QList<QDockWidget *> docks = ownDocks(window);
		for (const QDockWidget *dock : docks) {
			titles.insert(dock->objectName(), dock->windowTitle());
		}
		const std::optional<LayoutPictureGeometry> geometry = layoutPictureGeometry(data, titles);
		QByteArray png;
		QBuffer buffer(&png);
		if (geometry) {
			const QImage picture = drawLayoutPicture(*geometry, style);
			const QSizeF logical = picture.deviceIndependentSize();
			if (!picture.isNull() && buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG")) {
				// Drawn at the screen's pixel ratio, shown at its logical size.
				html = QStringLiteral(
					       "<img src=\"data:image/png;base64,%1\" width=\"%2\" height=\"%3\">")
					       .arg(QLatin1String(png.toBase64()))
					       .arg(qRound(logical.width()))
					       .arg(qRound(logical.height()));
			}
		}
	}
	// A snapshot that cannot be drawn keeps its plain tool tip.
	pictures.insert(path, Picture{modified, size, key, html});
	return html;
}

QString LayoutsMenu::toolTipWithPicture(const QString &path, const QString &text, qreal devicePixelRatio)
{
	// Always rich text, with the text escaped: a snapshot's name is never read as markup.
	const QString escaped =
		QStringLiteral("<div style=\"white-space:pre-wrap\">%1</div>").arg(text.toHtmlEscaped());
	const QString picture = pictureHtml(path, devicePixelRatio);
	if (picture.isEmpty()) {
		return QStringLiteral("<qt>%1</qt>").arg(escaped);
	}
	return QStringLiteral("<qt>%1%2</qt>").arg(picture, escaped);
}

void LayoutsMenu::keepPictures(const QSet<QString> &paths)
{
	pictures.removeIf([&paths](const auto &entry) { return !paths.contains(entry.key()); });
}

void LayoutsMenu::snapshotRenamed(const QString &oldPath, const QString &newPath)
{
	// The moved file is drawn anew under its new path; a picture under that path was of a file that is gone.
	pictures.remove(oldPath);
	pictures.remove(newPath);
}

void LayoutsMenu::snapshotDeleted(const QString &path)
{
	pictures.remove(path);
}
