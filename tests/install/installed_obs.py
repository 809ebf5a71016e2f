#!/usr/bin/env python3
"""The installed package in the real OBS Studio: a hotkey loads the snapshot Floating, which floats the Stats dock,
and OBS quits cleanly and keeps that layout as its own.

    installed_obs.py HOME PLUGIN_VERSION OBS_VERSION

HOME gets a fresh OBS configuration with obs-websocket enabled; the snapshots already in HOME stay. The plug-in is
the one installed system-wide by the package. Run by check-package.sh on a display of 1280x800.
"""

import base64
import configparser
import json
import os
import shutil
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "scripts"))
from obs_host import HostError, Obs, Profile, run_main, visible_windows

HERE = os.path.dirname(os.path.abspath(__file__))
HOTKEY = "obs-velkin.load.Floating.json"
# Where Floating.json floats the Stats dock (velkin-layout-tool ... float:statsDock:480,150,700,300).
STATS_FLOATS_AT = (480, 150, 700, 300)


class InstalledProfile(Profile):
    """A user's HOME for the plug-in that the package installed."""

    def __init__(self, home):
        self.home = home
        self.write_obs_config()


class Screen:
    def __init__(self, name):
        self.name = name


def expect(condition, message):
    if not condition:
        raise HostError(message)


def wait_for(condition, timeout, message):
    """Waits until condition() holds; else fails with message(), which tells what was there at the end."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise HostError(message())


def last_snapshot(profile):
    try:
        with open(profile.settings_path, encoding="utf-8") as f:
            return json.load(f).get("last")
    except (OSError, ValueError):
        return None


def saved_dock(state, name):
    """A dock's entry in a QMainWindow::saveState blob, as Qt writes it: the object name as a QString (byte length,
    UTF-16BE), a flags byte (1 shown, 2 floating), then for a floating dock its x, y, width and height."""
    key = name.encode("utf-16-be")
    at = state.find(struct.pack(">I", len(key)) + key)
    if at < 0:
        return None
    at += 4 + len(key)
    flags = state[at]
    rect = struct.unpack_from(">4i", state, at + 1) if flags & 2 else None
    return flags, rect


def obs_dock_state(profile, obs_version):
    """The DockState that OBS saved at exit: in global.ini up to OBS 30, in user.ini from OBS 31."""
    file_name = "user.ini" if int(obs_version.split(".")[0]) >= 31 else "global.ini"
    ini = configparser.ConfigParser(interpolation=None, strict=False)
    ini.optionxform = str
    ini.read(os.path.join(profile.obs_config, file_name), encoding="utf-8")
    value = ini.get("BasicWindow", "DockState", fallback="")
    expect(value, f"OBS saved no DockState in {file_name}")
    return base64.b64decode(value)


def main():
    home, plugin_version, obs_version = sys.argv[1:4]
    profile = InstalledProfile(home)
    os.makedirs(profile.snapshot_dir, exist_ok=True)
    floating = os.path.join(profile.snapshot_dir, "Floating.json")
    shutil.copyfile(os.path.join(HERE, "Floating.json"), floating)

    obs = Obs(profile, Screen(os.environ["DISPLAY"])).start()
    try:
        obs.wait_for_log(f"[obs-velkin] Loaded version {plugin_version} (OBS {obs_version})")
        obs.connect()
        _, hotkeys = obs.request("GetHotkeyList")
        expect(HOTKEY in hotkeys["hotkeys"], f"OBS lists no hotkey {HOTKEY}")
        expect(not visible_windows(obs.display, "^Stats$", top_level=True), "the Stats dock floats before the load")
        expect(last_snapshot(profile) == "", f"settings.json names {last_snapshot(profile)!r} as last before the load")

        status, _ = obs.request("TriggerHotkeyByName", {"hotkeyName": HOTKEY})
        expect(status["result"], f"TriggerHotkeyByName {HOTKEY} failed: {status}")
        wait_for(lambda: last_snapshot(profile) == floating, 10,
                 lambda: f"settings.json names {last_snapshot(profile)!r} as last, not {floating}")
        wait_for(lambda: visible_windows(obs.display, "^Stats$", top_level=True), 10,
                 lambda: "the Stats dock did not float out")
    finally:
        code = obs.stop()

    expect(code == 0, f"OBS exited with code {code} after SIGINT")
    lines = obs.log_lines()
    expect(any(line.startswith("==== Shutting down") for line in lines), "the log has no shut-down section")
    leaks = [line for line in lines if line.startswith("Number of memory leaks:")]
    expect(leaks and leaks[-1] == "Number of memory leaks: 0", f"the log ends with {leaks[-1:] or 'no leak count'}")
    crashes = os.path.join(profile.obs_config, "crashes")
    reports = os.listdir(crashes) if os.path.isdir(crashes) else []
    expect(not reports, f"OBS wrote a crash report: {reports}")

    expect(last_snapshot(profile) == floating,
           f"after the exit, settings.json names {last_snapshot(profile)!r} as last")
    stats = saved_dock(obs_dock_state(profile, obs_version), "statsDock")
    expect(stats == (3, STATS_FLOATS_AT), f"OBS saved the Stats dock as {stats}, not shown and floating at "
           f"{STATS_FLOATS_AT}")
    print(f"OBS Studio {obs_version}: the hotkey loaded Floating (last = {os.path.basename(floating)}); the Stats dock "
          f"floated out and OBS saved it at exit floating at {stats[1]}; exit code 0, no memory leaks")
    return 0


if __name__ == "__main__":
    run_main(main)
