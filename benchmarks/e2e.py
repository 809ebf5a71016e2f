#!/usr/bin/env python3
"""The end-to-end time of a load hotkey in the real OBS Studio: from TriggerHotkeyByName through obs-websocket to
the restored layout on the screen, next to a plain obs-websocket round trip measured in the same run.

Two snapshots tell the layouts apart by the Stats dock: floating (a viewable window of its own on the root) or
docked (its window a child of the main window). The X server is asked directly, about a hundred microseconds a
question, so the figure is not a polling interval."""

import argparse
import ctypes
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "scripts"))
from obs_host import Display, HostError, Obs, Profile, run_main, visible_windows  # noqa: E402

IS_VIEWABLE = 2


class WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("window_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class X:
    """Just enough of libX11 to ask whether a window floats: viewable, and a child of the root."""

    def __init__(self, display_name):
        self.lib = ctypes.CDLL("libX11.so.6")
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(WindowAttributes)]
        self.lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                        ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p),
                                        ctypes.POINTER(ctypes.c_uint)]
        self.lib.XFree.argtypes = [ctypes.c_void_p]
        self.display = self.lib.XOpenDisplay(display_name.encode())
        if not self.display:
            raise HostError(f"cannot open the X display {display_name}")

    def floats(self, window):
        attributes = WindowAttributes()
        if not self.lib.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return False
        root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p(), ctypes.c_uint()
        if not self.lib.XQueryTree(self.display, window, ctypes.byref(root), ctypes.byref(parent),
                                   ctypes.byref(children), ctypes.byref(count)):
            return False
        if children:
            self.lib.XFree(children)
        return attributes.map_state == IS_VIEWABLE and parent.value == root.value


def until(condition, timeout, message):
    """Waits until condition() gives something true, and returns it."""
    deadline = time.perf_counter() + timeout
    while not (value := condition()):
        if time.perf_counter() > deadline:
            raise HostError(message)
    return value


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True, help="a build of the plug-in with its install rules")
    parser.add_argument("--layout-tool", required=True, help="velkin-layout-tool, which writes the two snapshots")
    parser.add_argument("--rounds", type=int, default=30)
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    with Display() as display:
        profile = Profile(build_dir, "e2e-bench")
        os.makedirs(profile.snapshot_dir, exist_ok=True)
        for name, arrangement in [("Floating", ["float:statsDock"]), ("Docked", ["show:statsDock"])]:
            subprocess.run([args.layout_tool, os.path.join(profile.snapshot_dir, f"{name}.json"), name,
                            *arrangement], check=True)
        obs = Obs(profile, display).start()
        try:
            obs.connect()
            x = X(display.name)

            def press(name):
                status, _ = obs.request("TriggerHotkeyByName", {"hotkeyName": f"obs-velkin.load.{name}.json"})
                if not status["result"]:
                    raise HostError(f"TriggerHotkeyByName failed: {status}")

            # The first load makes the Stats dock's window; from then on it is the same window, floating or not.
            # The window waited for is the one taken: it may go away again before a second look.
            press("Floating")
            stats = int(until(lambda: visible_windows(display, "^Stats$", top_level=True), 20,
                              "the Stats dock never floated")[0])
            loads = []
            flickers = 0
            for _ in range(args.rounds):
                for name, floating in [("Docked", False), ("Floating", True)]:
                    began = time.perf_counter()
                    press(name)
                    until(lambda: x.floats(stats) == floating, 10, f"{name} did not show")
                    loads.append(time.perf_counter() - began)
                    time.sleep(0.05)
                # Floating over itself: the floating window must stay mapped all through the load, or a user sees
                # it flicker.
                press("Floating")
                began = time.perf_counter()
                while time.perf_counter() - began < 0.3:
                    if not x.floats(stats):
                        flickers += 1
                        break
            trips = []
            for _ in range(200):
                began = time.perf_counter()
                obs.request("GetVersion")
                trips.append(time.perf_counter() - began)
        finally:
            obs.stop()
    load = statistics.median(loads) * 1000
    trip = statistics.median(trips) * 1000
    print(f"-- the real OBS: a load hotkey through obs-websocket, {len(loads)} loads")
    print(f"{'median TriggerHotkeyByName to the layout on screen':<56} {load:>8.2f} ms")
    print(f"{'median obs-websocket round trip (GetVersion)':<56} {trip:>8.2f} ms")
    print(f"{'load hotkey / round trip':<56} {load / trip:>8.2f}x")
    print(f"{'loads of Floating over itself that unmapped Stats':<56} {flickers:>8d} of {args.rounds}")
    return 0


if __name__ == "__main__":
    run_main(main)
