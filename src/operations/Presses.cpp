#include "module/Velkin.hpp"

#include <QFileInfo>

void Velkin::cycleSnapshot(int step)
{
	// Counted from where the presses before it lead, as if each of them had loaded already.
	const QString target = cycleTarget(presses.leadFrom(last), step);
	if (!target.isEmpty()) {
		pressLoad(target);
	}
}

// The snapshot `step` places from the one at `from` in the order; from a snapshot that is not listed, next is the
// first and previous the last.
QString Velkin::cycleTarget(const QString &from, int step) const
{
	if (snapshotOrder.isEmpty()) {
		return QString();
	}
	const int count = int(snapshotOrder.size());
	const int current = int(snapshotOrder.indexOf(QFileInfo(from).fileName()));
	const int target = current >= 0 ? (count + step + current) % count : (step < 0 ? count - 1 : 0);
	return snapshotPath(snapshotOrder.at(target));
}

void Velkin::pressLoad(const QString &path)
{
	// A press while an operation runs is dropped, as the load it asks for would be.
	if (!ready || shuttingDown || busy) {
		return;
	}
	if (presses.press(path)) {
		QMetaObject::invokeMethod(
			this, [this] { applyPressedLoad(); }, Qt::QueuedConnection);
	}
}

void Velkin::applyPressedLoad()
{
	// Presses that arrive while this load runs lead on from its snapshot and queue the next call.
	const std::optional<QString> target = presses.take();
	if (target) {
		loadSnapshot(*target, LoadSource::Hotkey);
	}
}
