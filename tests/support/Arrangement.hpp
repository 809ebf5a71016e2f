#pragma once

// Arranges the docks of a main window by words, each carried out through Qt in turn, as a person would with the
// mouse; shared by the layout tool and the test-only OBS module velkin-arrange. Docks go by object name.
//
//   float:DOCK[:X,Y,W,H]   floats the dock (at 900,120 420x300 unless given)
//   hide:DOCK, show:DOCK   hides or shows the dock
//   left:DOCK, right:DOCK, top:DOCK, bottom:DOCK
//                          docks the dock at the end of that side
//   split:DOCK:OTHER:h|v   puts OTHER beside DOCK (h) or below it (v)
//   tab:DOCK:OTHER         puts OTHER into a tab group with DOCK
//   width:DOCK:N, height:DOCK:N
//                          resizes the dock within its side
//   window:X,Y,W,H         the main window's place and size
#include <QMainWindow>
#include <QString>
#include <QStringList>

// Carries out the words in order, processing the events that follow each one. Returns what was wrong with the
// first word that could not be carried out (the ones before it stay done), or an empty string.
QString arrangeDocks(QMainWindow *window, const QStringList &words);
