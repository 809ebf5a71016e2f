#pragma once

#include "automation/AutomationFile.hpp"

#include <QList>
#include <QString>

// What the user reads for an event: in full ("Recording starts") for menus and tool tips, or short ("Rec start")
// for the list's rows.
QString automationEventText(AutomationEvent event, bool shortForm);
// A row's events in short form, as the list paints them ("Rec start, OBS start").
QString automationRulesText(const QList<AutomationEvent> &events);
