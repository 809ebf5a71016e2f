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

from dock_state import StateError, dock_states

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
            path = os.path.join(folder, "layout.json")
            # Qt's offscreen platform notes what it cannot do on stderr.
            subprocess.run([args.layout_tool, path, "Layout", *arrangement], check=True, stderr=subprocess.DEVNULL)
            with open(path, encoding="utf-8") as f:
                state = base64.b64decode(json.load(f)["state"])
            wanted = {name: HIDDEN if name == "statsDock" else DOCKED for name in CORE}
            wanted.update(changes)
            got = dock_states(state)
            if got != wanted:
                failures.append(f"{arrangement}: {got}, not {wanted}")
    # The tab on top by its index; none named leaves both open.
    for current, wanted in [(0, {"a": DOCKED, "b": BEHIND}), (1, {"a": BEHIND, "b": DOCKED}),
                            (-1, {"a": (None, False), "b": (None, False)})]:
        got = dock_states(tab_state(current))
        if got != wanted:
            failures.append(f"tab on top {current}: {got}, not {wanted}")
    for broken in (tab_state(0)[:30], b"\x00" * 12, tab_state(0)[:8] + b"\xfe" + tab_state(0)[9:]):
        try:
            dock_states(broken)
            failures.append(f"{broken.hex()} was read")
        except StateError:
            pass
    print("\n".join(failures) or f"{len(CASES) + 6} cases as promised")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
