#pragma once

#include "module/FeatureHost.hpp"
#include "module/SnapshotHolder.hpp"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class QAction;
class QMenu;

// What the Dock Layouts menu asks of the controller besides the catalogue, loads and undo.
class MenuHost : public virtual CatalogueHost {
public:
	// A snapshot's tool tip as the manager's row has it.
	virtual QString snapshotToolTip(const SnapshotEntry &entry) const = 0;
	virtual void showManagerDialog() = 0;
	virtual void saveNewSnapshot() = 0;
	// The option of keeping the layout on screen across restarts.
	virtual bool keepsLayout() const = 0;
	virtual void setKeepsLayout(bool enabled) = 0;

protected:
	~MenuHost() = default;
};

// The Dock Layouts submenu in OBS's Docks menu (or the Tools menu), built each time it is about to show, and the
// pictures of the snapshots' layouts that its rows and the manager's rows show beside their tool tips.
class LayoutsMenu : public QObject, public SnapshotHolder {
	friend struct VelkinProbe;

public:
	static constexpr qsizetype kRows = 20;

	explicit LayoutsMenu(MenuHost &host);

	// Adds the submenu at activation; takes it away at shutdown.
	void add();
	void remove();

	// A picture of the snapshot's layout, drawn at the pixel ratio, as rich text for a tool tip, or nothing when it
	// cannot be drawn; a row's tool tip as rich text, with that picture above its escaped text; and dropping the
	// pictures of every file but those listed.
	QString pictureHtml(const QString &path, qreal devicePixelRatio);
	QString toolTipWithPicture(const QString &path, const QString &text, qreal devicePixelRatio);
	void keepPictures(const QSet<QString> &paths);

	void snapshotRenamed(const QString &oldPath, const QString &newPath) override;
	void snapshotDeleted(const QString &path) override;

private:
	// A picture drawn, with the modification time and size of the file it was drawn from and the key of the style
	// it was drawn in.
	struct Picture {
		QDateTime modified;
		qint64 size = -1;
		size_t style = 0;
		QString html;
	};

	void fill();

	MenuHost &host;
	QPointer<QMenu> menu;
	QPointer<QAction> menuAction;
	QPointer<QAction> separator;
	QHash<QString, Picture> pictures;
};
