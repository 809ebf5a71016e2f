#pragma once

#include <QString>

#include <optional>
#include <utility>

// Where the load presses since the last applied one lead: each press moves it, and one queued call loads it. A burst
// of presses restores one layout, not one per press.
class LoadPresses {
public:
	// Where the next press counts on from: where the presses so far lead, or `last` when none waits.
	QString leadFrom(const QString &last) const { return target.value_or(last); }
	// Moves the target to path; true when no call was queued, and one must be now.
	bool press(const QString &path)
	{
		target = path;
		return !std::exchange(queued, true);
	}
	// What the queued call loads, if anything. Presses after it queue the next call.
	std::optional<QString> take()
	{
		queued = false;
		return std::exchange(target, std::nullopt);
	}
	bool callQueued() const { return queued; }

private:
	std::optional<QString> target;
	bool queued = false;
};
