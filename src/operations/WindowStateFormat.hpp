#pragma once

#include <QtGlobal>

// What QMainWindow::saveState writes: its version marker and version, then records that each start with a marker
// byte. Within a dock area: sequences of items side by side, tab groups and docks. saveGeometry starts with a magic
// number of its own.
namespace windowstate {

constexpr qint32 kVersionMarker = 0xff;
constexpr quint8 kDockAreasMarker = 0xfd;
constexpr quint8 kFloatingTabsMarker = 0xf9;
constexpr quint8 kToolBarMarker = 0xfe;
constexpr quint8 kToolBarMarkerEx = 0xfc;
constexpr quint8 kSequenceMarker = 0xfc;
constexpr quint8 kTabMarker = 0xfa;
constexpr quint8 kWidgetMarker = 0xfb;
// A dock's flags.
constexpr quint8 kVisible = 1;
constexpr quint8 kFloating = 2;
constexpr quint32 kGeometryMagic = 0x1D9D0CB;

} // namespace windowstate
