#pragma once

class QMainWindow;

// Deletes at once the helpers that OBS's studio mode asked to have deleted when it was switched off, before a timer
// of theirs can reach the views that went with it.
void finishStudioModeTeardown(QMainWindow *window);
