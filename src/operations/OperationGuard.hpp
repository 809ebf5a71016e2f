#pragma once

#include "module/FeatureHost.hpp"

// The one way a snapshot operation starts: when one may start now (not shutting down, no other operation running,
// the main window present), the busy flag is set for as long as the guard lives and cleared on every way out.
// The guard tests false when the operation must not start.
class OperationGuard {
public:
	explicit OperationGuard(FeatureHost &host) : host(host), started(host.beginOperation()) {}
	~OperationGuard()
	{
		if (started) {
			host.endOperation();
		}
	}

	explicit operator bool() const { return started; }

	OperationGuard(const OperationGuard &) = delete;
	OperationGuard &operator=(const OperationGuard &) = delete;

private:
	FeatureHost &host;
	const bool started;
};
