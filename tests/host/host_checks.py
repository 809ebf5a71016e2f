#!/usr/bin/env python3
"""Checks the plug-in inside the real OBS Studio, or starts OBS with it for a person to use (--interactive)."""

import argparse
import base64
import json
import os
import signal
import sys
import time

from obs_host import Display, HostError, Obs, Profile

CHECKS = {}


def check(function):
    CHECKS[function.__name__.replace("check_", "")] = function
    return function


def expect(condition, message):
    if not condition:
        raise HostError(message)


SETTINGS_KEYS = ["cycleHotkey", "last", "openHotkey", "previousHotkey", "snapshotHotkeys", "snapshotOrder"]


def write_document(directory, file_name, name, docks=("scenesDock",)):
    """A snapshot document as the plug-in writes it (the blobs need not be a real window state here)."""
    os.makedirs(directory, exist_ok=True)
    document = {
        "docks": list(docks),
        "format": 1,
        "geometry": base64.b64encode(b"geometry").decode(),
        "name": name,
        "obs": "30.2.3",
        "plugin": "obs-velkin",
        "state": base64.b64encode(b"state of " + name.encode()).decode(),
    }
    with open(os.path.join(directory, file_name), "w", encoding="utf-8") as f:
        json.dump(document, f, indent=4)


def read_settings(profile):
    try:
        with open(profile.settings_path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def wait_for(condition, timeout, message):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise HostError(message)


def load_line(args):
    return f"[obs-velkin] Loaded version 1.0.0 (OBS {args.obs_version})"


def expect_clean_exit(obs, code):
    expect(code == 0, f"OBS exited with code {code}")
    lines = obs.log_lines()
    expect(any(line.startswith("==== Shutting down") for line in lines), "the log has no shut-down section")
    leaks = [line for line in lines if line.startswith("Number of memory leaks:")]
    expect(leaks and leaks[-1] == "Number of memory leaks: 0", f"the log ends with {leaks[-1:] or 'no leak count'}")


@check
def check_lifecycle(args, display):
    """Loads once, activates at finished loading, shuts down once at SIGINT and unloads with no leaks."""
    profile = Profile(args.build_dir, "lifecycle")
    obs = Obs(profile, display).start()
    try:
        obs.wait_for_log(load_line(args))
        obs.connect()
        expect(len(obs.log_lines("[obs-velkin] Loaded version")) == 1, "the load line appears more than once")
        # Activation creates the snapshot folder and writes the settings once OBS has finished loading.
        wait_for(lambda: read_settings(profile), 10, "activation wrote no settings.json")
        expect(os.path.isdir(profile.snapshot_dir), "activation created no snapshot folder")
        before = os.stat(profile.settings_path).st_ino
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    # The final save replaces the file once more at the exit.
    expect(os.stat(profile.settings_path).st_ino != before, "shutdown did not save the settings")
    expect(sorted(read_settings(profile)) == SETTINGS_KEYS, "settings.json lacks some of its six keys")
    expect(not obs.log_lines("[obs-velkin] ") or all(
        line == load_line(args) for line in obs.log_lines("[obs-velkin] ")), "unexpected plug-in log lines")


@check
def check_activation(args, display):
    """Activation scans the snapshots already in the profile and rewrites settings.json from them."""
    profile = Profile(args.build_dir, "activation")
    write_document(profile.snapshot_dir, "b.json", "Beta")
    write_document(profile.snapshot_dir, "a.json", "alpha")
    write_document(profile.snapshot_dir, "c.json", "Gamma")
    with open(os.path.join(profile.snapshot_dir, "broken.json"), "w") as f:
        f.write("{ not a snapshot")
    with open(profile.settings_path, "w") as f:
        json.dump({"snapshotOrder": ["c.json", "gone.json"], "oldKey": 1, "last": 5}, f)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        settings = wait_for(lambda: (s := read_settings(profile)) and "oldKey" not in s and s, 10,
                            "activation did not rewrite settings.json")
        expect(sorted(settings) == SETTINGS_KEYS, f"settings.json holds {sorted(settings)}")
        expect(settings["snapshotOrder"] == ["c.json", "a.json", "b.json"],
               f"the order is {settings['snapshotOrder']}")
        expect(settings["last"] == "", "a last snapshot of the wrong type was kept")
        expect(obs.log_lines("[obs-velkin] ") == [load_line(args), "[obs-velkin] Skipped 1 unreadable snapshot file(s)"],
               f"unexpected plug-in log lines: {obs.log_lines('[obs-velkin] ')}")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    with open(os.path.join(profile.snapshot_dir, "broken.json")) as f:
        expect(f.read() == "{ not a snapshot", "the unreadable file was changed")


def interactive(args):
    """Starts OBS with the plug-in for a person: prints the load line, saves a screenshot, runs until Ctrl+C."""
    with Display() as display:
        profile = Profile(args.build_dir, "profile", keep=args.keep_profile)
        obs = Obs(profile, display).start()
        interrupted = False

        def on_interrupt(signum, frame):
            nonlocal interrupted
            interrupted = True

        signal.signal(signal.SIGINT, on_interrupt)
        try:
            print(obs.wait_for_log("[obs-velkin] Loaded version"), flush=True)
            obs.connect()
            time.sleep(2)
            shot = obs.screenshot(os.path.join(args.build_dir, "obs-screenshot.png"))
            print(f"OBS is running with the plug-in on display {display.name} (profile: {profile.home}).")
            print(f"Screenshot saved to {shot}. Press Ctrl+C to quit OBS.", flush=True)
            while not interrupted and obs.process.poll() is None:
                time.sleep(0.3)
        finally:
            code = obs.stop()
        print(f"OBS exited with code {code}. Log: {obs.log_path()}")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--obs-version", default="")
    parser.add_argument("--check", action="append", choices=sorted(CHECKS), default=[])
    parser.add_argument("--interactive", action="store_true")
    parser.add_argument("--keep-profile", action="store_true")
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
    if args.interactive:
        return interactive(args)
    with Display() as display:
        for name in args.check or sorted(CHECKS):
            print(f"host check {name}: {CHECKS[name].__doc__}", flush=True)
            CHECKS[name](args, display)
            print(f"host check {name}: passed", flush=True)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except HostError as error:
        print(f"FAILED: {error}", file=sys.stderr)
        sys.exit(1)
