#pragma once

#include <QString>

struct SnapshotFolder;

enum class NameCheckResult {
	NameAccepted = 0,
	NameInvalid = 1,
	NameDuplicate = 2,
};

constexpr char kSnapshotFileSuffix[] = ".json";

// A name as the user typed or a document stored it, in the form every rule judges: trimmed, then NFC.
QString normalizedSnapshotName(const QString &text);

// Two names are the same snapshot exactly when these keys are equal: case-folded, then NFC.
QString snapshotNameKey(const QString &name);

// Judges a trimmed, NFC name: its form (a legal Windows file name on its own) and whether another snapshot in
// the directory has it already. The file at excludedPath, the snapshot being renamed or overwritten, never counts.
// `looked`, when given, receives the look at the folder when one was taken.
NameCheckResult validateSnapshotName(const QString &directory, const QString &name, const QString &excludedPath,
				     SnapshotFolder *looked = nullptr);
// The same against a look at the folder that was taken already.
NameCheckResult validateSnapshotName(const SnapshotFolder &folder, const QString &name, const QString &excludedPath);

// Whether the text can only name a file directly in a folder: not empty, not "." or "..", no separator of any
// system and no NUL. Names that come from outside (a file, a remote request) are checked with it before they are
// joined to a folder.
bool isPlainFileName(const QString &name);

// The file of an accepted name: the name verbatim, followed by ".json", in the directory.
QString snapshotFilePath(const QString &directory, const QString &name);

// The one spelling the module holds a path in: absolute (against the working folder) and cleaned of doubled and
// trailing separators, "." and "..". Links are kept: a folder reached through a link stays that path. An empty
// path stays empty.
QString normalizedPath(const QString &path);
