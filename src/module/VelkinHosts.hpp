#pragma once

// The host interfaces that the features declare beside their classes, taken together: the controller implements
// them all, and each feature sees only its own.
#include "automation/Automation.hpp"
#include "keeper/LayoutKeeper.hpp"
#include "menu/LayoutsMenu.hpp"
#include "monitors/MonitorFollower.hpp"
#include "remote/RemoteControl.hpp"

class VelkinHosts : public AutomationHost, public MonitorsHost, public RemoteHost, public MenuHost, public KeeperHost {
protected:
	~VelkinHosts() = default;
};
