#pragma once

#include <QString>

#include <sys/mount.h>

// A small tmpfs mounted over a folder for as long as the object lives, to make writes run out of space.
// The test scripts run every test in a private mount namespace, so the mount never leaks out.
struct SmallDisk {
	SmallDisk(const QString &folder, const char *size)
	    : at(folder), mounted(mount("tmpfs", folder.toUtf8().constData(), "tmpfs", 0,
					(QByteArray("size=") + size).constData()) == 0)
	{
	}
	~SmallDisk()
	{
		if (mounted) {
			umount2(at.toUtf8().constData(), MNT_DETACH);
		}
	}
	SmallDisk(const SmallDisk &) = delete;
	SmallDisk &operator=(const SmallDisk &) = delete;

	const QString at;
	const bool mounted;
};
