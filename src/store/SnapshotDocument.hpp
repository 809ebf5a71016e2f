#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <obs-config.h>

#define VELKIN_STRINGIFY_(x) #x
#define VELKIN_STRINGIFY(x)  VELKIN_STRINGIFY_(x)

// One snapshot in memory: the main window's dock state and geometry and the dock names present at capture.
struct SnapshotData {
	QString name;
	QByteArray state;
	QByteArray geometry;
	QStringList docks;
};

enum class SnapshotIoResult {
	Ok = 0,
	OpenError = 1,
	Invalid = 2,
	TooLarge = 3,
	WriteError = 4,
};

constexpr int kSnapshotFormatVersion = 1;
constexpr char kSnapshotFormatTag[] = "obs-velkin";
// The libobs version the module is built against, so a document records the host it came from.
constexpr char kHostVersionString[] = VELKIN_STRINGIFY(LIBOBS_API_MAJOR_VER) "." VELKIN_STRINGIFY(
	LIBOBS_API_MINOR_VER) "." VELKIN_STRINGIFY(LIBOBS_API_PATCH_VER);
constexpr qint64 kMaxSnapshotFileBytes = 2097152;
constexpr int kMaxSnapshotNameLength = 80;

// Reads and checks a snapshot document. On Ok the record is replaced; otherwise it is left untouched.
// Only regular files (or links to them) are opened, so a FIFO or a device never blocks the caller.
SnapshotIoResult readSnapshotFile(const QString &path, SnapshotData &data);
// Checks the document of a file that a folder listing found to be a regular file, as strictly as
// readSnapshotFile, without decoding its layout. On Ok it gives the document's name and the file's modification
// time, taken from the open file. `buffer`, when given, is scratch space that keeps its capacity from one file to
// the next.
SnapshotIoResult checkListedSnapshotFile(const QString &path, QString &name, QDateTime &modified,
					 QByteArray *buffer = nullptr);

// Writes the document for the record atomically; a failed write leaves any previous file as it was.
SnapshotIoResult writeSnapshotFile(const QString &path, const SnapshotData &data);
