#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// What one look at the snapshot folder found: every entry whose name ends in ".json" in any case, and for each
// regular file (or link to one) whether it holds a valid document. The checks of one uninterrupted stretch of work
// share one look; nothing keeps it beyond that.
struct FolderEntry {
	enum class Kind { Document, Unreadable, Other };
	QString fileName;
	Kind kind = Kind::Other;
	// A document's display name and its file's modification time.
	QString name;
	QDateTime modified;
};

struct SnapshotFolder {
	QString directory;
	QList<FolderEntry> entries;
	// Whether the folder was there to be listed: no entries then means an empty folder, not an unknown one.
	bool listed = false;

	qsizetype documentCount() const;
	// An entry that the folder gained after the look, or a changed one: the look is brought up to date without
	// a second one.
	void note(const FolderEntry &entry);
	void forget(const QString &fileName);
};

// Lists the folder once and checks every document in it. A folder that is missing or cannot be listed gives no
// entries and is not `listed`.
SnapshotFolder readSnapshotFolder(const QString &directory);
