#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

struct SnapshotFolder;

// One row of the catalogue: a readable snapshot document in the snapshot directory.
struct SnapshotEntry {
	QString fileName;
	QString name;
	QDateTime modified;
};

constexpr int kMaxSnapshots = 1000;

// Builds the catalogue afresh: the files named in the order first, then the rest by display name in the
// current locale, at most kMaxSnapshots entries. The counters, when given, receive the number of unreadable
// files and the number of readable files beyond the limit.
QList<SnapshotEntry> scanSnapshots(const QString &directory, const QStringList &order, int *unreadable = nullptr,
				   int *overflow = nullptr);
// The same from a look at the folder that was taken already.
QList<SnapshotEntry> scanSnapshots(const SnapshotFolder &folder, const QStringList &order, int *unreadable = nullptr,
				   int *overflow = nullptr);

// A modification time as the rows show it, "yyyy-MM-dd HH:mm" in local time; the tool tip adds ":ss".
QString modifiedText(const QDateTime &local);
QString modifiedSeconds(const QDateTime &local);
