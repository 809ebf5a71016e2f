"""What a saved window state (QMainWindow::saveState) shows: each dock's name, whether it is shown and whether it
floats, and where a floating one is; and where a saved geometry (QWidget::saveGeometry) puts the window. Read from
Qt's own formats rather than from the plug-in."""

import struct

VERSION_MARKER = 0xff
DOCK_AREAS = 0xfd
FLOATING_TABS = 0xf9
SEQUENCE = 0xfc
TABS = 0xfa
WIDGET = 0xfb
VISIBLE = 1
FLOATING = 2
GEOMETRY_MAGIC = 0x1D9D0CB


class StateError(ValueError):
    pass


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, fmt):
        try:
            values = struct.unpack_from(">" + fmt, self.data, self.at)
        except struct.error as error:
            raise StateError(f"the state ends at byte {self.at}") from error
        self.at += struct.calcsize(">" + fmt)
        return values if len(values) > 1 else values[0]

    def string(self):
        length = self.take("I")
        if length == 0xffffffff:
            return ""
        if length % 2 or self.at + length > len(self.data):
            raise StateError(f"a name of {length} bytes at byte {self.at}")
        text = self.data[self.at:self.at + length].decode("utf-16-be")
        self.at += length
        return text


def read_group(reader, docks, floating_group=False):
    """One sequence or tab group of a dock area, into docks {name: [visible, floating, on top of its tabs, the
    rectangle of a floating one]}."""
    marker = reader.take("B")
    if marker not in (SEQUENCE, TABS):
        raise StateError(f"marker {marker:#x} at byte {reader.at - 1}")
    current = reader.take("i") if marker == TABS else None
    orientation, count = reader.take("Bi")
    members = []
    for index in range(count):
        kind = reader.take("B")
        if kind == WIDGET:
            name = reader.string()
            flags = reader.take("B")
            # A floating dock's x, y, width and height; a docked one's place and size in its row.
            numbers = reader.take("iiii")
            # A dock in a floating tab group is neither docked nor a window of its own: left unjudged.
            floating = None if floating_group else bool(flags & FLOATING)
            # A docked dock alone in its place: its width in a row (Qt::Horizontal), else its height.
            extent = None if floating or floating_group or marker == TABS else (
                "width" if orientation == 1 else "height", numbers[1])
            docks[name] = [bool(flags & VISIBLE), floating, True, numbers if floating else None, extent]
            members.append((index, name))
        elif kind == SEQUENCE:
            reader.take("iiii")
            read_group(reader, docks, floating_group)
        else:
            raise StateError(f"item marker {kind:#x} at byte {reader.at - 1}")
    if marker == TABS:
        # Qt writes the index of the tab on top, or -1 when the group never had a tab bar: then the tab on top
        # is whichever the window had before, and the group's members are judged as unknown.
        for index, name in members:
            docks[name][2] = None if current < 0 else index == current


def read_state(state):
    reader = Reader(state)
    if reader.take("i") != VERSION_MARKER:
        raise StateError("no version marker")
    reader.take("i")
    docks = {}
    if reader.take("B") != DOCK_AREAS:
        raise StateError("no dock areas")
    for _ in range(reader.take("i")):
        reader.take("iii")
        read_group(reader, docks)
    reader.take("ii")
    reader.take("iiii")
    while reader.at < len(state) and state[reader.at] == FLOATING_TABS:
        reader.take("B")
        reader.take("iiii")
        read_group(reader, docks, floating_group=True)
    return docks


def dock_states(state):
    """{dock name: (shown, floating)} of a saved window state. None stands for what the state leaves open: whether
    a visible dock in a tab group is on top when the state names no tab on top, and both for a dock in a floating
    tab group."""
    result = {}
    for name, (visible, floating, on_top, _, _) in read_state(state).items():
        if floating is None:
            result[name] = (None, None)
        elif not visible:
            result[name] = (False, floating)
        elif floating:
            result[name] = (True, True)
        else:
            result[name] = (on_top, False)
    return result


def floating_rects(state):
    """{dock name: (x, y, width, height)} of the floating docks of a saved window state."""
    return {name: rect for name, (_, floating, _, rect, _) in read_state(state).items() if floating}


def docked_extents(state):
    """{dock name: ("width" or "height", pixels)} of the shown docks that a saved window state docks alone in
    their place, along the row or column that holds them."""
    return {name: extent for name, (visible, _, _, _, extent) in read_state(state).items() if visible and extent}


def window_rects(geometry):
    """The frame and the client rectangle, each (x, y, width, height), that a saved geometry gives the window."""
    reader = Reader(geometry)
    if reader.take("I") != GEOMETRY_MAGIC:
        raise StateError("no geometry magic number")
    reader.take("HH")
    rects = []
    for _ in range(2):
        left, top, right, bottom = reader.take("iiii")
        rects.append((left, top, right - left + 1, bottom - top + 1))
    return tuple(rects)
