#!/usr/bin/env python3
"""The soak's reading of a saved window state against what the layout tool's arrangements promise: which docks
show and which float, in Qt's own format. Runs the layout tool, without OBS."""

import argparse
import base64
import json
import os
import struct
import subprocess
import sys
import tempfile

from dock_state import StateError, dock_states, floating_rects, window_rects

DOCKED, HIDDEN, FLOATING, BEHIND = (True, False), (False, False), (True, True), (False, False)
CORE = ("scenesDock", "sourcesDock", "mixerDock", "transitionsDock", "controlsDock", "statsDock")

# An arrangement of the layout tool and the docks that differ from its start: five docks docked, Stats hidden.
CASES = [
    ((), {}),
    (("float:statsDock:1000,140,420,300", "hide:transitionsDock"), {"statsDock": FLOATING, "transitionsDock": HIDDEN}),
    # The dock tabbed in last is the one on top.
    (("tab:scenesDock:sourcesDock",), {"scenesDock": BEHIND}),
    (("tab:scenesDock:sourcesDock", "tab:transitionsDock:controlsDock"),
     {"scenesDock": BEHIND, "transitionsDock": BEHIND}),
    # With the top tab hidden or floated, the other shows.
    (("tab:scenesDock:sourcesDock", "hide:sourcesDock"), {"sourcesDock": HIDDEN}),
    (("tab:scenesDock:sourcesDock", "float:sourcesDock"), {"sourcesDock": FLOATING}),
    (("hide:scenesDock", "hide:sourcesDock", "show:statsDock"), {"scenesDock": HIDDEN, "sourcesDock": HIDDEN,
                                                                  "statsDock": DOCKED}),
    # A floating dock that is hidden keeps floating.
    (("float:mixerDock", "hide:mixerDock"), {"mixerDock": (False, True)}),
    (("left:scenesDock", "split:scenesDock:statsDock:v", "show:statsDock", "right:mixerDock"), {"statsDock": DOCKED}),
]


# An arrangement, its floating docks' rectangles and the window's client rectangle.
RECTS = [
    ((), {}, (60, 60, 1280, 800)),
    (("float:statsDock:1000,140,420,300", "window:80,80,1100,740"), {"statsDock": (1000, 140, 420, 300)},
     (80, 80, 1100, 740)),
    # A hidden dock that floats keeps its place; a docked one has none.
    (("float:mixerDock", "hide:mixerDock", "float:scenesDock:1300,100,300,400", "left:scenesDock"),
     {"mixerDock": (900, 120, 420, 300)}, (60, 60, 1280, 800)),
]


def layout(tool, folder, arrangement):
    """The state and the geometry of a snapshot of the arrangement."""
    path = os.path.join(folder, "layout.json")
    # Qt's offscreen platform notes what it cannot do on stderr.
    subprocess.run([tool, path, "Layout", *arrangement], check=True, stderr=subprocess.DEVNULL)
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    return base64.b64decode(document["state"]), base64.b64decode(document["geometry"])


def qt_string(text):
    data = text.encode("utf-16-be")
    return struct.pack(">I", len(data)) + data


def tab_state(current):
    """A state with one dock area that holds a tab group of two docks, the one on top named by its index."""
    state = struct.pack(">iiBi", 0xff, 0, 0xfd, 1) + struct.pack(">iii", 3, 300, 300)
    state += struct.pack(">BiBi", 0xfa, current, 1, 2)
    for name in ("a", "b"):
        state += b"\xfb" + qt_string(name) + struct.pack(">Biiii", 1, 0, 100, 0, 0)
    return state + struct.pack(">ii", 100, 100) + struct.pack(">iiii", 4, 4, 8, 8)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--layout-tool", required=True)
    args = parser.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for arrangement, changes in CASES:
            state, _ = layout(args.layout_tool, folder, arrangement)
            wanted = {name: HIDDEN if name == "statsDock" else DOCKED for name in CORE}
            wanted.update(changes)
            got = dock_states(state)
            if got != wanted:
                failures.append(f"{arrangement}: {got}, not {wanted}")
        for arrangement, floating, client in RECTS:
            state, geometry = layout(args.layout_tool, folder, arrangement)
            got = floating_rects(state), window_rects(geometry)[1]
            if got != (floating, client):
                failures.append(f"{arrangement}: {got}, not {(floating, client)}")
    # The tab on top by its index; none named leaves both open.
    for current, wanted in [(0, {"a": DOCKED, "b": BEHIND}), (1, {"a": BEHIND, "b": DOCKED}),
                            (-1, {"a": (None, False), "b": (None, False)})]:
        got = dock_states(tab_state(current))
        if got != wanted:
            failures.append(f"tab on top {current}: {got}, not {wanted}")
    for read, broken in ((dock_states, tab_state(0)[:30]), (dock_states, b"\x00" * 12),
                         (dock_states, tab_state(0)[:8] + b"\xfe" + tab_state(0)[9:]),
                         (window_rects, struct.pack(">IHH", 0x1D9D0CA, 3, 0) + b"\x00" * 32),
                         (window_rects, struct.pack(">IHHii", 0x1D9D0CB, 3, 0, 1, 2))):
        try:
            read(broken)
            failures.append(f"{broken.hex()} was read")
        except StateError:
            pass
    print("\n".join(failures) or f"{len(CASES) + len(RECTS) + 8} cases as promised")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
