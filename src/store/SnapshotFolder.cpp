#include "store/SnapshotFolder.hpp"
#include "store/SnapshotDocument.hpp"

#include <QDirListing>
#include <QFileInfo>

#include <algorithm>

qsizetype SnapshotFolder::documentCount() const
{
	return std::count_if(entries.cbegin(), entries.cend(),
			     [](const FolderEntry &entry) { return entry.kind == FolderEntry::Kind::Document; });
}

void SnapshotFolder::note(const FolderEntry &entry)
{
	forget(entry.fileName);
	entries.append(entry);
}

void SnapshotFolder::forget(const QString &fileName)
{
	entries.removeIf([&](const FolderEntry &entry) { return entry.fileName == fileName; });
}

SnapshotFolder readSnapshotFolder(const QString &directory)
{
	SnapshotFolder folder;
	folder.directory = directory;
	const QFileInfo info(directory);
	folder.listed = info.isDir() && info.isReadable();
	// Every kind of entry counts for a name; the listing tells a regular file from the rest without a look of its
	// own, so each document is looked at once, when it is opened.
	QByteArray buffer;
	using Flag = QDirListing::IteratorFlag;
	for (const QDirListing::DirEntry &listed :
	     QDirListing(directory, {QStringLiteral("*.json")}, Flag::Default | Flag::IncludeHidden)) {
		FolderEntry entry;
		entry.fileName = listed.fileName();
		// A FIFO or a device is never opened: that would block until a writer appears.
		if (listed.isFile()) {
			entry.kind = checkListedSnapshotFile(listed.filePath(), entry.name, entry.modified, &buffer) ==
						     SnapshotIoResult::Ok
					     ? FolderEntry::Kind::Document
					     : FolderEntry::Kind::Unreadable;
		}
		folder.entries.append(std::move(entry));
	}
	return folder;
}
