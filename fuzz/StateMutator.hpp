#pragma once

// A mutator for RestoreFuzzer's inputs that knows what QMainWindow::saveState and QWidget::saveGeometry write.
// An input is one byte with the geometry's length, the geometry, then the state. The blobs are read into a tree
// of their records (dock areas, tab groups and sequences, docks by name with their flags and sizes, floating tab
// groups, tool bar lines, the window's rectangles and flags), changed within that structure and written back, so
// that most inputs get past Qt's first checks and reach the code that lays the docks out. An input that cannot be
// read so is left to libFuzzer's own byte mutations.
#include <cstddef>
#include <cstdint>

size_t mutateRestoreInput(uint8_t *data, size_t size, size_t maxSize, unsigned seed);

// A child of two inputs: the first with a part of the second grafted in (its geometry, a dock or a whole sequence,
// a dock area or a record). Returns 0 when either input cannot be read.
size_t crossOverRestoreInputs(const uint8_t *data1, size_t size1, const uint8_t *data2, size_t size2, uint8_t *out,
			      size_t maxOutSize, unsigned seed);
