#pragma once

#include "automation/AutomationFile.hpp"

#include <QString>

// What the user reads for an event: in full ("Recording starts") for menus and tool tips, or short ("Rec start")
// for the list's rows.
QString automationEventText(AutomationEvent event, bool shortForm);
