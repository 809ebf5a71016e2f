#pragma once

#include "module/Velkin.hpp"

// Marks a snapshot operation as running for as long as the guard lives, and puts the busy flag back on every
// way out. Construct it only after Velkin::canStartOperation() said yes.
class OperationGuard {
public:
	explicit OperationGuard(Velkin &controller) : velkin(controller), previous(controller.busy)
	{
		velkin.busy = true;
	}
	~OperationGuard() { velkin.busy = previous; }

	OperationGuard(const OperationGuard &) = delete;
	OperationGuard &operator=(const OperationGuard &) = delete;

private:
	Velkin &velkin;
	bool previous;
};
