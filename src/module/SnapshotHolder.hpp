#pragma once

#include <QString>

// A feature that holds snapshot paths or file names (rules, kept layouts, pictures). Every rename and every delete
// reaches each holder through these two calls, so none is left holding a file that moved or went.
class SnapshotHolder {
public:
	// The file at oldPath is now at newPath. Whatever was held under newPath belonged to a file that is gone.
	virtual void snapshotRenamed(const QString &oldPath, const QString &newPath) = 0;
	// The file at path is gone, or a new snapshot takes its file name: nothing held of the old one carries over.
	virtual void snapshotDeleted(const QString &path) = 0;

protected:
	~SnapshotHolder() = default;
};
