#!/usr/bin/env python3
"""Checks the plug-in inside the real OBS Studio."""

import argparse
import base64
import collections
import ctypes
import datetime
import functools
import json
import os
import queue
import re
import shutil
import struct
import sys
import threading
import time

import subprocess

import websocket

# The OBS launcher lives with the scripts, which start OBS for a person with it too (scripts/run).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "scripts"))
from obs_host import (WEBSOCKET_NOT_READY, Display, FileWrites, HostError, Obs, Profile, free_port, key_name, run_main,
                      visible_windows, xdotool, xdotool_output)
# The reader of saved dock states lives with the soak, which uses it too.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "soak"))
from dock_state import floating_rects

CHECKS = {}
# The README's screenshots that are taken again with --shot, not checks: no ctest runs them.
SHOTS = {}


def check(function):
    CHECKS[function.__name__.replace("check_", "")] = function
    return function


def shot(function):
    SHOTS[function.__name__.replace("shot_", "")] = function
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


# How many times longer than usual to wait for OBS: more than 1 while a check runs a slowed OBS.
patience = 1.0


def settle(seconds):
    """Gives OBS a moment to take what was sent."""
    time.sleep(seconds * patience)


def wait_for(condition, timeout, message):
    deadline = time.time() + timeout * patience
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise HostError(message)


def load_line(args):
    return f"[obs-velkin] Loaded version {args.plugin_version} (OBS {args.obs_version})"


NO_AUTOMATION = "[obs-velkin] No automation rules: "
# The test build's count, at unload, of the plug-in's hotkeys that libobs still holds.
HOTKEYS_LEFT = "[obs-velkin] Hotkeys left at unload: "


def plugin_lines(obs):
    """The plug-in's log lines, less the one that says why there are no automation rules and the count of hotkeys
    left at unload."""
    return [line for line in obs.log_lines("[obs-velkin] ")
            if not line.startswith(NO_AUTOMATION) and not line.startswith(HOTKEYS_LEFT)]


def expect_clean_exit(obs, code, codes=(0,)):
    expect(code in codes, f"OBS exited with code {code}{obs.crash_trace()}")
    lines = obs.log_lines()
    expect(any(line.startswith("==== Shutting down") for line in lines), "the log has no shut-down section")
    leaks = [line for line in lines if line.startswith("Number of memory leaks:")]
    expect(leaks and leaks[-1] == "Number of memory leaks: 0", f"the log ends with {leaks[-1:] or 'no leak count'}")
    left = [line for line in lines if line.startswith(HOTKEYS_LEFT)]
    expect(left == [HOTKEYS_LEFT + "0"], f"at unload: {left or 'no count of the hotkeys left'}")


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
    expect(all(line == load_line(args) for line in plugin_lines(obs)),
           f"unexpected plug-in log lines: {plugin_lines(obs)}")


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
        expect(plugin_lines(obs) == [load_line(args), "[obs-velkin] Skipped 1 unreadable snapshot file(s)"],
               f"unexpected plug-in log lines: {plugin_lines(obs)}")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    with open(os.path.join(profile.snapshot_dir, "broken.json")) as f:
        expect(f.read() == "{ not a snapshot", "the unreadable file was changed")


def layout_document(args, directory, file_name, name, *arrangement):
    """A real snapshot of OBS's core docks, written by the plug-in's own code."""
    os.makedirs(directory, exist_ok=True)
    subprocess.run([os.path.join(args.build_dir, "tests", "velkin-layout-tool"), os.path.join(directory, file_name),
                    name, *arrangement], check=True)
    return os.path.join(directory, file_name)


def close_box(display, window):
    """Answers a message box with Return, as a person at the keyboard would."""
    for _ in range(10):
        xdotool(display, "windowfocus", "--sync", window)
        xdotool(display, "key", "Return")
        try:
            wait_for(lambda: not visible_windows(display, "^OBS-Velkin Dock Layouts$"), 1, "")
            return
        except HostError:
            pass
    raise HostError("the message box did not close")


def trigger(obs, name):
    status, _ = obs.request("TriggerHotkeyByName", {"hotkeyName": name})
    expect(status["result"], f"TriggerHotkeyByName {name} failed: {status}")


def wait_for_last(profile, path, timeout=5):
    wait_for(lambda: (read_settings(profile) or {}).get("last") == path, timeout,
             f"settings.json never named {path} as last (it holds {(read_settings(profile) or {}).get('last')!r})")


class UiProbe(threading.Thread):
    """A second obs-websocket client that asks the plug-in for its list again and again. The plug-in answers on
    OBS's UI thread, so the slowest answer bounds the time that thread was busy in a row."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.ws = websocket.create_connection(f"ws://127.0.0.1:{port}", timeout=10)
        json.loads(self.ws.recv())
        self.ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1, "eventSubscriptions": 0}}))
        json.loads(self.ws.recv())
        self.stopping = threading.Event()
        self.slowest = 0.0
        self.answers = 0
        self.failure = None

    def start(self):
        super().start()
        return self

    def run(self):
        try:
            while not self.stopping.is_set():
                rid = str(self.answers)
                began = time.perf_counter()
                self.ws.send(json.dumps({"op": 6, "d": {"requestType": "CallVendorRequest", "requestId": rid,
                                                         "requestData": {"vendorName": VENDOR,
                                                                         "requestType": "GetSnapshotList"}}}))
                while True:
                    message = json.loads(self.ws.recv())
                    if message.get("op") == 7 and message["d"].get("requestId") == rid:
                        break
                self.slowest = max(self.slowest, time.perf_counter() - began)
                self.answers += 1
                time.sleep(0.005)
        except Exception as error:  # reported by finish()
            self.failure = error

    def finish(self):
        """Stops asking; returns (slowest answer in seconds, number of answers)."""
        self.stopping.set()
        self.join(30)
        self.ws.close()
        if self.failure:
            raise HostError(f"the UI probe failed: {self.failure!r}")
        return self.slowest, self.answers


@check
def check_hotkeys(args, display):
    """Every hotkey is listed and works through obs-websocket; bindings survive a restart; a storm is absorbed."""
    profile = Profile(args.build_dir, "hotkeys")
    paths = [layout_document(args, profile.snapshot_dir, f"S{i}.json", f"S{i}", *arrangement)
             for i, arrangement in enumerate([(), ("float:statsDock",), ("hide:mixerDock", "right:controlsDock")], 1)]
    f10 = [{"key": "OBS_KEY_F10"}]
    with open(profile.settings_path, "w") as f:
        json.dump({"snapshotOrder": ["S1.json", "S2.json", "S3.json"], "openHotkey": [{"key": "OBS_KEY_F9"}],
                   "snapshotHotkeys": {"S2.json": f10}}, f)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        _, hotkeys = obs.request("GetHotkeyList")
        ours = sorted(name for name in hotkeys["hotkeys"] if name.startswith("obs-velkin."))
        expect(ours == ["obs-velkin.cycle", "obs-velkin.load.S1.json", "obs-velkin.load.S2.json",
                        "obs-velkin.load.S3.json", "obs-velkin.open", "obs-velkin.previous", "obs-velkin.undo"],
               f"the host lists {ours}")

        trigger(obs, "obs-velkin.load.S2.json")
        wait_for_last(profile, paths[1])
        expect(visible_windows(display, "^Stats$"), "the Stats dock did not float out as stored")
        for name, expected in [("obs-velkin.cycle", 2), ("obs-velkin.cycle", 0), ("obs-velkin.previous", 2)]:
            trigger(obs, name)
            wait_for_last(profile, paths[expected])

        # A storm of mixed presses, as from a stuck button or a looping script: OBS's UI thread never stays busy
        # for long, the layout and the last snapshot are those of the last press, and settings.json is written
        # at most twice.
        writes = FileWrites(profile.plugin_config, "settings.json")
        probe = UiProbe(profile.port).start()
        presses = 3000
        names = ["obs-velkin.cycle", "obs-velkin.load.S1.json", "obs-velkin.previous", "obs-velkin.previous",
                 "obs-velkin.load.S3.json", "obs-velkin.cycle", "obs-velkin.cycle"]
        began = time.time()
        for start in range(0, presses, 100):
            batch = [{"requestType": "TriggerHotkeyByName", "requestData": {"hotkeyName": names[(start + i) % 7]}}
                     for i in range(100)]
            if start + 100 >= presses:
                batch[-1]["requestData"]["hotkeyName"] = "obs-velkin.load.S2.json"
            # A batch runs its requests one after another, so the presses arrive in the order sent.
            obs.request_batch(batch)
        sent = time.time() - began
        try:
            wait_for_last(profile, paths[1], timeout=30)
            wait_for(lambda: visible_windows(display, "^Stats$"), 10, "the Stats dock of S2 did not float")
        except HostError:
            obs.screenshot(os.path.join(args.build_dir, "artifacts", "storm-failure.png"))
            raise
        # The settings are saved a moment after the last load: give that save time to come.
        time.sleep(2)
        slowest, answers = probe.finish()
        count = writes.poll()
        writes.close()
        print(f"  {presses} mixed presses sent in {sent:.1f} s: {count} settings writes, {answers} probe answers, "
              f"the slowest in {slowest * 1000:.0f} ms")
        expect(answers > 0, "the UI probe got no answer")
        expect(slowest < 0.2, f"the UI thread was busy for {slowest * 1000:.0f} ms in a row")
        expect(1 <= count <= 2, f"the storm wrote settings.json {count} times")
        expect(read_settings(profile)["last"] == paths[1], "the last press did not decide the last snapshot")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)

    # The bindings written before the first start are still there after a restart.
    obs = Obs(profile, display).start()
    try:
        obs.connect()
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    settings = read_settings(profile)
    expect(settings["openHotkey"] and settings["openHotkey"][0].get("key") == "OBS_KEY_F9",
           f"the open binding is {settings['openHotkey']}")
    expect(settings["snapshotHotkeys"].get("S2.json", [{}])[0].get("key") == "OBS_KEY_F10",
           f"the S2 binding is {settings['snapshotHotkeys']}")


@check
def check_restore(args, display):
    """A stored layout comes back in the running OBS; one that OBS refuses leaves the window as it was."""
    profile = Profile(args.build_dir, "restore")
    floating = layout_document(args, profile.snapshot_dir, "Floating.json", "Floating", "float:statsDock")
    refused = layout_document(args, profile.snapshot_dir, "Refused.json", "Refused", "float:statsDock")
    with open(refused) as f:
        document = json.load(f)
    document["geometry"] = base64.b64encode(b"\x01" * 66).decode()
    with open(refused, "w") as f:
        json.dump(document, f)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        expect(not visible_windows(display, "^Stats$"), "the Stats dock floats before any restore")
        trigger(obs, "obs-velkin.load.Refused.json")
        box = wait_for(lambda: visible_windows(display, "^OBS-Velkin Dock Layouts$"), 10,
                       "no error box for the refused layout")
        time.sleep(0.5)
        expect(not visible_windows(display, "^Stats$"), "the refused layout changed the window")
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "refused-layout.png"))
        close_box(display, box[-1])
        expect((read_settings(profile) or {}).get("last") == "", "a refused layout became the last one")

        trigger(obs, "obs-velkin.load.Floating.json")
        wait_for(lambda: visible_windows(display, "^Stats$"), 10, "the Stats dock did not float out")
        wait_for_last(profile, floating)
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "restored-layout.png"))
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    # The line says why: the geometry is not one that a window saved.
    expect(obs.log_lines("[obs-velkin] RestoreFailed: The snapshot's window geometry is damaged."),
           f"the refused layout was not logged with its reason: {obs.log_lines('RestoreFailed')}")


@check
def check_dialog(args, display):
    """The open hotkey shows the manager in the running OBS; screenshots are kept for a person to judge."""
    profile = Profile(args.build_dir, "dialog")
    for i, (name, arrangement) in enumerate([("Going Live", ()), ("Scene Building", ("float:statsDock",)),
                                             ("Audio Mixing", ("right:mixerDock",)),
                                             ("Late night talk show with guests, two cameras and the big mixer", ())]):
        layout_document(args, profile.snapshot_dir, f"{name}.json", name, *arrangement)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        trigger(obs, "obs-velkin.load.Going Live.json")
        trigger(obs, "obs-velkin.open")
        dialog = wait_for(lambda: visible_windows(display, "^OBS-Velkin Dock Layouts$"), 10, "the dialog did not open")
        time.sleep(1)
        os.makedirs(os.path.join(args.build_dir, "artifacts"), exist_ok=True)
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "dialog.png"))
        xdotool(display, "windowfocus", "--sync", dialog[-1])
        xdotool(display, "type", "--delay", "20", "no such layout")
        time.sleep(0.5)
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "dialog-not-found.png"))
        # Return with no match loads nothing and presses no button.
        xdotool(display, "key", "Return")
        time.sleep(0.5)
        expect(len(visible_windows(display, "^OBS-Velkin Dock Layouts$")) == 1, "Return opened something")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)


def locale_texts(locale):
    """The plug-in's texts in one language, from its locale file."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "data", "locale",
                        f"{locale}.ini")
    with open(path, encoding="utf-8") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


def dialog_report(lines):
    """The last whole report of the manager in the log: its width, and the buttons and the shown labels by their text,
    each with the room that its text has and what the text takes."""
    ends = [i for i, line in enumerate(lines) if line.endswith("Dialog report: end")]
    starts = [i for i, line in enumerate(lines[:ends[-1]]) if "Dialog report: dialog width" in line] if ends else []
    expect(starts, "no whole report of the manager")
    report = {"buttons": {}, "labels": {}}
    for line in lines[starts[-1]:ends[-1]]:
        if found := re.search(r"Dialog report: dialog width (\d+)", line):
            report["width"] = int(found.group(1))
        elif found := re.search(r'Dialog report: button "(.*)" width \d+ room (-?\d+) text (\d+)', line):
            report["buttons"][found.group(1)] = tuple(int(value) for value in found.groups()[1:])
        elif found := re.search(r'Dialog report: label "(.*)" wraps (\d) room (-?\d+)x(-?\d+) text (\d+)x(\d+) '
                                r'left (-?\d+) right (-?\d+) of (\d+)', line):
            report["labels"][found.group(1)] = tuple(int(value) for value in found.groups()[1:])
    return report


# How much wider than in English the manager may be in another language.
WIDER_THAN_ENGLISH = 1.10


@check
def check_languages(args, display):
    """In English, German, Russian and Japanese OBS, the manager is at most a tenth wider than in English, and the
    text of every button and label fits in the room that the style leaves it; a screenshot of each is kept."""
    button_keys = ["SaveNew", "Overwrite", "Load", "Rename", "Delete", "Import", "Export", "Refresh"]
    english_width = None
    for locale in ["en-US", "de-DE", "ru-RU", "ja-JP"]:
        texts = {key: " ".join(value.strip('"').split()) for key, value in locale_texts(locale).items()}
        profile = Profile(args.build_dir, f"language-{locale}")
        with open(os.path.join(profile.obs_config, "global.ini"), "a") as f:
            f.write(f"Language={locale}\n")
        layout_document(args, profile.snapshot_dir, "Going Live.json", "Going Live")
        layout_document(args, profile.snapshot_dir, "Scene Building.json", "Scene Building", "float:statsDock")
        obs = Obs(profile, display, env={"VELKIN_DIALOG_REPORT": "1"}).start()
        try:
            obs.connect()
            trigger(obs, "obs-velkin.open")
            title = "^" + re.escape(texts["Title"]) + "$"
            dialog = until_new_window(display, set(), title, f"the {locale} dialog did not open")
            wait_for(lambda: obs.log_lines("Dialog report: end"), 10, f"the {locale} dialog sent no report")
            # A search that matches nothing shows its note beside the search line. Keys that arrive before the
            # manager has the keyboard are lost: then they are typed again. (Typed before any screenshot: the
            # keys of a search typed after one were lost three times running in OBS 32.)
            noted = lambda: texts["SearchNotFound"] in dialog_report(obs.log_lines("Dialog report: "))["labels"]
            for _ in range(3):
                type_in_manager(display, dialog, "zzz")
                try:
                    wait_for(noted, 5, "")
                    break
                except HostError:
                    pass
            expect(noted(), f"the {locale} dialog reported no note that nothing matches")
            report = dialog_report(obs.log_lines("Dialog report: "))
            # The manager as it opens, for a person to judge.
            keys(display, "<ctrl+a>", "<BackSpace>")
            wait_for(lambda: not noted(), 5, f"the {locale} dialog kept its search")
            obs.screenshot(os.path.join(args.build_dir, "artifacts", f"dialog-{locale}.png"))
        finally:
            code = obs.stop()
        expect_clean_exit(obs, code)

        english_width = english_width or report["width"]
        expect(report["width"] <= english_width * WIDER_THAN_ENGLISH,
               f"{locale}: the manager is {report['width']} px wide, English {english_width} px")
        buttons, labels = report["buttons"], report["labels"]
        for key in button_keys:
            expect(texts[key] in buttons,
                   f"{locale}: no button reads {texts[key]!r}; the buttons are {sorted(buttons)}")
        narrow = {text: (room, needs) for text, (room, needs) in buttons.items() if needs > room}
        expect(not narrow, f"{locale}: these buttons leave their text less room than it takes (room, text): {narrow}")
        for key in ["Help", "SearchNotFound"]:
            expect(texts[key] in labels, f"{locale}: no label reads {texts[key]!r}; the labels are {sorted(labels)}")
        expect(labels[texts["Help"]][0], f"{locale}: the help text does not wrap")
        for text, (wraps, room_width, room_height, width, height, left, right, dialog_width) in labels.items():
            expect(width <= room_width and height <= room_height,
                   f"{locale}: the label {text!r} takes {width}x{height} px and has {room_width}x{room_height}")
            expect(0 <= left and right < dialog_width,
                   f"{locale}: the label {text!r} reaches out of the dialog ({left}..{right} of {dialog_width})")
        spare = min(room - needs for room, needs in buttons.values())
        print(f"  {locale}: the manager {report['width']} px wide (English {english_width}); {len(buttons)} buttons, "
              f"the tightest with {spare} px to spare; {len(labels)} labels fit", flush=True)


def keys(display, *sequence):
    """Types into whatever window has the keyboard: strings are typed, names in angle brackets are pressed, and
    <pause> waits half a second."""
    for item in sequence:
        if item == "<pause>":
            settle(0.5)
        elif item.startswith("<") and item.endswith(">"):
            xdotool(display, "key", "--delay", "30", key_name(display, item[1:-1]))
        else:
            xdotool(display, "type", "--delay", "20", item)
        settle(0.15)


def open_manager(obs, display):
    """Opens the manager with its hotkey and returns its window."""
    before = set(visible_windows(display, "^OBS-Velkin Dock Layouts$"))
    trigger(obs, "obs-velkin.open")
    return until_new_window(display, before, "^OBS-Velkin Dock Layouts$", "the dialog did not open")


def type_in_manager(display, dialog, *sequence):
    """Focuses the manager and types, starting from its search line (Ctrl+F). Keys that arrive before Qt has
    taken the focus are lost, and a search that lost its first letters selects another row: give Qt a moment."""
    xdotool(display, "windowfocus", "--sync", dialog)
    settle(0.3)
    keys(display, "<ctrl+f>", *sequence)


def until_new_window(display, before, pattern, message):
    """Waits for a window that was not there before and gives it the keyboard: typing starts only once the X server
    says that it has the focus, and Qt had a moment to take it."""
    window = sorted(wait_for(lambda: set(visible_windows(display, pattern)) - before, 10, message))[-1]
    settle(0.3)
    xdotool(display, "windowfocus", "--sync", window)
    wait_for(lambda: xdotool_output(display, "getwindowfocus") == window, 5, f"{message}: the window took no focus")
    settle(0.3)
    return window


def typed_path(path):
    """Keys that type an absolute path into a file dialog. Its completion list pops up after every "/" and
    swallows the key that is on its way then, so each folder of the path is followed by a pause."""
    *folders, name = path.split("/")
    typed = ["<ctrl+a>"]
    for folder in folders:
        typed += [folder + "/", "<pause>"]
    return (*typed, name, "<pause>", "<Return>")


def answer_window(display, before, pattern, message, sequence, done, failure, file_dialog=False):
    """Types into the window that opens until its effect shows. Keys that arrive before Qt has taken the focus are
    lost without a trace, so while the window is still open the same keys are typed again. In a file dialog, a
    path's completion list may pop up and take the first Return: a second Return is tried before all again."""
    window = until_new_window(display, before, pattern, message)
    # The failure names what is there: keys lost on their way leave a file under another name.
    failed = lambda: HostError(failure() if callable(failure) else failure)
    for attempt in range(3):
        if attempt:
            xdotool(display, "windowfocus", "--sync", window)
            settle(0.3)
        for typed in (sequence, ("<Return>",)) if file_dialog else (sequence,):
            keys(display, *typed)
            try:
                return wait_for(done, 5, "")
            except HostError:
                if window not in visible_windows(display, pattern):
                    raise failed()
    raise failed()


def load_hotkey_names(obs):
    _, hotkeys = obs.request("GetHotkeyList")
    return sorted(name for name in hotkeys["hotkeys"] if name.startswith("obs-velkin.load."))


@check
def check_manage(args, display):
    """Rename, delete, export and import from the keyboard in the running OBS's dialog."""
    profile = Profile(args.build_dir, "manage")
    for name, arrangement in [("Alpha", ()), ("Beta", ("float:statsDock",))]:
        layout_document(args, profile.snapshot_dir, f"{name}.json", name, *arrangement)
    f10 = [{"key": "OBS_KEY_F10"}]
    with open(profile.settings_path, "w") as f:
        json.dump({"snapshotOrder": ["Alpha.json", "Beta.json"], "snapshotHotkeys": {"Beta.json": f10}}, f)
    exported = os.path.join(profile.home, "exported", "Gamma.json")
    os.makedirs(os.path.dirname(exported))
    snapshot = lambda name: os.path.join(profile.snapshot_dir, name)
    title = "^OBS-Velkin Dock Layouts$"
    obs = Obs(profile, display).start()
    try:
        obs.connect()

        def answer(before, pattern, message, sequence, done, failure, file_dialog=False):
            return answer_window(display, before, pattern, message, sequence, done, failure, file_dialog)

        dialog = open_manager(obs, display)
        in_dialog = functools.partial(type_in_manager, display, dialog)

        # Rename Beta to Gamma with F2 in the list.
        before = set(visible_windows(display, title))
        in_dialog("Beta", "<Tab>", "<F2>")
        answer(before, title, "F2 opened no prompt", ("<ctrl+a>", "Gamma", "<Return>"),
               lambda: os.path.exists(snapshot("Gamma.json")) and not os.path.exists(snapshot("Beta.json")),
               lambda: f"the rename did not move Beta.json to Gamma.json: {sorted(os.listdir(profile.snapshot_dir))}")
        settings = read_settings(profile)
        expect(settings["snapshotOrder"] == ["Alpha.json", "Gamma.json"], f"order {settings['snapshotOrder']}")
        expect(settings["snapshotHotkeys"].get("Gamma.json") == f10, f"bindings {settings['snapshotHotkeys']}")
        expect(load_hotkey_names(obs) == ["obs-velkin.load.Alpha.json", "obs-velkin.load.Gamma.json"],
               f"hotkeys {load_hotkey_names(obs)}")

        # Delete Alpha with the Delete key; Return answers the question with its default, Continue.
        before = set(visible_windows(display, title))
        in_dialog("Alpha", "<Tab>", "<Delete>")
        answer(before, title, "Delete asked nothing", ("<Return>",), lambda: not os.path.exists(snapshot("Alpha.json")),
               "Alpha.json was not deleted")
        expect(read_settings(profile)["snapshotOrder"] == ["Gamma.json"], "the order kept Alpha")
        expect(load_hotkey_names(obs) == ["obs-velkin.load.Gamma.json"], f"hotkeys {load_hotkey_names(obs)}")

        # Export Gamma: Tab from the list down to the Export button, then the save dialog.
        before = set(visible_windows(display, "^Export$"))
        in_dialog("Gamma", "<Tab>", *["<Tab>"] * 7, "<space>")
        answer(before, "^Export$", "no export dialog", typed_path(exported),
               lambda: os.path.exists(exported), "nothing was exported", file_dialog=True)
        with open(exported) as f:
            expect(json.load(f)["name"] == "Gamma", "the exported document lost its name")

        # Delete Gamma, then import it back: it returns under its stored name, without its old binding.
        before = set(visible_windows(display, title))
        in_dialog("Gamma", "<Tab>", "<Delete>")
        answer(before, title, "Delete asked nothing", ("<Return>",), lambda: not os.path.exists(snapshot("Gamma.json")),
               "Gamma.json was not deleted")
        before = set(visible_windows(display, "^Import$"))
        # With no snapshot the buttons that need one are disabled and out of the Tab chain.
        in_dialog("<Tab>", "<Tab>", "<Tab>", "<space>")
        answer(before, "^Import$", "no import dialog", typed_path(exported),
               lambda: os.path.exists(snapshot("Gamma.json")), "nothing was imported", file_dialog=True)
        settings = wait_for(lambda: (s := read_settings(profile)) and s["snapshotOrder"] == ["Gamma.json"] and s, 10,
                            "the import did not reach settings.json")
        expect(not settings["snapshotHotkeys"].get("Gamma.json"), "the re-imported snapshot kept an old binding")
        expect(settings["last"] == "", "an import became the last snapshot")
        expect(load_hotkey_names(obs) == ["obs-velkin.load.Gamma.json"], f"hotkeys {load_hotkey_names(obs)}")
        expect(os.path.exists(exported), "the imported file was moved away")
    except HostError:
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "manage-failure.png"))
        raise
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)


@check
def check_xdg_trailing_slash(args, display):
    """With XDG_CONFIG_HOME ending in "/", OBS gives the plug-in a path with "//": Overwrite in the dialog works."""
    profile = Profile(args.build_dir, "xdg-slash")
    live = layout_document(args, profile.snapshot_dir, "Live.json", "Live", "float:statsDock")
    layout_document(args, profile.snapshot_dir, "Talk.json", "Talk")
    with open(live, "rb") as f:
        stored = f.read()
    with open(profile.settings_path, "w") as f:
        json.dump({"snapshotOrder": ["Live.json", "Talk.json"]}, f)
    title = "^OBS-Velkin Dock Layouts$"
    obs = Obs(profile, display, env={"XDG_CONFIG_HOME": os.path.join(profile.home, ".config") + "/"}).start()
    try:
        obs.connect()
        # The window as it is now (Stats docked) differs from the stored Live, which floats it.
        expect(not visible_windows(display, "^Stats$"), "the Stats dock floats before any restore")
        before = set(visible_windows(display, title))
        trigger(obs, "obs-velkin.open")
        dialog = sorted(wait_for(lambda: set(visible_windows(display, title)) - before, 10, "the dialog did not open"))[-1]
        time.sleep(0.5)
        # Search selects Live; Tab goes to the list, Save New and then Overwrite.
        xdotool(display, "windowfocus", "--sync", dialog)
        keys(display, "<ctrl+f>", "Live", "<Tab>", "<Tab>", "<Tab>")
        before = set(visible_windows(display, title))
        for attempt in range(3):
            keys(display, "<space>")
            try:
                question = sorted(wait_for(lambda: set(visible_windows(display, title)) - before, 3, ""))[-1]
                break
            except HostError:
                xdotool(display, "windowfocus", "--sync", dialog)
        else:
            raise HostError("Overwrite asked nothing")
        # Cancel is the question's default: Shift+Tab reaches Continue.
        time.sleep(0.3)
        xdotool(display, "windowfocus", "--sync", question)
        keys(display, "<shift+Tab>", "<space>")

        def rewritten():
            with open(live, "rb") as f:
                return f.read() != stored

        wait_for(rewritten, 10, "Overwrite did not rewrite Live.json")
        wait_for_last(profile, live)
        time.sleep(0.5)
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "xdg-trailing-slash.png"))
    except HostError:
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "xdg-trailing-slash-failure.png"))
        raise
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    with open(live) as f:
        document = json.load(f)
    expect(document["name"] == "Live", f"the overwritten document is named {document['name']!r}")
    expect(sorted(os.listdir(profile.snapshot_dir)) == ["Live.json", "Talk.json"],
           f"the snapshot folder holds {sorted(os.listdir(profile.snapshot_dir))}")
    settings = read_settings(profile)
    expect(settings["last"] == live, f"last is {settings['last']!r}")
    expect(settings["snapshotOrder"] == ["Live.json", "Talk.json"], f"the order is {settings['snapshotOrder']}")
    expect(plugin_lines(obs) == [load_line(args)], f"unexpected plug-in log lines: {plugin_lines(obs)}")


@check
def check_exit_during_question(args, display):
    """Quitting OBS while the missing-docks question is open shuts down cleanly and applies nothing."""
    profile = Profile(args.build_dir, "exit-question")
    plain = layout_document(args, profile.snapshot_dir, "Plain.json", "Plain")
    elsewhere = layout_document(args, profile.snapshot_dir, "Elsewhere.json", "Elsewhere", "float:statsDock")
    with open(elsewhere) as f:
        document = json.load(f)
    document["docks"].append("chatDock")
    with open(elsewhere, "w") as f:
        json.dump(document, f)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        trigger(obs, "obs-velkin.load.Plain.json")
        wait_for_last(profile, plain)
        trigger(obs, "obs-velkin.load.Elsewhere.json")
        wait_for(lambda: visible_windows(display, "^OBS-Velkin Dock Layouts$"), 10, "no missing-docks question")
        time.sleep(0.5)
        # Elsewhere floats the Stats dock, which Plain hides.
        expect(not visible_windows(display, "^Stats$"), "the layout of the unanswered question was applied")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    settings = read_settings(profile)
    expect(settings["last"] == plain, f"the unanswered load became the last one: {settings['last']}")


# The titles that OBS gives its core docks; a floating dock is a window of its own with that name.
DOCK_TITLES = {"scenesDock": "Scenes", "sourcesDock": "Sources", "mixerDock": "Audio Mixer",
               "transitionsDock": "Scene Transitions", "controlsDock": "Controls", "statsDock": "Stats"}


def floating_docks(display):
    """The titles of the mapped top-level windows that are core docks. A dock put back into the main window keeps
    its X window and its name there, as a child of the main window, so only the root's children count."""
    result = subprocess.run(["xdotool", "search", "--onlyvisible", "--maxdepth", "1", "--name",
                             "^(" + "|".join(DOCK_TITLES.values()) + ")$", "getwindowname", "%@"],
                            env={**os.environ, "DISPLAY": display.name}, capture_output=True, text=True)
    return set(result.stdout.splitlines())


def automation_layouts(args, profile, floating):
    """One real snapshot per name, told apart by the core docks that float in it. Returns {name: path}."""
    return {name: layout_document(args, profile.snapshot_dir, f"{name}.json", name,
                                  *(f"float:{dock}" for dock in docks))
            for name, docks in floating.items()}


def write_automation(profile, rules, restore_previous=True):
    os.makedirs(profile.plugin_config, exist_ok=True)
    with open(os.path.join(profile.plugin_config, "automation.json"), "w", encoding="utf-8") as f:
        json.dump({"rules": [{"event": event, "snapshot": f"{name}.json"} for event, name in rules],
                   "restorePreviousOnStop": restore_previous}, f, indent=4)


def call(obs, request_type, data=None, timeout=30):
    """A request that must succeed. OBS 32's obs-websocket answers "not ready" while a scene collection changes."""
    deadline = time.time() + timeout
    while True:
        status, response = obs.request(request_type, data)
        if status["result"]:
            return response
        if status.get("code") != WEBSOCKET_NOT_READY or time.time() > deadline:
            raise HostError(f"{request_type} failed: {status}")
        time.sleep(0.3)


class Layouts:
    """What a check expects of the window: the floating docks of a snapshot and the last one in settings.json."""

    def __init__(self, obs, display, paths, floating):
        self.obs = obs
        self.display = display
        self.paths = paths
        self.titles = {name: {DOCK_TITLES[dock] for dock in docks} for name, docks in floating.items()}

    def seen(self):
        return floating_docks(self.display), (read_settings(self.obs.profile) or {}).get("last")

    def expect(self, name, why, timeout=20):
        """Waits for the snapshot `name` (None: OBS's own layout with no snapshot loaded yet) to be in place."""
        wanted = (self.titles.get(name, set()), self.paths.get(name, ""))
        try:
            wait_for(lambda: self.seen() == wanted, timeout, "")
        except HostError:
            floating, last = self.seen()
            raise HostError(f"{why}: expected {name or 'the layout before any load'} (floating {sorted(wanted[0])}, "
                            f"last {wanted[1]!r}), but {sorted(floating)} float and last is {last!r}")

    def expect_unchanged(self, name, why):
        """Nothing may happen: gives a stray load time to show, then expects the same layout."""
        time.sleep(1.5)
        self.expect(name, why, timeout=0.5)


def wait_for_log_count(obs, text, count, timeout=30):
    wait_for(lambda: len(obs.log_lines(text)) >= count, timeout, f"OBS logged {text!r} fewer than {count} times")


def output_active(obs, status_request):
    return call(obs, status_request)["outputActive"]


def start_tool(command, log_path, env=None):
    """Starts a helper program from the build root's packages, its output going to a file."""
    try:
        with open(log_path, "w") as log:
            return subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=env, start_new_session=True)
    except FileNotFoundError:
        raise HostError(f"{command[0]} is not installed (scripts/root-packages.txt lists it for the build roots)")


def listening(port):
    """Whether something listens on the TCP port of 127.0.0.1 (read from /proc, without connecting to it)."""
    with open("/proc/net/tcp") as f:
        return any(fields[1] == f"0100007F:{port:04X}" and fields[3] == "0A"
                   for fields in (line.split() for line in list(f)[1:]))


@check
def check_automation(args, display):
    """Rules load snapshots on recording, studio mode, streaming, collection and profile events; undo puts back."""
    profile = Profile(args.build_dir, "automation")
    floating = {"Recording": ["statsDock"], "StudioOn": ["mixerDock"], "StudioOff": ["controlsDock"],
                "Streaming": ["sourcesDock"], "StreamOver": ["scenesDock"], "Collection": ["statsDock", "controlsDock"],
                "Profile": ["transitionsDock"], "Manual": ["statsDock", "mixerDock"]}
    paths = automation_layouts(args, profile, floating)
    # No rules for recordingStopped: the stop puts back what the start replaced. streamingStopped has its own.
    write_automation(profile, [("recordingStarted", "Recording"), ("studioModeEnabled", "StudioOn"),
                               ("studioModeDisabled", "StudioOff"), ("streamingStarted", "Streaming"),
                               ("streamingStopped", "StreamOver"), ("sceneCollectionChanged", "Collection"),
                               ("profileChanged", "Profile")])
    recordings = os.path.join(profile.home, "recordings")
    os.makedirs(recordings)
    port = free_port()
    listener = None
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        layouts = Layouts(obs, display, paths, floating)
        layouts.expect(None, "no rule is for the start, yet the start loaded a snapshot")
        call(obs, "SetRecordDirectory", {"recordDirectory": recordings})

        # Recording: the rule's layout comes at the start and the one from before comes back at the stop.
        call(obs, "StartRecord")
        layouts.expect("Recording", "recording started")
        call(obs, "StopRecord")
        layouts.expect(None, "recording stopped after an automatic load")
        wait_for(lambda: not output_active(obs, "GetRecordStatus"), 30, "the recording did not stop")
        expect(os.listdir(recordings), "OBS recorded no file")

        # A load by hand during the recording wins: the stop leaves it alone.
        call(obs, "StartRecord")
        layouts.expect("Recording", "recording started again")
        trigger(obs, "obs-velkin.load.Manual.json")
        layouts.expect("Manual", "a load by hand while recording")
        call(obs, "StopRecord")
        wait_for_log_count(obs, "==== Recording Stop ====", 2)
        layouts.expect_unchanged("Manual", "recording stopped after a load by hand")

        for enabled, name in [(True, "StudioOn"), (False, "StudioOff")]:
            call(obs, "SetStudioModeEnabled", {"studioModeEnabled": enabled})
            layouts.expect(name, f"studio mode {'enabled' if enabled else 'disabled'}")

        # Undo goes back to the layout and the last snapshot from before the most recent load.
        trigger(obs, "obs-velkin.undo")
        layouts.expect("StudioOn", "undo after studio mode was disabled")

        # Streaming to a listener of our own on 127.0.0.1; the stop has a rule of its own, which wins over
        # putting back the layout from before the start.
        listener = start_tool(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "warning", "-listen", "1",
                               "-i", f"rtmp://127.0.0.1:{port}/live/velkin", "-f", "null", "-"],
                              os.path.join(profile.home, "rtmp-listener.txt"))
        wait_for(lambda: listening(port) or listener.poll() is not None, 20, "the RTMP listener did not start")
        expect(listener.poll() is None, f"the RTMP listener ended with code {listener.returncode}")
        call(obs, "SetStreamServiceSettings", {"streamServiceType": "rtmp_custom", "streamServiceSettings": {
            "server": f"rtmp://127.0.0.1:{port}/live", "key": "velkin"}})
        call(obs, "StartStream")
        layouts.expect("Streaming", "streaming started")
        expect(output_active(obs, "GetStreamStatus"), "the stream is not active")
        call(obs, "StopStream")
        layouts.expect("StreamOver", "streaming stopped")
        wait_for(lambda: listener.poll() is not None, 30, "the RTMP listener did not end with the stream")

        # Both of these switch to what they create.
        call(obs, "CreateSceneCollection", {"sceneCollectionName": "Velkin Second"})
        layouts.expect("Collection", "a new scene collection")
        first_profile = call(obs, "GetProfileList")["currentProfileName"]
        call(obs, "CreateProfile", {"profileName": "Velkin Second"})
        layouts.expect("Profile", "a new profile")
        trigger(obs, "obs-velkin.load.Manual.json")
        layouts.expect("Manual", "a load by hand")
        call(obs, "SetCurrentProfile", {"profileName": first_profile})
        layouts.expect("Profile", "the first profile again")
    except HostError:
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "automation-failure.png"))
        raise
    finally:
        if listener and listener.poll() is None:
            listener.kill()
            listener.wait()
        code = obs.stop()
    expect_clean_exit(obs, code)
    expect(plugin_lines(obs) == [load_line(args)], f"unexpected plug-in log lines: {plugin_lines(obs)}")


class TrayHost:
    """stalonetray, a system tray for a display that has none, with its one row of icons in the bottom right corner
    of the screen, clear of every window the checks place."""

    ICON_SIZE = 24

    def __init__(self, display, log_path):
        self.display = display
        self.last_click = 0.0
        geometry = subprocess.run(["xdotool", "getdisplaygeometry"], env={**os.environ, "DISPLAY": display.name},
                                  capture_output=True, text=True, check=True).stdout.split()
        self.x, self.y = (int(size) - self.ICON_SIZE for size in geometry)
        # Once more when it ends at once (it did once in a run of the test command, with code 255).
        for attempt in range(2):
            self.process = start_tool(
                ["stalonetray", "--geometry", f"1x1+{self.x}+{self.y}", "--icon-size", str(self.ICON_SIZE)],
                log_path, env={**os.environ, "HOME": os.path.dirname(log_path), "DISPLAY": display.name})
            try:
                wait_for(lambda: self.owns_tray() or self.process.poll() is not None, 10, "the tray host did not start")
                if self.process.poll() is not None and attempt == 0:
                    time.sleep(0.5)
                    continue
                expect(self.process.poll() is None, f"the tray host ended with code {self.process.returncode}")
                break
            except HostError:
                self.close()
                raise

    def owns_tray(self):
        """Whether a program owns the tray selection of screen 0, which is what Qt looks for."""
        import ctypes

        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XGetSelectionOwner.restype = ctypes.c_ulong
        x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        connection = x11.XOpenDisplay(self.display.name.encode())
        if not connection:
            raise HostError(f"cannot open display {self.display.name}")
        try:
            return x11.XGetSelectionOwner(connection, x11.XInternAtom(connection, b"_NET_SYSTEM_TRAY_S0", 0)) != 0
        finally:
            x11.XCloseDisplay(connection)

    def click_until(self, shown):
        """Clicks the first icon, OBS's, which shows or hides the main window, until the window is as wanted."""
        middle = self.ICON_SIZE // 2
        for _ in range(3):
            # Two clicks within Qt's double-click interval (400 ms) make a double click, which OBS ignores.
            time.sleep(max(0.0, self.last_click + 1.0 - time.time()))
            xdotool(self.display, "mousemove", str(self.x + middle), str(self.y + middle), "click", "1")
            self.last_click = time.time()
            try:
                return wait_for(lambda: main_window_shown(self.display) == shown, 10, "")
            except HostError:
                pass
        raise HostError(f"the tray icon did not {'show' if shown else 'hide'} the main window")

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def main_window_shown(display):
    return bool(visible_windows(display, "^OBS .* - Profile: "))


@check
def check_automation_start(args, display):
    """An obsStarted rule loads its snapshot once OBS has started, and with --minimize-to-tray at the first show."""
    floating = {"Started": ["statsDock"], "Manual": ["statsDock", "mixerDock"]}
    rules = [("obsStarted", "Started")]

    profile = Profile(args.build_dir, "automation-start")
    paths = automation_layouts(args, profile, floating)
    write_automation(profile, rules)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        Layouts(obs, display, paths, floating).expect("Started", "OBS started")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    expect(plugin_lines(obs) == [load_line(args)], f"unexpected plug-in log lines: {plugin_lines(obs)}")

    # Xvfb has no tray, and without one OBS ignores --minimize-to-tray.
    profile = Profile(args.build_dir, "automation-tray")
    paths = automation_layouts(args, profile, floating)
    write_automation(profile, rules)
    tray = TrayHost(display, os.path.join(profile.home, "tray-host.txt"))
    obs = Obs(profile, display, args=["--minimize-to-tray"]).start()
    try:
        obs.connect()
        layouts = Layouts(obs, display, paths, floating)
        expect(not main_window_shown(display), "OBS showed its main window despite --minimize-to-tray")
        # The plug-in is active by now; the rule waits for the window.
        layouts.expect_unchanged(None, "OBS started hidden in the tray")
        tray.click_until(shown=True)
        layouts.expect("Started", "the main window was shown for the first time")

        # Only the first show counts.
        trigger(obs, "obs-velkin.load.Manual.json")
        layouts.expect("Manual", "a load by hand")
        tray.click_until(shown=False)
        tray.click_until(shown=True)
        layouts.expect_unchanged("Manual", "the main window was shown again")
    except HostError:
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "automation-tray-failure.png"))
        raise
    finally:
        # OBS that has stayed hidden in the tray does not quit on SIGINT (OBS 30 and 32 alike): show it first.
        if obs.process.poll() is None and not main_window_shown(display):
            try:
                tray.click_until(shown=True)
            except HostError:
                pass
        code = obs.stop()
        tray.close()
    expect_clean_exit(obs, code)
    expect(plugin_lines(obs) == [load_line(args)], f"unexpected plug-in log lines: {plugin_lines(obs)}")


VENDOR = "obs-velkin"
# obs-websocket's EventSubscription::Vendors: the client receives VendorEvent messages.
VENDOR_EVENTS = 1 << 9
# obs-websocket's own status when CallVendorRequest names no vendor or no request of the vendor.
RESOURCE_NOT_FOUND = 600


def vendor_call(obs, request_type, data=None, vendor=VENDOR):
    """One of the plug-in's requests (or another vendor's) through CallVendorRequest; returns the vendor's own
    answer."""
    response = call(obs, "CallVendorRequest", {"vendorName": vendor, "requestType": request_type,
                                                "requestData": data or {}})
    expect(response.get("vendorName") == vendor and response.get("requestType") == request_type,
           f"CallVendorRequest {request_type} came back as {response}")
    return response.get("responseData")


def vendor_batch_entry(request_type, data=None):
    return {"requestType": "CallVendorRequest",
            "requestData": {"vendorName": VENDOR, "requestType": request_type, "requestData": data or {}}}


def expect_vendor_error(obs, request_type, data, code):
    answer = vendor_call(obs, request_type, data)
    expect(sorted(answer or {}) == ["error", "message"] and answer["error"] == code and answer["message"],
           f"{request_type} {data}: expected the error {code} with a message, got {answer}")


class VendorEvents:
    """The plug-in's vendor events as one client receives them. obs-websocket sends each event from a thread pool of
    its own, so the events of one action can arrive in any order."""

    def __init__(self, obs):
        self.obs = obs
        # "DockChanged" events, which come beside the others, as they came.
        self.dock_changes = []

    def take(self, timeout):
        """(eventType, eventData) of the next event of the plug-in but "DockChanged", or None when none came in
        time."""
        deadline = time.time() + timeout
        while True:
            event = self.obs.next_event(max(0.0, deadline - time.time()))
            if event is None:
                return None
            data = event.get("eventData", {})
            if event.get("eventType") == "VendorEvent" and data.get("vendorName") == VENDOR:
                if data.get("eventType") == "DockChanged":
                    self.dock_changes.append(data.get("eventData", {}))
                    continue
                return data.get("eventType"), data.get("eventData", {})

    def expect(self, why, *expected, timeout=30):
        """Waits for as many events as expected and expects exactly those."""
        deadline = time.time() + timeout
        seen = []
        while len(seen) < len(expected):
            event = self.take(max(0.0, deadline - time.time()))
            if event is None:
                raise HostError(f"{why}: expected the events {list(expected)}, but only {seen} came")
            seen.append(event)
        as_text = lambda event: json.dumps(event, sort_keys=True)
        expect(sorted(map(as_text, seen)) == sorted(map(as_text, expected)),
               f"{why}: expected the events {list(expected)}, got {seen}")

    def expect_none(self, why):
        """Nothing more may come: gives a stray event time to arrive."""
        event = self.take(1.5)
        expect(event is None, f"{why}: an unexpected event {event}")


def loaded(name, source="remote"):
    return "SnapshotLoaded", {"name": name, "fileName": f"{name}.json", "source": source}


LIST_CHANGED = ("SnapshotListChanged", {})


def listed(items, member):
    """The values of a list in an answer. obs-websocket carries answers as obs_data, whose arrays hold objects only,
    so the plug-in sends a list of names as objects with one member each."""
    expect(isinstance(items, list) and all(isinstance(item, dict) and list(item) == [member] for item in items),
           f"a list in an answer is {items!r}, not a list of objects with the member {member!r}")
    return [item[member] for item in items]


def expect_listing(profile, listing, expected, last, why):
    """A GetSnapshotList answer: expected holds (name, hasHotkey, rules) in list order; last is a file name or None.
    obs_data has no null either: without a last snapshot, the member is missing."""
    entries = listing.get("snapshots", [])
    summary = [(entry.get("name"), entry.get("hasHotkey"), sorted(listed(entry.get("rules"), "event")))
               for entry in entries]
    expect(summary == [(name, hotkey, sorted(rules)) for name, hotkey, rules in expected],
           f"{why}: the list holds {summary}")
    order = read_settings(profile)["snapshotOrder"]
    for position, entry in enumerate(entries, 1):
        expect(sorted(entry) == ["fileName", "hasHotkey", "modified", "name", "position", "rules"],
               f"{why}: an entry has the members {sorted(entry)}")
        expect(entry["fileName"] == f"{entry['name']}.json" and entry["position"] == position,
               f"{why}: entry {position} is {entry}")
        expect(order[position - 1] == entry["fileName"], f"{why}: the list differs from settings.json's {order}")
        try:
            stamp = datetime.datetime.fromisoformat(entry["modified"])
        except (TypeError, ValueError):
            raise HostError(f"{why}: {entry['name']} was modified at {entry['modified']!r}, no ISO 8601 time")
        # A time without an offset is local time; the text may hold whole seconds only.
        written = os.stat(os.path.join(profile.snapshot_dir, entry["fileName"])).st_mtime
        expect(abs(stamp.astimezone().timestamp() - written) < 2,
               f"{why}: {entry['name']} was modified at {entry['modified']}, its file at {written}")
    expect(len(order) == len(entries), f"{why}: settings.json orders {order}")
    expect(listing.get("last") == last, f"{why}: the last snapshot is {listing.get('last')!r}, not {last!r}")


@check
def check_remote(args, display):
    """The plug-in's obs-websocket requests and vendor events, the dialog's changes as events, and a burst of loads."""
    profile = Profile(args.build_dir, "remote")
    floating = {"Alpha": ["statsDock"], "Gamma": ["controlsDock"], "Epsilon": ["statsDock", "mixerDock"],
                "Delta": []}
    paths = automation_layouts(args, profile, {name: docks for name, docks in floating.items() if name != "Delta"})
    # Epsilon also names a dock that this OBS lacks: a remote load applies it without asking.
    with open(paths["Epsilon"]) as f:
        document = json.load(f)
    document["docks"].append("chatDock")
    with open(paths["Epsilon"], "w") as f:
        json.dump(document, f)
    write_automation(profile, [("recordingStarted", "Alpha"), ("studioModeEnabled", "Alpha")])
    with open(profile.settings_path, "w") as f:
        json.dump({"snapshotOrder": ["Alpha.json", "Gamma.json", "Epsilon.json"],
                   "snapshotHotkeys": {"Gamma.json": [{"key": "OBS_KEY_F10"}]}}, f)
    alpha_rules = ["recordingStarted", "studioModeEnabled"]
    title = "^OBS-Velkin Dock Layouts$"
    obs = Obs(profile, display).start()
    try:
        obs.connect(event_subscriptions=VENDOR_EVENTS)
        print(f"  obs-websocket {call(obs, 'GetVersion')['obsWebSocketVersion']}")
        events = VendorEvents(obs)
        layouts = Layouts(obs, display, paths, floating)
        # The vendor is registered at activation, which connect() waits for.
        listing = vendor_call(obs, "GetSnapshotList")
        expect_listing(profile, listing, [("Alpha", False, alpha_rules), ("Gamma", True, []), ("Epsilon", False, [])],
                       None, "at the start")

        # Refused requests change nothing and tell no one.
        status, _ = obs.request("CallVendorRequest", {"vendorName": VENDOR, "requestType": "NoSuchRequest"})
        expect(not status["result"] and status.get("code") == RESOURCE_NOT_FOUND,
               f"an unknown request was answered with {status}")
        folder = sorted(os.listdir(profile.snapshot_dir))
        for request_type, data, code in [
            ("LoadSnapshot", {"fileName": "../settings.json"}, "NotFound"),
            # The file exists by that path, but a file name has no folder.
            ("LoadSnapshot", {"fileName": "../snapshots/Alpha.json"}, "NotFound"),
            ("LoadSnapshot", {"fileName": "Missing.json"}, "NotFound"),
            ("LoadSnapshot", {"name": "Missing"}, "NotFound"),
            ("LoadSnapshot", {}, "BadRequest"),
            ("UndoLoad", {}, "NotFound"),
            ("SaveSnapshot", {"name": "alpha"}, "DuplicateName"),
            ("SaveSnapshot", {"name": "a/b"}, "InvalidName"),
        ]:
            expect_vendor_error(obs, request_type, data, code)
        expect(sorted(os.listdir(profile.snapshot_dir)) == folder, "a refused request changed the snapshot folder")
        layouts.expect(None, "refused requests")

        # Save New captures OBS's own layout, in which nothing floats.
        expect(vendor_call(obs, "SaveSnapshot", {"name": "Delta"}) == {"fileName": "Delta.json"}, "Save New")
        events.expect("Save New", LIST_CHANGED)
        paths["Delta"] = os.path.join(profile.snapshot_dir, "Delta.json")
        with open(paths["Delta"], "rb") as f:
            saved = f.read()
        expect_vendor_error(obs, "SaveSnapshot", {"name": "Delta"}, "DuplicateName")
        expect_vendor_error(obs, "SaveSnapshot", {"name": "Delta", "overwrite": False}, "DuplicateName")
        with open(paths["Delta"], "rb") as f:
            expect(f.read() == saved, "a refused Save changed Delta.json")
        listing = vendor_call(obs, "GetSnapshotList")
        names = [entry["name"] for entry in listing["snapshots"]]
        expect([name for name in names if name != "Delta"] == ["Alpha", "Gamma", "Epsilon"],
               f"Save New reordered the list: {names}")
        # What was saved is the last snapshot now, as after Save New in the dialog.
        expect_listing(profile, listing, [(name, name == "Gamma", alpha_rules if name == "Alpha" else [])
                                          for name in names], "Delta.json", "after Save New")
        wait_for_last(profile, paths["Delta"])

        # Loads by name and by file name, then undo.
        for data, name in [({"name": "Alpha"}, "Alpha"), ({"fileName": "Delta.json"}, "Delta")]:
            answer = vendor_call(obs, "LoadSnapshot", data)
            expect(answer == {"loaded": True, "fileName": f"{name}.json", "missingDocks": []},
                   f"LoadSnapshot {data}: {answer}")
            events.expect(f"LoadSnapshot {data}", loaded(name))
            layouts.expect(name, f"LoadSnapshot {data}")
        answer = vendor_call(obs, "UndoLoad")
        expect(answer == {"loaded": True, "fileName": "Alpha.json", "missingDocks": []}, f"UndoLoad: {answer}")
        events.expect("UndoLoad", loaded("Alpha", "undo"))
        layouts.expect("Alpha", "UndoLoad")

        # Next and previous follow the list from the last snapshot.
        alpha = names.index("Alpha")
        for request_type, position in [("LoadNextSnapshot", (alpha + 1) % len(names)),
                                       ("LoadPreviousSnapshot", alpha)]:
            name = names[position]
            answer = vendor_call(obs, request_type)
            expect(answer == {"loaded": True, "fileName": f"{name}.json", "missingDocks": []},
                   f"{request_type}: {answer}")
            events.expect(request_type, loaded(name))
            layouts.expect(name, request_type)

        # A snapshot with a dock that OBS lacks loads without a question.
        answer = vendor_call(obs, "LoadSnapshot", {"fileName": "Epsilon.json"})
        expect(answer == {"loaded": True, "fileName": "Epsilon.json", "missingDocks": [{"name": "chatDock"}]},
               f"LoadSnapshot of Epsilon: {answer}")
        events.expect("LoadSnapshot of Epsilon", loaded("Epsilon"))
        layouts.expect("Epsilon", "LoadSnapshot of Epsilon")
        expect(not visible_windows(display, title), "a remote load opened a window")

        # Overwrite keeps the file and its place, with the layout of now.
        answer = vendor_call(obs, "SaveSnapshot", {"name": "Delta", "overwrite": True})
        expect(answer == {"fileName": "Delta.json"}, f"Overwrite: {answer}")
        events.expect("Overwrite", LIST_CHANGED)
        with open(paths["Delta"], "rb") as f:
            expect(f.read() != saved, "Overwrite did not rewrite Delta.json")
        expect([entry["name"] for entry in vendor_call(obs, "GetSnapshotList")["snapshots"]] == names,
               "Overwrite changed the list")
        layouts.titles["Delta"] = layouts.titles["Epsilon"]
        vendor_call(obs, "LoadSnapshot", {"name": "Alpha"})
        events.expect("LoadSnapshot of Alpha", loaded("Alpha"))
        vendor_call(obs, "LoadSnapshot", {"name": "Delta"})
        events.expect("LoadSnapshot of the overwritten Delta", loaded("Delta"))
        layouts.expect("Delta", "LoadSnapshot of the overwritten Delta")

        # Rename Gamma to Omega and delete Epsilon in the dialog.
        dialog = open_manager(obs, display)
        in_dialog = functools.partial(type_in_manager, display, dialog)

        snapshot = lambda name: os.path.join(profile.snapshot_dir, name)
        before = set(visible_windows(display, title))
        in_dialog("Gamma", "<Tab>", "<F2>")
        answer_window(display, before, title, "F2 opened no prompt", ("<ctrl+a>", "Omega", "<Return>"),
                      lambda: os.path.exists(snapshot("Omega.json")) and not os.path.exists(snapshot("Gamma.json")),
                      lambda: f"the rename did not move Gamma.json to Omega.json: {sorted(os.listdir(profile.snapshot_dir))}")
        events.expect("a rename in the dialog", LIST_CHANGED)
        before = set(visible_windows(display, title))
        in_dialog("Epsilon", "<Tab>", "<Delete>")
        answer_window(display, before, title, "Delete asked nothing", ("<Return>",),
                      lambda: not os.path.exists(snapshot("Epsilon.json")), "Epsilon.json was not deleted")
        events.expect("a delete in the dialog", LIST_CHANGED)
        wait_for(lambda: set(visible_windows(display, title)) <= before, 10, "the delete's question stayed open")
        close_manager(display, dialog)
        wait_for(lambda: not visible_windows(display, title), 10, "the dialog did not close")
        paths["Omega"] = snapshot("Omega.json")
        layouts.titles["Omega"] = layouts.titles["Gamma"]

        listing = vendor_call(obs, "GetSnapshotList")
        names = [entry["name"] for entry in listing["snapshots"]]
        expect(sorted(names) == ["Alpha", "Delta", "Omega"], f"after the dialog the list holds {names}")
        # The binding follows the rename.
        expect_listing(profile, listing, [(name, name == "Omega", alpha_rules if name == "Alpha" else [])
                                          for name in names], "Delta.json", "after the dialog")

        # A burst of loads from one client, sent without waiting: obs-websocket works on them in parallel threads,
        # and each one steps once.
        vendor_call(obs, "LoadSnapshot", {"name": "Alpha"})
        events.expect("LoadSnapshot of Alpha before the burst", loaded("Alpha"))
        layouts.expect("Alpha", "LoadSnapshot of Alpha before the burst")
        start = names.index("Alpha")
        steps = 500
        # Three snapshots: the burst ends elsewhere than it began.
        expect(steps % len(names), f"{steps} steps over {len(names)} snapshots end where they begin")
        ids = [obs.send_request("CallVendorRequest", {"vendorName": VENDOR, "requestType": "LoadNextSnapshot"})
               for _ in range(steps)]
        began = time.time()
        answers = obs.receive_answers(ids, timeout=200)
        print(f"  {steps} remote steps answered in {time.time() - began:.1f} s")
        stepped = collections.Counter(f"{names[(start + step) % len(names)]}.json" for step in range(1, steps + 1))
        failed = [status for status, _ in answers.values() if not status["result"]]
        expect(not failed, f"{len(failed)} of the burst's requests failed, the first with {failed[:1]}")
        results = [response.get("responseData", {}) for _, response in answers.values()]
        refused = [result for result in results if result.get("loaded") is not True]
        expect(not refused, f"{len(refused)} of the burst's loads were refused, the first with {refused[:1]}")
        landed = collections.Counter(result.get("fileName") for result in results)
        expect(landed == stepped, f"the burst's answers name {dict(landed)}, not {dict(stepped)}")
        burst_events = []
        while len(burst_events) < steps and (event := events.take(60)):
            burst_events.append(event)
        expect(len(burst_events) == steps, f"the burst sent {len(burst_events)} events for {steps} loads")
        expect(all(kind == "SnapshotLoaded" and data.get("source") == "remote" for kind, data in burst_events),
               f"the burst sent other events: {[e for e in burst_events if e[0] != 'SnapshotLoaded'][:3]}")
        expect(collections.Counter(data["fileName"] for _, data in burst_events) == stepped,
               "the burst's events name other snapshots than its answers")

        end = names[(start + steps) % len(names)]
        listing = vendor_call(obs, "GetSnapshotList")
        expect(listing.get("last") == f"{end}.json", f"after the burst the last snapshot is {listing.get('last')!r}")
        layouts.expect(end, f"{steps} steps from {names[start]}")

        # A batch runs in order: back once round the list.
        results = obs.request_batch([vendor_batch_entry("LoadPreviousSnapshot") for _ in names])
        expected = [f"{names[(names.index(end) - step) % len(names)]}.json" for step in range(1, len(names) + 1)]
        got = [result.get("responseData", {}).get("responseData", {}).get("fileName") for result in results]
        expect(got == expected, f"a batch of previous loads named {got}, not {expected}")
        events.expect("a batch of previous loads", *(loaded(name[:-len(".json")]) for name in expected))
        layouts.expect(end, "a batch once round the list")

        # Single docks: the list against the rectangles that Qt reads in OBS, then each request with its effect
        # read through Qt, its DockChanged, and the run of them taken back by one UndoLoad.
        def qt_dock(name):
            return next(dock for dock in vendor_call(obs, "ReportLayout")["docks"] if dock["name"] == name)

        def rect_of(r):
            return r["x"], r["y"], r["width"], r["height"]

        listed = vendor_call(obs, "GetDockList")["docks"]
        print(f"  GetDockList -> {len(listed)} docks, the first {json.dumps(listed[0])}")
        for entry in listed:
            qt = qt_dock(entry["name"])
            expect(entry["shown"] == qt["shown"] or "tabbedWith" in entry, f"GetDockList {entry} against Qt's {qt}")
            expect(not qt["shown"] or entry["rect"] == {key: qt[key] for key in ("x", "y", "width", "height")},
                   f"GetDockList {entry} against Qt's {qt}")
        floated = {"x": 300, "y": 200, "width": 700, "height": 420}
        mixer_floats = next(entry["floating"] for entry in listed if entry["name"] == "mixerDock")
        # The loads' own DockChanged come in first.
        events.expect_none("before the dock requests")
        events.dock_changes.clear()
        before_run = settled_layout(obs)
        for request_type, data, done in [
            ("SetDockShown", {"name": "mixerDock", "shown": False}, lambda: not qt_dock("mixerDock")["shown"]),
            ("SetDockFloating", {"name": "controlsDock", "floating": True, "rect": floated},
             lambda: qt_dock("controlsDock")["floating"] and rect_of(qt_dock("controlsDock")) == rect_of(floated)),
            ("SetDockFloating", {"name": "controlsDock", "floating": False},
             lambda: not qt_dock("controlsDock")["floating"] and qt_dock("controlsDock")["shown"]),
            ("RaiseDock", {"name": "mixerDock"}, lambda: qt_dock("mixerDock")["shown"]),
        ]:
            answer = vendor_call(obs, request_type, data)
            print(f"  {request_type} {json.dumps(data)} -> {json.dumps(answer)}")
            expect("error" not in answer, f"{request_type} {data} answered {answer}")
            wait_for(done, 10, f"{request_type} {data} did not take effect in OBS: {qt_dock(data['name'])}")
        expect_vendor_error(obs, "SetDockShown", {"name": "chatDock", "shown": True}, "NotFound")
        events.expect_none("the dock requests")
        changes = [(change["name"], change["shown"], change["floating"]) for change in events.dock_changes]
        print(f"  DockChanged, one of {len(changes)}: {json.dumps(events.dock_changes[1])}")
        expect(changes == [("mixerDock", False, mixer_floats), ("controlsDock", True, True),
                           ("controlsDock", True, False), ("mixerDock", True, mixer_floats)],
               f"the dock requests were announced as {changes}")
        answer = vendor_call(obs, "UndoLoad")
        expect(answer.get("loaded"), f"UndoLoad after the dock requests answered {answer}")
        # One step for the run: every dock where it was before the first request.
        try:
            wait_for(lambda: dock_layout(obs)[0] == before_run, 10, "")
        except HostError:
            raise HostError("UndoLoad did not put back the layout from before the dock requests: "
                            f"{layout_difference(before_run, dock_layout(obs)[0])}") from None
        events.expect("UndoLoad of the dock requests", loaded(expected[-1][:-len(".json")], "undo"))
        events.expect_none("at the end")
    except HostError:
        obs.screenshot(os.path.join(args.build_dir, "artifacts", "remote-failure.png"))
        raise
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    expect(read_settings(profile)["last"] == paths[end], f"OBS quit with last {read_settings(profile)['last']!r}")
    # Epsilon's load had nobody to ask about the dock that OBS lacks, so the plug-in noted it in the log.
    expect(plugin_lines(obs) == [load_line(args), "[obs-velkin] MissingDocks: chatDock"],
           f"unexpected plug-in log lines: {plugin_lines(obs)}")

# Test layouts of OBS's core docks, each in a window of its own size and place: docks on all four sides with
# nested splits, tab groups, a floating and a hidden dock.
EXACT_LAYOUTS = {
    "Bottom": ("window:80,80,1100,740",),
    "Right": ("right:mixerDock", "right:controlsDock", "width:mixerDock:330", "window:60,60,1280,800"),
    "Tabs": ("tab:scenesDock:sourcesDock", "tab:transitionsDock:controlsDock", "window:100,90,1200,760"),
    "Sides": ("left:scenesDock", "top:sourcesDock", "right:mixerDock", "split:mixerDock:transitionsDock:v",
              "show:statsDock", "split:controlsDock:statsDock:h", "width:scenesDock:260", "height:sourcesDock:150",
              "window:40,50,1400,900"),
    "Floating": ("float:statsDock:1000,140,420,300", "hide:transitionsDock", "window:120,100,1000,700"),
}


# OBS's core docks as OBS first arranges them: docked at the bottom in OBS's order, Stats hidden.
FIRST_ARRANGEMENT = (*(f"bottom:{dock}" for dock in DOCK_TITLES),
                     *(f"show:{dock}" for dock in DOCK_TITLES if dock != "statsDock"), "hide:statsDock")


def install_arrange_module(args, profile):
    """Puts the test-only module velkin-arrange, which arranges OBS's docks through Qt alone, into the profile beside
    the plug-in."""
    module = os.path.join(profile.obs_config, "plugins", "velkin-arrange")
    os.makedirs(os.path.join(module, "bin", "64bit"), exist_ok=True)
    os.makedirs(os.path.join(module, "data"), exist_ok=True)
    shutil.copy2(os.path.join(args.build_dir, "tests", "velkin-arrange.so"), os.path.join(module, "bin", "64bit"))


def arrange(obs, *words):
    """Arranges OBS's docks with the words of the layout tool, through Qt alone and from OBS's first arrangement, and
    returns the settled layout: a reference that the plug-in did not make."""
    answer = vendor_call(obs, "Arrange", {"words": " ".join((*FIRST_ARRANGEMENT, *words))}, vendor="velkin-arrange")
    expect(answer == {"arranged": True}, f"Arrange {words} answered {answer}")
    return settled_layout(obs)


def saved_geometry(path):
    """The rectangles (x, y, width, height) and flags of the main window that QWidget::saveGeometry wrote into a
    snapshot: its frame, its normal geometry, its client geometry (format 3 and later) and the window states."""
    with open(path, encoding="utf-8") as f:
        blob = base64.b64decode(json.load(f)["geometry"])
    magic, major, _ = struct.unpack_from(">IHH", blob, 0)
    expect(magic == 0x1D9D0CB and 2 <= major <= 3, f"{path}: not a saved geometry ({blob.hex()})")

    def rect(offset):
        left, top, right, bottom = struct.unpack_from(">4i", blob, offset)
        return left, top, right - left + 1, bottom - top + 1

    geometry = {"frame": rect(8), "normal": rect(24)}
    _, geometry["maximized"], geometry["fullScreen"], _ = struct.unpack_from(">iBBi", blob, 40)
    if major > 2:
        geometry["client"] = rect(50)
    return geometry


def geometry_difference(path, layout):
    """How the window saved in a snapshot differs from the layout's main window: frame and client rectangles."""
    saved = saved_geometry(path)
    differing = [f"{name} {saved[field]} saved, {layout[name]} on screen"
                 for name, field in (("window", "frame"), ("client", "client"), ("client", "normal"))
                 if field in saved and saved[field] != layout[name]]
    differing += [f"saved {flag}" for flag in ("maximized", "fullScreen") if saved[flag]]
    return differing


def saved_size_difference(path, docked):
    """How the window's size saved in a snapshot differs from that of a docked layout (docked_layout)."""
    client = saved_geometry(path).get("client")
    size = client and client[2:]
    return [] if size == docked["window size"] else [f"window size {size} saved, {docked['window size']} on screen"]


def arranged_loads(obs, profile, names, view, saved_difference):
    """Arranges each of the named test layouts through Qt alone, saves it with the plug-in, and loads it back after
    each of the others: what view() shows of each load must be what it showed as arranged, and saved_difference()
    must find the saved window as arranged. Returns the failures, the rectangles compared and the worst difference in
    pixels (None when a dock was shown in one only)."""
    failures, compared, worst_seen = [], 0, 0
    for target in names:
        arranged = view(arrange(obs, *EXACT_LAYOUTS[target]))
        saved = vendor_call(obs, "SaveSnapshot", {"name": f"Arranged {target}"})
        expect(saved == {"fileName": f"Arranged {target}.json"}, f"SaveSnapshot answered {saved}")
        differing = saved_difference(os.path.join(profile.snapshot_dir, saved["fileName"]), arranged)
        if differing:
            failures.append(f"arranged {target}, as saved: {'; '.join(differing)}")
        for before in names:
            if before == target:
                continue
            load_layout(obs, f"{before}.json")
            worst, differing = layout_difference(arranged, view(load_layout(obs, saved["fileName"])))
            compared += len(arranged)
            worst_seen = None if worst is None or worst_seen is None else max(worst_seen, worst)
            if differing:
                failures.append(f"arranged {target} after {before}: {worst} px ({'; '.join(differing)})")
    return failures, compared, worst_seen


def dock_layout(obs):
    """Where the window and every shown dock are: {"window": rect, dock name: (floating, rect)}."""
    report = vendor_call(obs, "ReportLayout")
    expect(report and "docks" in report, f"ReportLayout answered {report}")
    rect = lambda r: (r["x"], r["y"], r["width"], r["height"])
    layout = {"window": rect(report["window"]), "client": rect(report["client"])}
    for dock in report["docks"]:
        if dock["shown"]:
            layout[dock["name"]] = (dock["floating"], rect(dock))
    return layout, [rect(screen) for screen in report["screens"]]


def settled_layout(obs):
    """The layout once it no longer changes: the window manager and the X server answer a resize later."""
    previous = None
    for _ in range(25):
        current = dock_layout(obs)
        if current == previous:
            return current[0]
        previous = current
        time.sleep(0.2)
    raise HostError(f"the layout did not settle: {previous[0]}")


def layout_difference(expected, got):
    """The rectangles that differ, and by how many pixels at most (None when a dock is shown in one only)."""
    worst = 0
    differing = []
    for name in sorted(set(expected) | set(got)):
        a, b = expected.get(name), got.get(name)
        if a == b:
            continue
        differing.append(f"{name}: {a} -> {b}")
        plain = name in ("window", "client", "window size")
        if a is None or b is None or (not plain and a[0] != b[0]):
            worst = None
        elif worst is not None:
            ra, rb = (a, b) if plain else (a[1], b[1])
            worst = max(worst, max(abs(x - y) for x, y in zip(ra, rb)))
    return worst, differing


def load_layout(obs, file_name):
    answer = vendor_call(obs, "LoadSnapshot", {"fileName": file_name})
    expect(answer.get("loaded"), f"{file_name} did not load: {answer}")
    return settled_layout(obs)


def in_obs(profile, display, action):
    """Starts OBS in the profile, hands it to action once it has loaded, stops it cleanly and returns what action
    returned."""
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        result = action(obs)
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    return result


def on_a_screen(rect, screens):
    x, y, w, h = rect
    return any(x >= sx and y >= sy and x + w <= sx + sw and y + h <= sy + sh for sx, sy, sw, sh in screens)


@check
def check_exact_layouts(args, display):
    """Every test layout comes back to the pixel whatever layout was on screen before; a layout saved from the
    screen comes back as it was; a layout arranged through Qt alone is saved with the window's rectangles and comes
    back as arranged; a dock saved beyond the screens comes back wholly on one."""
    profile = Profile(args.build_dir, "exact-layouts")
    for name, arrangement in EXACT_LAYOUTS.items():
        layout_document(args, profile.snapshot_dir, f"{name}.json", name, *arrangement)
    layout_document(args, profile.snapshot_dir, "Beyond.json", "Beyond", "float:statsDock:2500,200,420,300",
                    "window:300,200,1100,700")
    names = list(EXACT_LAYOUTS)
    install_arrange_module(args, profile)
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        # Each layout after each of the others, and after itself; every load's main window as its snapshot holds it.
        reference = {}
        failures = []
        for target in names:
            for before in names:
                for name, got in ((before, load_layout(obs, f"{before}.json")),
                                  (target, load_layout(obs, f"{target}.json"))):
                    differing = geometry_difference(os.path.join(profile.snapshot_dir, f"{name}.json"), got)
                    if differing:
                        failures.append(f"{name}'s window, loaded before {target}: {'; '.join(differing)}")
                reference.setdefault(target, got)
                worst, differing = layout_difference(reference[target], got)
                if differing:
                    failures.append(f"{target} after {before}: {worst} px ({'; '.join(differing)})")
                    if len(failures) == 1:
                        print(f"  the first load of {target}: {reference[target]}\n  {target} after {before}: {got}",
                              flush=True)
        # A layout saved from the screen comes back as it was saved, after any other.
        for source in names:
            load_layout(obs, f"{source}.json")
            saved = vendor_call(obs, "SaveSnapshot", {"name": f"Saved {source}", "overwrite": True})
            expect(saved.get("fileName") == f"Saved {source}.json", f"SaveSnapshot answered {saved}")
            on_screen = settled_layout(obs)
            for before in names:
                load_layout(obs, f"{before}.json")
                got = load_layout(obs, f"Saved {source}.json")
                worst, differing = layout_difference(on_screen, got)
                if differing:
                    failures.append(f"saved {source} after {before}: {worst} px ({'; '.join(differing)})")
        # Overwrite keeps what is on screen now.
        load_layout(obs, "Sides.json")
        saved = vendor_call(obs, "SaveSnapshot", {"name": "Saved Bottom", "overwrite": True})
        expect(saved.get("fileName") == "Saved Bottom.json", f"SaveSnapshot answered {saved}")
        on_screen = settled_layout(obs)
        load_layout(obs, "Tabs.json")
        worst, differing = layout_difference(on_screen, load_layout(obs, "Saved Bottom.json"))
        if differing:
            failures.append(f"overwritten with Sides: {worst} px ({'; '.join(differing)})")
        # Each layout arranged through Qt alone, saved, then loaded back after each of the others: the window and
        # every shown dock come back as arranged, and the snapshot holds the window's rectangles as they were.
        arranged_failures, compared, worst = arranged_loads(obs, profile, names, lambda layout: layout,
                                                            geometry_difference)
        print(f"  {compared} rectangles of loads compared with the layouts as arranged: worst difference "
              f"{'a dock shown in one only' if worst is None else f'{worst} px'}", flush=True)
        expect(not failures and not arranged_failures,
               f"{len(failures)} loads differ from the first load or from the screen when saved:\n"
               + "\n".join(failures) + f"\n{len(arranged_failures)} differ from the layout as arranged:\n"
               + "\n".join(arranged_failures))
        expect(not obs.log_lines("[obs-velkin] Moved "), f"a window on the screen was moved: {plugin_lines(obs)}")
        # The Stats dock was saved floating on a second monitor, beyond this screen.
        got = load_layout(obs, "Beyond.json")
        _, screens = dock_layout(obs)
        expect(got.get("statsDock", (False,))[0], f"the Stats dock does not float: {got}")
        for name in ("window", "statsDock"):
            rect = got[name] if name == "window" else got[name][1]
            expect(on_a_screen(rect, screens), f"{name} at {rect} is not wholly on the screens {screens}")
        moved = obs.log_lines("[obs-velkin] Moved ")
        expect(len(moved) == 1 and 'the dock "statsDock"' in moved[0], f"the moves were logged as {moved}")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    # For comparison: what OBS itself puts back at the next start, from the layout that it saved at exit.
    for name in names:
        before_exit = in_obs(profile, display, lambda obs: load_layout(obs, f"{name}.json"))
        worst, differing = layout_difference(before_exit, in_obs(profile, display, settled_layout))
        print(f"OBS's own restore of {name} after a restart: {len(differing)} of {len(before_exit)} rectangles "
              f"differ, by up to {worst} px" + "".join(f"\n  {line}" for line in differing), flush=True)


# How a load may touch OBS's windows, as the X server sees it. Each layout is in the layout tool's words.
BLINK_LAYOUTS = {
    "Floating": EXACT_LAYOUTS["Floating"],
    "Floating Moved": ("float:statsDock:640,420,760,260", "hide:transitionsDock", "width:scenesDock:320",
                       "window:140,90,1100,760"),
    "Bottom": EXACT_LAYOUTS["Bottom"],
    "Mixer Right": ("right:mixerDock", "width:mixerDock:330", "window:80,80,1100,740"),
    "Tabbed": ("tab:scenesDock:sourcesDock", "width:scenesDock:420", "window:100,90,1200,760"),
    "Tabbed Narrow": ("tab:scenesDock:sourcesDock", "width:scenesDock:260", "window:90,70,1300,820"),
}
# Each case loads its target over the layout before it, both arranged in OBS and saved with the plug-in as a user
# saves them: no window may be unmapped more often than the most given, and the docks that keep their place (side,
# floating or docked, shown, tab group) in both must not be unmapped at all when the last column says so. Where a
# dock changes its place, Qt's restoreState runs, and it unmaps every dock once: those rows say so.
BLINK_CASES = [
    ("over itself", "Floating", "Floating", 0, (), True),
    ("Stats floats elsewhere", "Floating", "Floating Moved", 0, (), True),
    ("mixer to the right", "Bottom", "Mixer Right", 1, ("scenesDock", "sourcesDock", "transitionsDock", "controlsDock"),
     False),
    ("same tab group", "Tabbed", "Tabbed Narrow", 0, (), True),
    ("tab group made", "Bottom", "Tabbed", 1, ("mixerDock", "transitionsDock", "controlsDock"), False),
]


class XStructureEvent(ctypes.Structure):
    """An XEvent, by the members that UnmapNotify, CreateNotify and ReparentNotify share: `event` is the window
    whose selection reported it (a CreateNotify's parent), `window` the one that changed; padded to XEvent's 24
    longs."""
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("pad", ctypes.c_long * 18)]


STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
CREATE_NOTIFY = 16
UNMAP_NOTIFY = 18


class WindowUnmaps(threading.Thread):
    """Counts, from the X server, the UnmapNotify events of OBS's windows: the main window's tree and OBS's top-level
    windows (a floating dock). It selects structure events on the root and on every window of the tree, and on each
    window made later as soon as its CreateNotify comes; one thread owns the connection. An unmap is counted once,
    as the parent's selection reports it (the checks' displays have no window manager, so a top-level's parent is the
    root), and only when the server made it: Qt also sends a synthetic one to the root for each window that it
    hides."""

    def __init__(self, display, main_window, pid):
        super().__init__(daemon=True)
        self.display_name = display.name
        self.main_window = main_window
        self.pid = pid
        self.commands = queue.Queue()
        self.answers = queue.Queue()

    def __enter__(self):
        self.start()
        self.answer()
        return self

    def __exit__(self, *exc):
        self.commands.put(("stop",))
        self.join(10)

    def ask(self, *command):
        self.commands.put(command)
        return self.answer()

    def answer(self):
        answer = self.answers.get(timeout=30)
        if isinstance(answer, Exception):
            raise answer
        return answer

    def arm(self):
        """Selects on every window of OBS's now, and forgets the events so far."""
        self.ask("arm")

    def count(self):
        """{window: unmaps} of OBS's windows since arm(), with the events that the server has sent until now."""
        return self.ask("count")

    def name(self, window):
        """The window's WM_NAME, else whether it was made since arm()."""
        return self.ask("name", window)

    def run(self):
        try:
            self.x = self.open()
        except Exception as error:
            self.answers.put(error)
            return
        self.answers.put(None)
        while True:
            self.drain()
            try:
                command = self.commands.get(timeout=0.005)
            except queue.Empty:
                continue
            try:
                if command[0] == "stop":
                    self.x.XCloseDisplay(self.connection)
                    return
                self.answers.put(getattr(self, "do_" + command[0])(*command[1:]))
            except Exception as error:  # handed to the asking thread
                self.answers.put(error)

    def open(self):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XStructureEvent)]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                         ctypes.c_long, ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
                                         ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # A window may go before a request about it arrives: Xlib's own handler would end the process.
        handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.error_handler = handler_type(lambda connection, error: 0)
        x.XSetErrorHandler.argtypes = [handler_type]
        x.XSetErrorHandler(self.error_handler)
        self.connection = x.XOpenDisplay(self.display_name.encode())
        if not self.connection:
            raise HostError(f"cannot open the X display {self.display_name}")
        self.root = x.XDefaultRootWindow(self.connection)
        self.pid_atom = x.XInternAtom(self.connection, b"_NET_WM_PID", 0)
        # The windows known to be OBS's, those made since arm(), and the unmaps of windows since arm().
        self.ours = set()
        self.made = set()
        self.unmaps = collections.Counter()
        return x

    def children(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.connection, window, ctypes.byref(root), ctypes.byref(parent),
                                 ctypes.byref(children), ctypes.byref(count)):
            return []
        result = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        return result

    def select(self, window):
        """Selects on the window and on every window below it, and takes them as OBS's."""
        self.x.XSelectInput(self.connection, window, STRUCTURE_NOTIFY_MASK | SUBSTRUCTURE_NOTIFY_MASK)
        self.ours.add(window)
        for child in self.children(window):
            self.select(child)

    def pid_of(self, window):
        """The _NET_WM_PID that Qt gives its windows; None when the window is gone or has none."""
        kind, format_, items, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        if self.x.XGetWindowProperty(self.connection, window, self.pid_atom, 0, 1, 0, 0, ctypes.byref(kind),
                                     ctypes.byref(format_), ctypes.byref(items), ctypes.byref(after),
                                     ctypes.byref(data)) != 0 or not data.value:
            return None
        pid = ctypes.cast(data, ctypes.POINTER(ctypes.c_ulong))[0] if items.value else None
        self.x.XFree(data)
        return pid

    def drain(self):
        event = XStructureEvent()
        while self.x.XPending(self.connection):
            self.x.XNextEvent(self.connection, ctypes.byref(event))
            if event.type == CREATE_NOTIFY:
                # A top-level window of OBS's, or any window below one of OBS's.
                if event.event != self.root or self.pid_of(event.window) in (self.pid, None):
                    self.select(event.window)
                    self.made.add(event.window)
            elif event.type == UNMAP_NOTIFY and not event.send_event and event.event != event.window:
                self.unmaps[event.window] += 1

    def do_arm(self):
        self.x.XSelectInput(self.connection, self.root, SUBSTRUCTURE_NOTIFY_MASK)
        self.select(self.main_window)
        for window in self.children(self.root):
            if self.pid_of(window) == self.pid:
                self.select(window)
        self.x.XSync(self.connection, 0)
        self.drain()
        self.unmaps.clear()
        self.made.clear()

    def do_count(self):
        self.x.XSync(self.connection, 0)
        self.drain()
        # Another program's top-level windows are not OBS's; a window gone since can be told by nothing more.
        return {window: count for window, count in self.unmaps.items()
                if window in self.ours or self.pid_of(window) in (self.pid, None)}

    def do_name(self, window):
        name = ctypes.c_char_p()
        if not self.x.XFetchName(self.connection, window, ctypes.byref(name)) or not name.value:
            return "(made during the load)" if window in self.made else "(no name)"
        text = name.value.decode(errors="replace")
        self.x.XFree(name)
        return text


def native_windows(obs):
    """{window id: name} of the main window, the docks and the other native widgets, as ReportLayout names them."""
    report = vendor_call(obs, "ReportLayout")
    names = {window["windowId"]: window["name"] for window in report["windows"]}
    names.update({dock["windowId"]: dock["name"] for dock in report["docks"] if "windowId" in dock})
    names[report["windowId"]] = "main window"
    return names


def window_names(watcher, names, unmaps):
    """Who each unmapped window is: by the names of native_windows() before and after the load (Qt may replace a
    tab bar), else by its title, else by its id and WM_NAME or whether it was made during the load."""
    by_title = {title: dock for dock, title in DOCK_TITLES.items()}
    result = {}
    for window in unmaps:
        title = watcher.name(window)
        result[window] = names.get(window) or by_title.get(title) or f"{hex(window)} {title}"
    return result


@check
def check_blinks(args, display):
    """A load unmaps OBS's windows, which a user sees blink, only where a dock changes its place: a layout over
    itself, over one with other sizes or other floating rectangles unmaps nothing, and no window blinks twice."""
    failures = []
    print(f"  {'case':<24} {'unmaps':>6}  per window", flush=True)
    for number, (case, before, target, most, still, keep_still) in enumerate(BLINK_CASES):
        profile = Profile(args.build_dir, f"blinks-{number}")
        install_arrange_module(args, profile)
        obs = Obs(profile, display).start()
        try:
            obs.connect()
            # Clear of every window, so that no tooltip comes and goes.
            xdotool(display, "mousemove", "1910", "1070")
            arranged = {}
            for name in (target, before):
                arranged[name] = arrange(obs, *BLINK_LAYOUTS[name])
                saved = vendor_call(obs, "SaveSnapshot", {"name": name, "overwrite": True})
                expect(saved.get("fileName") == f"{name}.json", f"SaveSnapshot answered {saved}")
            shown_before = load_layout(obs, f"{before}.json")
            main_window = vendor_call(obs, "ReportLayout")["windowId"]
            names = native_windows(obs)
            with WindowUnmaps(display, main_window, obs.process.pid) as watcher:
                watcher.arm()
                shown_after = load_layout(obs, f"{target}.json")
                unmaps = watcher.count()
                names = window_names(watcher, {**names, **native_windows(obs)}, unmaps)
        finally:
            code = obs.stop()
        expect_clean_exit(obs, code)
        per_window = {names[window]: count for window, count in unmaps.items()}
        print(f"  {case:<24} {sum(unmaps.values()):>6}  "
              + (", ".join(f"{name} {count}" for name, count in sorted(per_window.items())) or "-"), flush=True)
        # The load took, and to the pixel: a check of nothing would find no blinks either.
        expect(before == target or shown_after != shown_before, f"{case}: {target} left the layout as it was")
        worst, differing = layout_difference(arranged[target], shown_after)
        if differing:
            failures.append(f"{case}: {target} is not as arranged: {worst} px ({'; '.join(differing)})")
        over = {name: count for name, count in per_window.items() if count > most}
        if over:
            failures.append(f"{case}: unmapped more than {most} times: {over}")
        blinked = {name: per_window[name] for name in still if name in per_window}
        if blinked and keep_still:
            failures.append(f"{case}: docks that keep their place were unmapped: {blinked}")
    expect(not failures, "loads blinked:\n" + "\n".join(failures))


LATE_DOCK = "velkinLateDock"
OTHER_DOCK = "velkinOtherDock"
# Layouts that place a dock which a plug-in adds when it is ready: docked on the left, floating, and in a tab group.
LATE_LAYOUTS = {
    "Late Left": ("left:velkinLateDock", "show:velkinLateDock", "width:velkinLateDock:300",
                  "window:80,80,1100,740"),
    "Late Floating": ("float:velkinLateDock:700,160,360,260", "window:120,100,1000,700"),
    "Late Tab": ("right:mixerDock", "right:velkinLateDock", "show:velkinLateDock", "tab:mixerDock:velkinLateDock",
                 "window:100,90,1200,760"),
}


def add_dock(obs, dock_id):
    """A dock added as a plug-in adds one (obs_frontend_add_dock_by_id, through the test-only module)."""
    answer = vendor_call(obs, "AddDock", {"id": dock_id, "title": dock_id}, vendor="velkin-arrange")
    expect(answer == {"added": True}, f"AddDock {dock_id} answered {answer}")


def remove_dock(obs, dock_id):
    answer = vendor_call(obs, "RemoveDock", {"id": dock_id}, vendor="velkin-arrange")
    expect(answer == {"removed": True}, f"RemoveDock {dock_id} answered {answer}")


def dock_entry(obs, name):
    """Where a dock is, shown or not: (shown, floating, (x, y, width, height)), or None when there is none."""
    for dock in vendor_call(obs, "ReportLayout")["docks"]:
        if dock["name"] == name:
            return dock["shown"], dock["floating"], (dock["x"], dock["y"], dock["width"], dock["height"])
    return None


def wait_for_load_count(obs, count, timeout=20):
    wait_for(lambda: vendor_call(obs, "ReportLayout").get("loads", 0) >= count, timeout,
             f"fewer than {count} loads took effect")


@check
def check_late_docks(args, display):
    """A dock that a snapshot places but that a plug-in adds only after the snapshot was loaded takes the place, to
    the pixel, that a load made with the dock there gives it: after a remote load, after another plug-in's dock came
    first, after the window was made 120 pixels wider (compared with a load of the snapshot's docks at that size), and
    after the obsStarted rule's load at start-up. A dock that the snapshot does not name stays where OBS puts it, and
    the others stay put."""
    profile = Profile(args.build_dir, "late-docks")
    layout_document(args, profile.snapshot_dir, "Bottom.json", "Bottom", *EXACT_LAYOUTS["Bottom"])
    install_arrange_module(args, profile)
    wider = "window:80,80,1220,740"

    def references(obs):
        """Each layout arranged through Qt with the dock there, saved, and loaded after Bottom with the dock there;
        Late Left also with the other dock added before, and at the wider window."""
        add_dock(obs, LATE_DOCK)
        result = {}
        for name, words in LATE_LAYOUTS.items():
            arrange(obs, *words)
            saved = vendor_call(obs, "SaveSnapshot", {"name": name})
            expect(saved == {"fileName": f"{name}.json"}, f"SaveSnapshot answered {saved}")
            load_layout(obs, "Bottom.json")
            result[name] = load_layout(obs, f"{name}.json")
            expect(result[name].get(LATE_DOCK), f"{name}: the dock is not shown in the load made with it there")
        add_dock(obs, OTHER_DOCK)
        load_layout(obs, "Bottom.json")
        result["Late Left, other first"] = load_layout(obs, "Late Left.json")
        # Late Left's dock state with the geometry that the plug-in saves of the window made wider.
        answer = vendor_call(obs, "Arrange", {"words": wider}, vendor="velkin-arrange")
        expect(answer == {"arranged": True}, f"Arrange {wider} answered {answer}")
        settled_layout(obs)
        saved = vendor_call(obs, "SaveSnapshot", {"name": "Wider"})
        expect(saved == {"fileName": "Wider.json"}, f"SaveSnapshot answered {saved}")
        documents = {}
        for name in ("Late Left", "Wider"):
            with open(os.path.join(profile.snapshot_dir, f"{name}.json"), encoding="utf-8") as f:
                documents[name] = json.load(f)
        documents["Late Left"].update(name="Late Left Wider", geometry=documents["Wider"]["geometry"])
        with open(os.path.join(profile.snapshot_dir, "Late Left Wider.json"), "w", encoding="utf-8") as f:
            json.dump(documents["Late Left"], f, indent=4)
        load_layout(obs, "Bottom.json")
        result["Late Left, wider"] = load_layout(obs, "Late Left Wider.json")
        expect(result["Late Left, wider"]["client"][2] == result["Late Left"]["client"][2] + 120,
               f"the window was not made 120 pixels wider: {result['Late Left, wider']}")
        return result

    reference = in_obs(profile, display, references)
    failures = []

    def compare(obs, name, what):
        got = settled_layout(obs)
        worst, differing = layout_difference(reference[name], got)
        print(f"  {name}, {what}: {dock_entry(obs, LATE_DOCK)}; the load with it there: "
              f"{reference[name].get(LATE_DOCK)}", flush=True)
        if differing:
            failures.append(f"{name}, {what}: {worst} px ({'; '.join(differing)})")

    def load_without_dock(obs, name):
        load_layout(obs, "Bottom.json")
        answer = vendor_call(obs, "LoadSnapshot", {"fileName": f"{name}.json"})
        expect(answer.get("loaded") and answer.get("missingDocks") == [{"name": LATE_DOCK}],
               f"{name} without the dock answered {answer}")
        return settled_layout(obs)

    def late(obs):
        for name in LATE_LAYOUTS:
            load_without_dock(obs, name)
            add_dock(obs, LATE_DOCK)
            compare(obs, name, "dock added after a remote load")
            remove_dock(obs, LATE_DOCK)
        # A dock that the snapshot does not name is left to OBS, and the others do not move; the named one that
        # comes after it still takes its place.
        before = load_without_dock(obs, "Late Left")
        add_dock(obs, OTHER_DOCK)
        after = settled_layout(obs)
        entry = dock_entry(obs, OTHER_DOCK)
        print(f"  a dock that the snapshot does not name, as OBS leaves it: {entry}", flush=True)
        after.pop(OTHER_DOCK, None)
        worst, differing = layout_difference(before, after)
        if differing:
            failures.append(f"a dock the snapshot does not name moved the others: {'; '.join(differing)}")
        if not entry or entry[0]:
            failures.append(f"a dock the snapshot does not name was not left hidden where OBS puts it: {entry}")
        add_dock(obs, LATE_DOCK)
        compare(obs, "Late Left, other first", "dock added after a dock that the snapshot does not name")
        remove_dock(obs, LATE_DOCK)
        # The window made wider after the load.
        load_without_dock(obs, "Late Left")
        answer = vendor_call(obs, "Arrange", {"words": wider}, vendor="velkin-arrange")
        expect(answer == {"arranged": True}, f"Arrange {wider} answered {answer}")
        settled_layout(obs)
        add_dock(obs, LATE_DOCK)
        compare(obs, "Late Left, wider", "dock added after the window was made 120 pixels wider")
        if not obs.log_lines("[obs-velkin] LateDocks: took their place: velkinLateDock"):
            failures.append(f"no late dock was logged: {plugin_lines(obs)}")

    in_obs(profile, display, late)

    # At start-up: the obsStarted rule loads the snapshot before the plug-in adds the dock.
    write_automation(profile, [("obsStarted", "Late Floating")])

    def at_start(obs):
        wait_for_load_count(obs, 1)
        layout, _ = dock_layout(obs)
        expect(vendor_call(obs, "ReportLayout").get("last") == "Late Floating.json",
               f"the obsStarted rule did not load Late Floating: {layout}")
        settled_layout(obs)
        add_dock(obs, LATE_DOCK)
        got = settled_layout(obs)
        print(f"  Late Floating, obsStarted rule, dock added after it: {dock_entry(obs, LATE_DOCK)}", flush=True)
        worst, differing = layout_difference(reference["Late Floating"], got)
        if differing:
            failures.append(f"Late Floating, dock added after the obsStarted load: {worst} px "
                            f"({'; '.join(differing)})")

    in_obs(profile, display, at_start)
    expect(not failures, f"{len(failures)} late docks are not where a load with them there puts them:\n"
           + "\n".join(failures))


def display_answers(name):
    """Whether an X server answers there: one of another mount namespace has no lock file here, but its abstract
    socket still answers."""
    return subprocess.run(["xdpyinfo", "-display", name], capture_output=True).returncode == 0


def start_xvfb(first, screen, *options):
    """An Xvfb of the check's own with one screen of that size, on the first free display from `first` on: its name
    and its process. A display answered by a server of another mount namespace, which has no lock file here, is not
    free."""
    number = first
    while (os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}")
           or display_answers(f":{number}")):
        number += 1
    name = f":{number}"
    process = subprocess.Popen(["Xvfb", name, *options, "-screen", "0", screen, "-nolisten", "tcp"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    wait_for(lambda: display_answers(name), 10, f"Xvfb {name} with a screen of {screen} did not start")
    return name, process


class RandrMonitors:
    """An Xvfb of its own whose monitors are RandR monitors, set while programs run; Qt hears of each change at once.
    The server keeps the monitors only while it is told not to reset when its last client leaves."""

    class MonitorInfo(ctypes.Structure):
        _fields_ = [("name", ctypes.c_ulong), ("primary", ctypes.c_int), ("automatic", ctypes.c_int),
                    ("noutput", ctypes.c_int), ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                    ("height", ctypes.c_int), ("mwidth", ctypes.c_int), ("mheight", ctypes.c_int),
                    ("outputs", ctypes.POINTER(ctypes.c_ulong))]

    class ScreenResources(ctypes.Structure):
        _fields_ = [("timestamp", ctypes.c_ulong), ("configTimestamp", ctypes.c_ulong), ("ncrtc", ctypes.c_int),
                    ("crtcs", ctypes.POINTER(ctypes.c_ulong)), ("noutput", ctypes.c_int),
                    ("outputs", ctypes.POINTER(ctypes.c_ulong))]

    def open(self, first, screen):
        """Starts the server with one screen of that size, and the calls that set its monitors."""
        self.name, self.process = start_xvfb(first, screen, "-noreset")
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xrandr = ctypes.CDLL("libXrandr.so.2")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XInternAtom.restype = ctypes.c_ulong
        self.x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xrandr.XRRGetScreenResourcesCurrent.restype = ctypes.POINTER(self.ScreenResources)
        self.xrandr.XRRGetScreenResourcesCurrent.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.xrandr.XRRSetMonitor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(self.MonitorInfo)]
        self.xrandr.XRRDeleteMonitor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
        self.connection = self.x11.XOpenDisplay(self.name.encode())
        expect(self.connection, f"cannot open the display {self.name}")
        self.root = self.x11.XDefaultRootWindow(self.connection)
        resources = self.xrandr.XRRGetScreenResourcesCurrent(self.connection, self.root)
        expect(resources and resources.contents.noutput >= 1, f"the Xvfb {self.name} has no RandR output")
        self.output = (ctypes.c_ulong * 1)(resources.contents.outputs[0])

    def set_monitor(self, name, rect, outputs):
        x, y, width, height = rect
        info = self.MonitorInfo(name=self.x11.XInternAtom(self.connection, name.encode(), 0), primary=0, automatic=0,
                                noutput=1 if outputs else 0, x=x, y=y, width=width, height=height,
                                mwidth=width * 254 // 960, mheight=height * 254 // 960, outputs=outputs)
        self.xrandr.XRRSetMonitor(self.connection, self.root, ctypes.byref(info))
        self.x11.XSync(self.connection, 0)

    def __exit__(self, *exc):
        self.x11.XCloseDisplay(self.connection)
        self.process.terminate()
        self.process.wait(10)


class TwoMonitors(RandrMonitors):
    """Two monitors side by side: LEFT 1600x1000 at 0,0 on the server's one output, and RIGHT 1280x1024 at 1600,0,
    which can go and come back while programs run."""

    LEFT = (0, 0, 1600, 1000)
    RIGHT = (1600, 0, 1280, 1024)

    def __enter__(self):
        self.open(160, "2880x1024x24")
        self.set_monitor("LEFT", self.LEFT, self.output)
        self.set_monitor("RIGHT", self.RIGHT, None)
        return self

    def right(self, present):
        """Connects the right monitor, or takes it away."""
        if present:
            self.set_monitor("RIGHT", self.RIGHT, None)
        else:
            self.xrandr.XRRDeleteMonitor(self.connection, self.root,
                                         self.x11.XInternAtom(self.connection, b"RIGHT", 0))
            self.x11.XSync(self.connection, 0)


def remove_obs_layout(profile):
    """Takes OBS's own saved dock layout (DockState and the window's geometry of [BasicWindow]) out of its
    configuration, as an update or a reset of its interface leaves it."""
    for name in ("global.ini", "user.ini"):
        path = os.path.join(profile.obs_config, name)
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
        section, kept = None, []
        for line in lines:
            if line.startswith("["):
                section = line.strip()
            elif section == "[BasicWindow]" and line.split("=", 1)[0] in ("DockState", "geometry"):
                continue
            kept.append(line)
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(kept) + "\n")


@check
def check_kept_layout(args, display):
    """The layout on screen outlives a crash: a dock floated through Qt alone, the window moved, OBS killed with
    SIGKILL, and at the next start every dock and the main window are back to the pixel; again with OBS's own saved
    layout taken out of its configuration, and after a clean exit. With the option off, OBS's own layout comes back,
    and how far it is is printed."""
    profile = Profile(args.build_dir, "kept-layout")
    layout_document(args, profile.snapshot_dir, "Road.json", "Road", *EXACT_LAYOUTS["Bottom"])
    install_arrange_module(args, profile)
    kept = os.path.join(profile.plugin_config, "layout-on-screen.json")
    automation = os.path.join(profile.plugin_config, "automation.json")
    changes = [("float:statsDock:900,150,700,300", "window:80,80,1100,740"),
               ("right:mixerDock", "float:sourcesDock:700,120,320,260", "window:60,70,1200,760")]

    def arrange_and_kill(obs, words):
        """Arranges through Qt alone, waits for the kept file, kills OBS and returns the layout it had."""
        load_layout(obs, "Road.json")
        written = os.path.getmtime(kept) if os.path.exists(kept) else 0
        arranged = arrange(obs, *words)
        if keep:
            wait_for(lambda: os.path.exists(kept) and os.path.getmtime(kept) > written, 10,
                     f"the layout of {words} was not kept")
        settle(1.5)
        obs.ws.close()
        obs.ws = None
        obs.process.kill()
        obs.process.wait()
        obs.output.close()
        return arranged

    def farthest(expected, got):
        """How far the rectangles shown in both lie apart, in pixels at most."""
        rect = lambda name, entry: entry if name in ("window", "client") else entry[1]
        return max((max(abs(a - b) for a, b in zip(rect(name, expected[name]), rect(name, got[name])))
                    for name in expected if name in got), default=0)

    failures = []
    for keep in (False, True):
        with open(automation, "w") as f:
            json.dump({"keepLayoutAcrossRestarts": keep}, f)
        if keep:
            # OBS's own layout at its last clean exit: Road.
            in_obs(profile, display, lambda obs: load_layout(obs, "Road.json"))
        before_exit = None
        for words, reset in zip(changes, (False, True)) if keep else [(changes[0], False)]:
            obs = Obs(profile, display).start()
            obs.connect()
            if before_exit:
                # After a clean exit the layout comes back as it was, floating docks too.
                worst, differing = layout_difference(before_exit, settled_layout(obs))
                if differing:
                    failures.append(f"after a clean exit: {worst} px ({'; '.join(differing)})")
            arranged = arrange_and_kill(obs, words)
            if reset:
                remove_obs_layout(profile)
            obs = Obs(profile, display).start()
            try:
                obs.connect()
                got = settled_layout(obs)
                worst, differing = layout_difference(arranged, got)
                what = f"{'kept' if keep else 'OBS alone'}, after SIGKILL{' and a reset' if reset else ''}"
                print(f"  {what}: {len(differing)} rectangles differ, up to {farthest(arranged, got)} px; shown "
                      f"before, not after: {sorted(set(arranged) - set(got)) or 'none'}", flush=True)
                if keep and differing:
                    failures.append(f"{what}: {worst} px ({'; '.join(differing)})")
                elif not keep:
                    expect(differing, "with the option off the layout came back all the same: the check proves nothing")
                put_back = obs.log_lines("Put back the layout on screen at the last exit or crash")
                expect(bool(put_back) == keep, f"{what}: the log says {put_back}")
                before_exit = got
            finally:
                code = obs.stop()
            expect_clean_exit(obs, code)
    expect(not failures, "the kept layout did not come back: " + " | ".join(failures))


def wholly_within(rect, area):
    x, y, w, h = rect
    ax, ay, aw, ah = area
    return x >= ax and y >= ay and x + w <= ax + aw and y + h <= ay + ah


def last_and_loads(obs):
    report = vendor_call(obs, "ReportLayout")
    return report.get("last"), report.get("loads", 0)


def check_starts_on_other_monitors(profile, desk, followed, failures):
    """Closed with one monitor and started at the desk, closed at the desk and started with one, started at the desk
    again: each start brings the snapshot last loaded with its monitors, to the pixel, over the kept layout of the
    other monitors."""
    for right, file_name in ((True, "Desk.json"), (False, "Road.json"), (True, "Desk.json")):
        desk.right(right)
        where = "at the desk" if right else "with one monitor"

        def started(obs):
            wait_for(lambda: last_and_loads(obs)[0] == file_name, 10,
                     f"started {where}, {file_name} did not load: last is {last_and_loads(obs)[0]}")
            worst, differing = layout_difference(followed[file_name], settled_layout(obs))
            print(f"  started {where}: {file_name}, {len(differing)} rectangles differ", flush=True)
            if differing:
                failures.append(f"{file_name} started {where}: {worst} px ({'; '.join(differing)})")

        in_obs(profile, desk, started)
    # The right monitor gone again, as the follow left it.
    desk.right(False)


@check
def check_monitors(args, display):
    """On a desk of two monitors: a snapshot with the Stats dock floating on the second monitor loads there to the
    pixel and a save keeps it there; when the monitor goes, the dock comes wholly onto the first within two seconds
    and the main window stays; each set of monitors brings back the snapshot last loaded with it; with the option
    off, only the windows follow; a main window across both monitors and a dock across their seam load where the
    snapshot has them and stay there when the screens change. A start on other monitors than at the last exit brings
    the snapshot last loaded with them over the kept layout."""
    with TwoMonitors() as desk:
        profile = Profile(args.build_dir, "monitors")
        layout_document(args, profile.snapshot_dir, "Road.json", "Road", *EXACT_LAYOUTS["Bottom"])
        install_arrange_module(args, profile)
        failures = []
        # Each snapshot's layout as the follow of the monitors loaded it, by file name.
        followed = {}

        def stats_rect(layout):
            return layout.get("statsDock", (None, None))[1]

        def load_checked(obs, file_name):
            """A load whose main window must be the one that the snapshot holds."""
            got = load_layout(obs, file_name)
            differing = geometry_difference(os.path.join(profile.snapshot_dir, file_name), got)
            if differing:
                failures.append(f"{file_name}'s window: {'; '.join(differing)}")
            return got

        def follow(obs):
            _, screens = dock_layout(obs)
            expect(len(screens) == 2, f"Qt sees the screens {screens}, not two")
            # The first time the Stats dock floats, Qt places it itself whatever rectangle it is given, when that
            # lies on the second monitor: floated on the first monitor once before, it takes the rectangle.
            arrange(obs, "float:statsDock:900,150,700,300", "window:80,80,1100,740")
            desk_layout = arrange(obs, "float:statsDock:1900,150,700,300", "window:90,70,1180,760")
            expect(wholly_within(stats_rect(desk_layout), TwoMonitors.RIGHT),
                   f"the Stats dock was not arranged on the second monitor: {desk_layout}")
            expect(vendor_call(obs, "SaveSnapshot", {"name": "Desk"}) == {"fileName": "Desk.json"}, "Save Desk")
            load_checked(obs, "Road.json")
            worst, differing = layout_difference(desk_layout, load_checked(obs, "Desk.json"))
            if differing:
                failures.append(f"Desk loaded after Road: {worst} px ({'; '.join(differing)})")
            expect(vendor_call(obs, "SaveSnapshot", {"name": "Desk Again"}) == {"fileName": "Desk Again.json"},
                   "Save Desk Again")
            load_checked(obs, "Road.json")
            worst, differing = layout_difference(desk_layout, load_checked(obs, "Desk Again.json"))
            if differing:
                failures.append(f"Desk saved again and loaded: {worst} px ({'; '.join(differing)})")
            load_checked(obs, "Desk.json")
            _, loads = last_and_loads(obs)

            # The second monitor goes: the dock comes onto the first within two seconds; the window stays.
            gone = time.time()
            desk.right(False)
            wait_for(lambda: len(dock_layout(obs)[1]) == 1 and stats_rect(dock_layout(obs)[0])
                     and wholly_within(stats_rect(dock_layout(obs)[0]), TwoMonitors.LEFT), 2,
                     f"the Stats dock did not come onto the first monitor: {dock_layout(obs)}")
            print(f"  the second monitor went: the Stats dock at {stats_rect(dock_layout(obs)[0])} after "
                  f"{time.time() - gone:.1f} s", flush=True)
            single = settled_layout(obs)
            expect(single["window"] == desk_layout["window"],
                   f"the main window moved from {desk_layout['window']} to {single['window']}")
            expect(last_and_loads(obs) == ("Desk.json", loads), f"a set without a snapshot loaded one: "
                                                                 f"{last_and_loads(obs)}")

            # With one monitor, the user loads Road; the second monitor comes back: Desk comes back by itself.
            load_checked(obs, "Road.json")
            _, loads = last_and_loads(obs)
            desk.right(True)
            wait_for(lambda: last_and_loads(obs) == ("Desk.json", loads + 1), 10,
                     f"Desk did not come back with the second monitor: {last_and_loads(obs)}")
            followed["Desk.json"] = desk_layout
            worst, differing = layout_difference(desk_layout, settled_layout(obs))
            if differing:
                failures.append(f"Desk with the second monitor back: {worst} px ({'; '.join(differing)})")
            # It goes again: Road, the snapshot last loaded with one monitor, comes back by itself.
            desk.right(False)
            wait_for(lambda: last_and_loads(obs) == ("Road.json", loads + 2), 10,
                     f"Road did not come back with one monitor: {last_and_loads(obs)}")
            followed["Road.json"] = settled_layout(obs)
            expect(obs.log_lines("[obs-velkin] Moved the dock \"statsDock\""),
                   f"the dock's move was not logged: {plugin_lines(obs)}")

        in_obs(profile, desk, follow)
        with open(os.path.join(profile.plugin_config, "monitors.json"), encoding="utf-8") as f:
            automation = json.load(f)
        remembered = {tuple(sorted(screen["name"] for screen in entry["screens"])): entry["snapshot"]
                      for entry in automation.get("monitorLayouts", [])}
        expect(automation.get("followMonitors") is True and remembered == {("LEFT", "RIGHT"): "Desk.json",
                                                                           ("LEFT",): "Road.json"},
               f"monitors.json remembers {automation}")
        check_starts_on_other_monitors(profile, desk, followed, failures)

        # With the option off, the windows still come onto the screens, and nothing loads by itself.
        automation["followMonitors"] = False
        with open(os.path.join(profile.plugin_config, "monitors.json"), "w", encoding="utf-8") as f:
            json.dump(automation, f)
        desk.right(True)

        def without_follow(obs):
            load_checked(obs, "Desk.json")
            before = last_and_loads(obs)
            desk.right(False)
            wait_for(lambda: stats_rect(dock_layout(obs)[0]) and wholly_within(stats_rect(dock_layout(obs)[0]),
                                                                             TwoMonitors.LEFT), 2,
                     f"with the option off, the Stats dock did not come onto the first monitor: {dock_layout(obs)}")
            desk.right(True)
            time.sleep(2)
            expect(last_and_loads(obs) == before, f"with the option off, a snapshot loaded: {last_and_loads(obs)}")

            # The main window across both monitors and the Stats dock across their seam: a load puts them where
            # the snapshot has them, and a change of the screens leaves them there.
            arrange(obs, "float:statsDock:900,150,700,300", "window:80,80,1100,740")
            arrange(obs, "float:statsDock:1400,150,700,300", "window:100,100,2600,800")
            expect(vendor_call(obs, "SaveSnapshot", {"name": "Across"}) == {"fileName": "Across.json"}, "Save Across")
            path = os.path.join(profile.snapshot_dir, "Across.json")
            with open(path, encoding="utf-8") as f:
                stored_stats = floating_rects(base64.b64decode(json.load(f)["state"])).get("statsDock")
            stored = {"client": saved_geometry(path)["client"], "statsDock": (True, stored_stats)}
            expect(not wholly_within(stored["client"], TwoMonitors.LEFT) and stored_stats
                   and not wholly_within(stored_stats, TwoMonitors.LEFT), f"Across was saved on one monitor: {stored}")
            load_checked(obs, "Road.json")
            for when in ("loaded", "after a change of the screens"):
                if when == "loaded":
                    got = load_checked(obs, "Across.json")
                else:
                    # The right monitor goes and comes back at once: the screens settle with both.
                    desk.right(False)
                    desk.right(True)
                    time.sleep(1.5)
                    got = settled_layout(obs)
                got = {name: got.get(name) for name in stored}
                print(f"  across both monitors, {when}: {got}", flush=True)
                worst, differing = layout_difference(stored, got)
                if differing:
                    failures.append(f"Across {when}: {worst} px ({'; '.join(differing)})")

        in_obs(profile, desk, without_follow)

        # The second monitor at a pixel ratio of 2 (it is connected again): a dock floating on it comes back to the
        # same place and size.
        hidpi = Profile(args.build_dir, "monitors-hidpi")
        layout_document(args, hidpi.snapshot_dir, "Road.json", "Road", *EXACT_LAYOUTS["Bottom"])
        install_arrange_module(args, hidpi)

        def mixed_ratios(obs):
            _, screens = dock_layout(obs)
            # Qt keeps a screen's place in device pixels and gives its size in its own: RIGHT is 640x512 here.
            expect(sorted(screens) == [(0, 0, 1600, 1000), (1600, 0, 640, 512)], f"the screens at ratio 2: {screens}")
            arrange(obs, "float:sourcesDock:900,150,300,200", "window:80,80,1100,740")
            arranged = arrange(obs, "float:sourcesDock:1700,100,300,200", "window:80,80,1100,740")
            expect(vendor_call(obs, "SaveSnapshot", {"name": "Hi DPI"}) == {"fileName": "Hi DPI.json"}, "Save Hi DPI")
            load_layout(obs, "Road.json")
            got = load_layout(obs, "Hi DPI.json")
            worst, differing = layout_difference(arranged, got)
            print(f"  at a pixel ratio of 2 on the second monitor, the floating dock: arranged "
                  f"{arranged.get('sourcesDock')}, loaded {got.get('sourcesDock')}", flush=True)
            if differing:
                failures.append(f"a dock floating on a monitor at ratio 2: {worst} px ({'; '.join(differing)})")

        obs = Obs(hidpi, desk, env={"QT_SCREEN_SCALE_FACTORS": "LEFT=1;RIGHT=2"}).start()
        try:
            obs.connect()
            mixed_ratios(obs)
        finally:
            code = obs.stop()
        expect_clean_exit(obs, code)
        expect(not failures, f"{len(failures)} layouts differ:\n" + "\n".join(failures))


class SmallScreen(RandrMonitors):
    """An Xvfb of its own with one monitor, of 1024x640 at first: a laptop of 1280x800 at 125 %. The monitor takes
    another size while programs run, up to a desk of 2560x1440."""

    SIZE = (1024, 640)
    LAPTOP = (1366, 768)
    DESK = (2560, 1440)

    def __enter__(self):
        self.open(180, "2560x1440x24")
        self.monitor = "ONE"
        self.set_monitor(self.monitor, (0, 0, *self.SIZE), self.output)
        return self

    def resize(self, size):
        """The server refuses a monitor of a name that it has: the new one comes under the other name, and then the
        old one goes."""
        old, self.monitor = self.monitor, "TWO" if self.monitor == "ONE" else "ONE"
        self.set_monitor(self.monitor, (0, 0, *size), self.output)
        self.xrandr.XRRDeleteMonitor(self.connection, self.root, self.x11.XInternAtom(self.connection, old.encode(), 0))
        self.x11.XSync(self.connection, 0)


# A desk's layout: Scenes above Sources on the left, a quarter of the window's width; Transitions above Controls on the
# right, a fifth; the Audio Mixer at the bottom, a quarter of its height.
DESK_LAYOUT = ("left:scenesDock", "split:scenesDock:sourcesDock:v", "right:transitionsDock",
               "split:transitionsDock:controlsDock:v", "window:0,30,2560,1380", "width:scenesDock:640",
               "width:transitionsDock:512", "height:mixerDock:345")


def dock_shares(layout):
    """{dock name: (share of the window's width, share of its height)} of the docked docks of a layout."""
    _, _, width, height = layout["client"]
    return {name: (rect[2] / width, rect[3] / height) for name, value in layout.items()
            if name not in ("window", "client") and not value[0] for rect in (value[1],)}


def preview_rect(layout):
    """The room between the docks of DESK_LAYOUT, where OBS has its preview: (width, height)."""
    scenes, transitions, mixer = (layout[name][1] for name in ("scenesDock", "transitionsDock", "mixerDock"))
    return transitions[0] - scenes[0] - scenes[2], mixer[1] - scenes[1]


def shares_text(layout):
    shares = dock_shares(layout)
    width, height = preview_rect(layout)
    return (f"left {shares['scenesDock'][0]:.3f}, right {shares['transitionsDock'][0]:.3f}, bottom "
            f"{shares['mixerDock'][1]:.3f}; preview {width}x{height} ({width / layout['client'][2]:.3f} of the width)")


def use_screen(small, obs, size):
    """Gives the small screen's monitor that size, and waits until Qt sees it."""
    small.resize(size)
    wait_for(lambda: dock_layout(obs)[1] == [(0, 0, *size)], 10, f"Qt does not see a screen of {size}")


def desk_on_laptop(small, obs, profile):
    """Arranges DESK_LAYOUT through Qt alone on the desk's screen, saves it as Desk.json with the plug-in, and loads it
    on the laptop's screen: the layouts as arranged and as loaded."""
    use_screen(small, obs, SmallScreen.DESK)
    arranged = arrange(obs, *DESK_LAYOUT)
    expect(vendor_call(obs, "SaveSnapshot", {"name": "Desk"}) == {"fileName": "Desk.json"}, "Save Desk")
    differing = geometry_difference(os.path.join(profile.snapshot_dir, "Desk.json"), arranged)
    expect(not differing and arranged["client"][2:] == (2560, 1380),
           f"the desk's window was saved otherwise: {differing}, {arranged['client']} on screen")
    # The monitors' follow cuts the window down to the laptop's screen, and then the snapshot loads.
    moved = len(obs.log_lines("[obs-velkin] Moved the main window"))
    use_screen(small, obs, SmallScreen.LAPTOP)
    wait_for(lambda: len(obs.log_lines("[obs-velkin] Moved the main window")) > moved, 10,
             "the main window did not follow the laptop's screen")
    return arranged, load_layout(obs, "Desk.json")


@shot
def shot_small_screen(args, display):
    """One half of docs/images/small-screen.png: a desk's snapshot (DESK_LAYOUT) loaded on a laptop's screen of
    1366x768, into BUILD_DIR/artifacts/small-screen.png."""
    with SmallScreen() as small:
        profile = Profile(args.build_dir, "shot-small-screen")
        install_arrange_module(args, profile)

        def take(obs):
            desk_on_laptop(small, obs, profile)
            path = obs.screenshot(os.path.join(args.build_dir, "artifacts", "small-screen.png"))
            crop(path, [(0, 0, *SmallScreen.LAPTOP)], margin=0)
            print(f"  {path}", flush=True)

        in_obs(profile, small, take)


@check
def check_small_screen(args, display):
    """On a screen of 1024x640, smaller than every test layout's window, each layout loads, by request and by hotkey,
    onto the largest window that the screen allows, with its docks floating, docked and hidden as saved. A desk's
    snapshot, arranged through Qt alone in a window of 2560x1380, loads on a laptop's screen of 1366x768 with every
    docked dock within 3 points of its shares of the window's width and height, and back on the desk to the pixel."""
    with SmallScreen() as small:
        profile = Profile(args.build_dir, "small-screen")
        install_arrange_module(args, profile)
        for name, words in EXACT_LAYOUTS.items():
            layout_document(args, profile.snapshot_dir, f"{name}.json", name, *words)

        def loads(obs):
            for name in EXACT_LAYOUTS:
                answer = vendor_call(obs, "LoadSnapshot", {"fileName": f"{name}.json"})
                expect(answer.get("loaded"), f"{name} did not load on the small screen: {answer}")
                window, screens = settled_layout(obs)["window"], dock_layout(obs)[1]
                report = vendor_call(obs, "ReportLayout")
                # The saved window cut down to the screen and moved onto it by the least; the main window of Sides
                # needs more height than the screen has: its minimum size holds it, from the screen's top.
                sx, sy, sw, sh = screens[0]
                x, y, w, h = saved_geometry(os.path.join(profile.snapshot_dir, f"{name}.json"))["frame"]
                w, h = min(w, sw), min(h, sh)
                expected = (min(max(x, sx), sx + sw - w), min(max(y, sy), sy + sh - h), w, h)
                got = window if name != "Sides" else (*window[:3], h)
                expect(got == expected and (name != "Sides" or window[3] > sh),
                       f"{name}: the window is at {window}, not at {expected} on the screen {screens[0]}")
                docks = {dock["name"]: (dock["shown"], dock["floating"]) for dock in report["docks"]}
                # As the layout's words arrange them: hidden, or behind another tab.
                hidden = {"Bottom": {"statsDock"}, "Right": {"statsDock"},
                          "Tabs": {"statsDock", "scenesDock", "transitionsDock"}, "Sides": set(),
                          "Floating": {"transitionsDock"}}[name]
                expected = {dock: (dock not in hidden, name == "Floating" and dock == "statsDock") for dock in docks}
                expect(docks == expected, f"{name} on the small screen: {docks}, not {expected}")
            trigger(obs, "obs-velkin.load.Right.json")
            wait_for_last(profile, os.path.join(profile.snapshot_dir, "Right.json"))
            time.sleep(0.5)
            expect(not visible_windows(small, "^OBS-Velkin Dock Layouts$"), "the hotkey load showed a box")
            expect(not obs.log_lines("[obs-velkin] RestoreFailed"), f"a load failed: {plugin_lines(obs)}")

            arranged, laptop = desk_on_laptop(small, obs, profile)
            promised, got = dock_shares(arranged), dock_shares(laptop)
            worst = max((abs(a - b) for name, share in promised.items() if name in got
                         for a, b in zip(share, got[name])), default=0)
            print(f"  the desk's snapshot on the desk: {shares_text(arranged)}\n"
                  f"  on the laptop, in a window of {laptop['client'][2]}x{laptop['client'][3]}: {shares_text(laptop)}; "
                  f"the docks' shares off by {100 * worst:.1f} points at most", flush=True)
            expect(laptop["client"][2:] == SmallScreen.LAPTOP, f"the window on the laptop is {laptop['client']}")
            off = [f"{name}: {got.get(name)} of the window, {share} saved" for name, share in promised.items()
                   if name not in got or max(abs(a - b) for a, b in zip(share, got[name])) > 0.03]
            expect(set(got) == set(promised) and not off, "docks off their shares on the laptop:\n" + "\n".join(off))
            # Back on the desk, the snapshot loads to the pixel.
            use_screen(small, obs, SmallScreen.DESK)
            worst, differing = layout_difference(arranged, load_layout(obs, "Desk.json"))
            expect(not differing, f"back on the desk: {worst} px ({'; '.join(differing)})")

        in_obs(profile, small, loads)


# obs-websocket's RequestBatchExecutionType::SerialFrame: the batch runs on OBS's graphics thread, between frames.
SERIAL_FRAME = 1


class UiHolder:
    """A client of its own that keeps OBS's UI thread busy for a while, as switching a large scene collection
    does (the test-build request HoldUiThread)."""

    def __init__(self, profile):
        self.ws = websocket.create_connection(f"ws://127.0.0.1:{profile.port}", timeout=30)
        json.loads(self.ws.recv())
        self.ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1, "eventSubscriptions": 0}}))
        json.loads(self.ws.recv())

    def hold(self, milliseconds):
        self.ws.send(json.dumps({"op": 6, "d": {
            "requestType": "CallVendorRequest", "requestId": "hold",
            "requestData": {"vendorName": VENDOR, "requestType": "HoldUiThread",
                            "requestData": {"milliseconds": milliseconds}}}}))

    def wait(self):
        while json.loads(self.ws.recv()).get("op") != 7:
            pass

    def close(self):
        self.ws.close()


@check
def check_remote_frame_batch(args, display):
    """A request in a frame batch is answered Busy at once, even while OBS's UI thread is busy, and OBS's video
    goes on meanwhile."""
    profile = Profile(args.build_dir, "remote-frame-batch")
    for name in ("Bottom", "Sides"):
        layout_document(args, profile.snapshot_dir, f"{name}.json", name, *EXACT_LAYOUTS[name])
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        # A second client keeps the UI thread busy for two seconds.
        busy = UiHolder(profile)
        before = call(obs, "GetStats")
        busy.hold(2000)
        time.sleep(0.3)
        obs.request_id += 1
        obs.ws.send(json.dumps({"op": 8, "d": {
            "requestId": str(obs.request_id), "executionType": SERIAL_FRAME,
            "requests": [vendor_batch_entry("GetSnapshotList")]}}))
        while True:
            message = obs.receive()
            if message.get("op") == 9 and message["d"].get("requestId") == str(obs.request_id):
                break
        busy.wait()
        # OBS counts the frames that it skipped once it renders again.
        time.sleep(1)
        after = call(obs, "GetStats")
        answer = message["d"]["results"][0].get("responseData", {}).get("responseData", {})
        busy.close()
        skipped = {key: after[key] - before[key] for key in ("renderSkippedFrames", "outputSkippedFrames")}
        print(f"  frames skipped while the frame batch was answered: {skipped}", flush=True)
        expect(answer.get("error") == "Busy", f"the frame batch's request was answered {answer}")
        expect(skipped["renderSkippedFrames"] <= 5 and skipped["outputSkippedFrames"] == 0,
               f"OBS's video stalled while the frame batch waited: {skipped} frames skipped")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)

@check
def check_studio_off_after_load(args, display):
    """A load that narrows OBS's preview, then studio mode switched off before OBS's UI thread comes back to its
    timers, as a deck button that does both: OBS goes on. OBS 32 sets its program view's width again a millisecond
    after such a narrowing, whether or not the view is still there."""
    profile = Profile(args.build_dir, "studio-off-after-load")
    for name in ("Bottom", "Right"):
        layout_document(args, profile.snapshot_dir, f"{name}.json", name, *EXACT_LAYOUTS[name])
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        busy = UiHolder(profile)
        for _ in range(3):
            expect(vendor_call(obs, "LoadSnapshot", {"fileName": "Bottom.json"}).get("loaded"), "Bottom did not load")
            call(obs, "SetStudioModeEnabled", {"studioModeEnabled": True})
            time.sleep(0.5)
            # Both requests wait for the busy UI thread, which then takes them one after the other.
            busy.hold(1500)
            time.sleep(0.3)
            load = obs.send_request("CallVendorRequest", {"vendorName": VENDOR, "requestType": "LoadSnapshot",
                                                          "requestData": {"fileName": "Right.json"}})
            time.sleep(0.3)
            off = obs.send_request("SetStudioModeEnabled", {"studioModeEnabled": False})
            try:
                answers = obs.receive_answers([load, off], 30)
            except websocket.WebSocketException:
                raise HostError("OBS ended after a load and studio mode off") from None
            busy.wait()
            status, response = answers[load]
            expect(status["result"] and response.get("responseData", {}).get("loaded"),
                   f"Right did not load: {status} {response}")
            time.sleep(1)
            obs.check_alive()
            expect(not call(obs, "GetStudioModeEnabled")["studioModeEnabled"], "studio mode stayed on")
        busy.close()
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)


class Weston:
    """A headless weston compositor, for OBS Studio on Wayland."""

    def __init__(self, build_dir):
        self.runtime = os.path.join(build_dir, "host", "wayland-runtime")
        shutil.rmtree(self.runtime, ignore_errors=True)
        os.makedirs(self.runtime, mode=0o700)
        self.socket = f"velkin-wayland-{os.getpid()}"
        self.process = None

    def __enter__(self):
        if not shutil.which("weston"):
            raise HostError("WARNING: weston is not in the root: the Wayland checks did NOT run")
        self.log = open(os.path.join(self.runtime, "weston.log"), "w")
        self.process = subprocess.Popen(
            ["weston", "--backend=headless", "--renderer=pixman", "--width=1600", "--height=1000",
             f"--socket={self.socket}", "--debug"],
            env={**os.environ, "XDG_RUNTIME_DIR": self.runtime}, stdout=self.log, stderr=subprocess.STDOUT,
            start_new_session=True)
        deadline = time.time() + 20
        while not os.path.exists(os.path.join(self.runtime, self.socket)):
            if self.process.poll() is not None or time.time() > deadline:
                self.log.close()
                with open(self.log.name) as f:
                    tail = f.read()[-2000:]
                raise HostError(f"WARNING: weston did not start, the Wayland checks did NOT run:\n{tail}")
            time.sleep(0.1)
        return self

    def env(self):
        return {"QT_QPA_PLATFORM": "wayland", "WAYLAND_DISPLAY": self.socket, "XDG_RUNTIME_DIR": self.runtime}

    def screenshot(self, path):
        """weston's own screenshooter (weston --debug) writes the whole output."""
        os.makedirs(os.path.dirname(path), exist_ok=True)
        before = set(os.listdir(self.runtime))
        subprocess.run(["weston-screenshooter"], cwd=self.runtime, env={**os.environ, **self.env()}, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        shot = sorted(set(os.listdir(self.runtime)) - before)
        expect(shot, "weston-screenshooter wrote no file")
        shutil.move(os.path.join(self.runtime, shot[-1]), path)

    def __exit__(self, *exc):
        if self.process:
            self.process.terminate()
            self.process.wait(10)
            self.log.close()


def docked_layout(layout):
    """The docked part of a layout and the size inside the window's frame: what a Wayland compositor leaves to the
    program (a Wayland window draws its own frame, an X11 one without a window manager has none)."""
    docked = {name: value for name, value in layout.items() if name not in ("window", "client") and not value[0]}
    docked["window size"] = layout["client"][2:]
    return docked


@check
def check_wayland(args, display):
    """OBS Studio 32 on Wayland: the plug-in loads; Save New, Overwrite and loads by hotkey and by request work;
    docked layouts come back to the pixel, and as they were arranged through Qt alone; snapshots move between X11
    and Wayland; a floating layout loads quietly; a load over itself hides and shows no dock; OBS exits cleanly."""
    profile = Profile(args.build_dir, "wayland")
    install_arrange_module(args, profile)
    docked = ["Bottom", "Right", "Tabs", "Sides"]
    for name in [*docked, "Floating"]:
        layout_document(args, profile.snapshot_dir, f"{name}.json", name, *EXACT_LAYOUTS[name])

    # A snapshot made under X11.
    def save_on_x11(obs):
        load_layout(obs, "Sides.json")
        expect(vendor_call(obs, "SaveSnapshot", {"name": "From X11"}) == {"fileName": "From X11.json"},
               "Save New under X11")
        return settled_layout(obs)
    from_x11 = docked_layout(in_obs(profile, display, save_on_x11))

    # {layout: {dock: {"hide": n, "show": n}}} of each load over itself, judged at the end.
    blinks = {}
    with Weston(args.build_dir) as weston:
        obs = Obs(profile, display, env=weston.env()).start()
        try:
            obs.connect()
            expect(obs.log_lines("Platform: Wayland"), "OBS did not run on Wayland")
            expect(obs.log_lines(load_line(args)), "no load line")
            # Every docked layout after each of the others, by request and by hotkey.
            reference = {name: docked_layout(load_layout(obs, f"{name}.json")) for name in docked}
            failures = []
            for target in docked:
                for before in docked:
                    # Every load's window at the size that its snapshot holds.
                    for name in (before, target):
                        got = docked_layout(load_layout(obs, f"{name}.json"))
                        differing = saved_size_difference(os.path.join(profile.snapshot_dir, f"{name}.json"), got)
                        if differing:
                            failures.append(f"{name}'s window, loaded before {target}: {'; '.join(differing)}")
                    trigger(obs, f"obs-velkin.load.{before}.json")
                    wait_for(lambda: docked_layout(settled_layout(obs)) == reference[before], 10,
                             f"the load hotkey of {before} did not bring it back")
                    trigger(obs, f"obs-velkin.load.{target}.json")
                    wait_for(lambda: docked_layout(settled_layout(obs)) == reference[target], 10,
                             f"the load hotkey of {target} did not bring it back")
                    worst, differing = layout_difference(reference[target], got)
                    if differing:
                        failures.append(f"{target} after {before}: {worst} px ({'; '.join(differing)})")
            # Each docked layout arranged through Qt alone, saved, then loaded back after each of the others: the
            # docks and the window's size come back as arranged, and the snapshot holds that size.
            arranged_failures, compared, worst = arranged_loads(obs, profile, docked, docked_layout,
                                                                saved_size_difference)
            print(f"  {compared} rectangles and sizes of loads on Wayland compared with the layouts as arranged: "
                  f"worst difference {'a dock shown in one only' if worst is None else f'{worst} px'}", flush=True)
            expect(not failures and not arranged_failures,
                   f"{len(failures)} loads differ on Wayland from the first load:\n" + "\n".join(failures)
                   + f"\n{len(arranged_failures)} differ from the layout as arranged:\n"
                   + "\n".join(arranged_failures))
            # Where the compositor places windows, a floating layout loads all the same, and quietly.
            floating = load_layout(obs, "Floating.json")
            expect(floating.get("statsDock", (False,))[0], f"the Stats dock does not float: {floating}")
            print(f"  Qt's rectangles of the floating layout on Wayland: window {floating['window']}, Stats dock "
                  f"{floating['statsDock'][1]}", flush=True)
            weston.screenshot(os.path.join(args.build_dir, "artifacts", "floating-wayland.png"))
            # Qt's side of a blink, which the compositor does not tell: a load over itself hides and shows no dock.
            for name in ("Floating", "Sides"):
                load_layout(obs, f"{name}.json")
                vendor_call(obs, "CountShows", {"reset": True}, vendor="velkin-arrange")
                load_layout(obs, f"{name}.json")
                counted = vendor_call(obs, "CountShows", {"reset": True}, vendor="velkin-arrange")
                blinks[name] = {dock: counts for dock, counts in counted["docks"].items() if any(counts.values())}
                print(f"  {name} over itself on Wayland hid and showed: "
                      + (", ".join(f"{dock} {counts.get('hide', 0)}/{counts.get('show', 0)}"
                                   for dock, counts in sorted(blinks[name].items())) or "no dock"), flush=True)
            # X11's snapshot comes back docked as it was there.
            worst, differing = layout_difference(from_x11, docked_layout(load_layout(obs, "From X11.json")))
            expect(not differing, f"the X11 snapshot differs on Wayland by {worst} px: {differing}")
            # Save New and Overwrite.
            expect(vendor_call(obs, "SaveSnapshot", {"name": "From Wayland"}) == {"fileName": "From Wayland.json"},
                   "Save New on Wayland")
            load_layout(obs, "Tabs.json")
            saved = vendor_call(obs, "SaveSnapshot", {"name": "From Wayland", "overwrite": True})
            expect(saved == {"fileName": "From Wayland.json"}, f"Overwrite on Wayland answered {saved}")
            from_wayland = docked_layout(settled_layout(obs))
            load_layout(obs, "Bottom.json")
            expect(docked_layout(load_layout(obs, "From Wayland.json")) == from_wayland,
                   "the overwritten snapshot did not come back")
            trigger(obs, "obs-velkin.open")
            time.sleep(1.5)
            weston.screenshot(os.path.join(args.build_dir, "artifacts", "dialog-wayland.png"))
            _, hotkeys = obs.request("GetHotkeyList")
            expect(any(name.startswith("obs-velkin.load.") for name in hotkeys.get("hotkeys", [])),
                   "no load hotkey on Wayland")
        finally:
            code = obs.stop()
        expect_clean_exit(obs, code)
        # The layout kept at the exit of OBS under X11 goes back where OBS's own restore on Wayland differs from it.
        lines = [line for line in plugin_lines(obs)
                 if not line.startswith("[obs-velkin] Put back the layout on screen at the last exit or crash")]
        expect(lines == [load_line(args)], f"unexpected plug-in log lines: {plugin_lines(obs)}")

    # And Wayland's snapshot under X11.
    worst, differing = layout_difference(
        from_wayland, in_obs(profile, display, lambda obs: docked_layout(load_layout(obs, "From Wayland.json"))))
    expect(not differing, f"the Wayland snapshot differs under X11 by {worst} px: {differing}")
    expect(not any(blinks.values()), f"a load over itself hid and showed docks on Wayland: {blinks}")

def window_geometry(display, window):
    """(x, y, width, height) of an X window."""
    shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                           env={**os.environ, "DISPLAY": display.name}, capture_output=True, text=True).stdout
    values = dict(line.split("=", 1) for line in shell.split())
    return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))


def new_windows(display, before):
    """The top-level windows on screen that were not there before."""
    return sorted(set(visible_windows(display, "", top_level=True)) - before)


def new_popup(display, before, message):
    """The geometry (x, y, width, height) of a window that appeared since `before`: a menu that popped up."""
    return window_geometry(display, wait_for(lambda: new_windows(display, before), 5, message)[-1])


def open_layouts_submenu(display, main):
    """Opens Docks → Dock Layouts in the main window with the mouse: (the Docks menu's geometry, the submenu's,
    the top-level windows on screen with the submenu open)."""
    # A click on Docks, the fourth menu of the bar; the submenu is its last entry.
    before = set(visible_windows(display, "", top_level=True))
    xdotool(display, "mousemove", "--window", main, "144", "11")
    settle(0.3)
    xdotool(display, "click", "1")
    docks = new_popup(display, before, "the Docks menu did not open")
    x, y, width, height = docks
    before = set(visible_windows(display, "", top_level=True))
    # A busy OBS has let the pointer's arrival on the entry go by: then the pointer moves on the entry again.
    for nudge in (0, 6, 12):
        xdotool(display, "mousemove", str(x + width // 2 + nudge), str(y + height - 12))
        try:
            submenu = new_popup(display, before, "")
            break
        except HostError:
            pass
    else:
        raise HostError("the Dock Layouts submenu did not open")
    settle(0.3)
    return docks, submenu, set(visible_windows(display, "", top_level=True))


def side_of(rect, menu):
    """"right" or "left" when the rectangle lies wholly on that side of the menu's, else None."""
    x, _, width, _ = rect
    mx, _, mwidth, _ = menu
    return "right" if x >= mx + mwidth else "left" if x + width <= mx else None


# A row's picture is at least 360 pixels wide at the proportions of the snapshot's window, over 200 pixels high for
# the layouts here; its text alone (name, time, path) is three lines.
PICTURE_LEAST_HEIGHT = 150


class MenuPictures:
    """The snapshot rows of the open Dock Layouts submenu and the window that shows a row's picture beside it. The
    window lines up with the top of its row, which tells where the rows are and that the pointer rests on the
    intended one."""

    def __init__(self, display, submenu, before):
        self.display = display
        self.submenu = submenu
        self.before = before
        x, y, _, _ = submenu
        self.top = self.rest_at(x + 30, y + 10, "the first row", lambda rect: True)[1]
        # The keyboard's Down goes to the next row: its picture tells the rows' height.
        keys(display, "<Down>")
        self.height = self.picture("the second row", lambda rect: rect[1] > self.top)[1] - self.top

    def picture(self, row, where):
        """The geometry of the one new window, once it is placed as `where` wants (within 3 s)."""
        shown = []

        def placed():
            shown[:] = [window_geometry(self.display, window) for window in new_windows(self.display, self.before)]
            return len(shown) == 1 and where(shown[0]) and shown[0]

        try:
            return wait_for(placed, 3, "")
        except HostError:
            raise HostError(f"resting on {row} of the Dock Layouts submenu at {self.submenu}: expected one new "
                            f"window level with the row, got {shown or 'none'}")

    def rest_at(self, x, y, row, where, seconds=0.0):
        """Rests the pointer at (x, y) and returns the geometry of the picture placed as `where` wants. A busy OBS
        may let the pointer's arrival go by, as on the Docks menu's entry: then the pointer moves a few pixels
        along the row again, and says so."""
        for nudge in (0, 4, 8):
            xdotool(self.display, "mousemove", str(x + nudge), str(y))
            settle(seconds)
            try:
                return self.picture(row, where)
            except HostError:
                if nudge == 8:
                    raise
                print(f"  no picture after resting on {row}: the pointer moves {nudge + 4} px along it",
                      flush=True)

    def rest_on(self, row, seconds=0.0):
        """Rests the pointer on a row (from 0) and returns the geometry of its picture's window, which must lie
        beside the submenu, never over it: level with the row, or moved up to end at the screen's bottom."""
        x, _, _, _ = self.submenu
        top = self.top + row * self.height
        bottom = int(subprocess.run(["xdotool", "getdisplaygeometry"], env={**os.environ, "DISPLAY": self.display.name},
                                    capture_output=True, text=True, check=True).stdout.split()[1])
        rect = self.rest_at(x + 30, top + self.height // 2, f"row {row + 1}",
                            lambda rect: rect[1] == top or (rect[1] < top and rect[1] + rect[3] == bottom), seconds)
        expect(side_of(rect, self.submenu),
               f"row {row + 1}'s picture at {rect} lies over the Dock Layouts submenu at {self.submenu}")
        return rect

    def click(self, row):
        x, _, _, _ = self.submenu
        xdotool(self.display, "mousemove", str(x + 30), str(self.top + row * self.height + self.height // 2))
        settle(0.3)
        xdotool(self.display, "click", "1")


def crop(path, rects, margin=16):
    """Cuts a screenshot down to the rectangles with a margin (ImageMagick's convert)."""
    left = max(0, min(x for x, _, _, _ in rects) - margin)
    top = max(0, min(y for _, y, _, _ in rects) - margin)
    right = max(x + w for x, _, w, _ in rects) + margin
    bottom = max(y + h for _, y, _, h in rects) + margin
    subprocess.run(["convert", path, "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path],
                   check=True)
    return path


# The manager's snapshot rows: the middle of the first, relative to the dialog, and the rows' height.
MANAGER_FIRST_ROW = (120, 126)
MANAGER_ROW_HEIGHT = 28

# OBS's themes by id ([Appearance] Theme); OBS starts in its default, dark one.
THEMES = {"dark": None, "light": "com.obsproject.Yami.Light"}


def use_theme(profile, theme):
    """Sets OBS's theme before its first start. OBS 30 reads it from global.ini; OBS 31 and later from user.ini,
    which they make from global.ini at their first start."""
    if theme:
        with open(os.path.join(profile.obs_config, "global.ini"), "a") as f:
            f.write(f"\n[Appearance]\nTheme={theme}\n")


def rest_on_manager_row(display, dialog, row):
    """Rests the pointer on the manager's row (0 is the first), coming from just above it, and returns the
    rectangles of the top-level windows that showed meanwhile."""
    before = set(visible_windows(display, "", top_level=True))
    x, y = MANAGER_FIRST_ROW
    xdotool(display, "mousemove", "--window", dialog, str(x), str(y + row * MANAGER_ROW_HEIGHT - 4))
    time.sleep(0.3)
    xdotool(display, "mousemove", "--window", dialog, str(x + 5), str(y + row * MANAGER_ROW_HEIGHT))
    time.sleep(2)
    return [window_geometry(display, window) for window in new_windows(display, before)]


@check
def check_layouts_menu(args, display):
    """The Dock Layouts submenu at the end of OBS's Docks menu loads the snapshot chosen with the mouse; a row's
    picture shows beside the submenu, never over it, in the dark and in a light theme. Screenshots of the submenu
    with a picture and of a row's tool tip in the manager are kept, for the README: OBS has its profile in a
    user's home folder, which the tool tips show."""
    artifacts = os.path.join(args.build_dir, "artifacts")
    for look, theme in THEMES.items():
        profile = Profile(args.build_dir, f"layouts-menu-{look}", user_home="/home/streamer")
        use_theme(profile, theme)
        paths = {name: layout_document(args, profile.snapshot_dir, f"{name}.json", name, *EXACT_LAYOUTS[name])
                 for name in ("Bottom", "Floating", "Sides")}
        obs = Obs(profile, display).start()
        try:
            obs.connect()
            # Snapshots of layouts as OBS itself lays them out, for the screenshots.
            loaded = {}
            for name, saved in (("Sides", "Studio"), ("Floating", "Stats aside")):
                loaded[name] = load_layout(obs, f"{name}.json")
                answer = vendor_call(obs, "SaveSnapshot", {"name": saved})
                expect(answer.get("fileName") == f"{saved}.json", f"SaveSnapshot answered {answer}")
            load_layout(obs, "Bottom.json")
            main = wait_for(lambda: visible_windows(display, "^OBS .* - Profile: "), 10, "no main window")[0]
            docks, submenu, before = open_layouts_submenu(display, main)
            rows = MenuPictures(display, submenu, before)
            # Bottom, Floating, Sides, Studio and Stats aside.
            for row in range(5):
                rows.rest_on(row, 0.5)
            shown = rows.rest_on(3, 1)
            shot = obs.screenshot(os.path.join(artifacts, f"layout-picture-{look}.png"))
            crop(shot, [docks, submenu, shown])
            # The third row is Sides: the click loads it over Bottom, and the screen shows it.
            rows.click(2)
            wait_for_last(profile, profile.seen(paths["Sides"]))
            worst, differing = layout_difference(loaded["Sides"], settled_layout(obs))
            expect(not differing, f"the click on Sides loaded another layout: {worst} px ({'; '.join(differing)})")

            # Studio's tool tip in the manager, with the picture of its layout.
            dialog = open_manager(obs, display)
            time.sleep(0.5)
            shown = rest_on_manager_row(display, dialog, 3)
            expect(len(shown) == 1 and shown[0][3] >= PICTURE_LEAST_HEIGHT,
                   f"resting on a row of the manager shows {shown}, not one tool tip with a picture")
            shot = obs.screenshot(os.path.join(artifacts, f"layout-tooltip-{look}.png"))
            crop(shot, [window_geometry(display, dialog), shown[0]])
        finally:
            code = obs.stop()
        expect_clean_exit(obs, code)


@shot
def shot_automation_rules_row(args, display):
    """docs/images/automation-rules-row.png: the manager with three snapshots whose rows show their events beside the
    time, and the last row's tool tip below the rows, with the profile in a user's home folder. Taken into
    BUILD_DIR/artifacts by host_checks.py --build-dir BUILD_DIR --plugin-version VERSION --shot automation_rules_row."""
    profile = Profile(args.build_dir, "shot-automation-rules-row", user_home="/home/streamer")
    # The layout tool's documents, loaded in OBS and saved under the shot's names, so that the pictures show the
    # layouts as OBS itself lays them out; then the documents go, and the rules come for the second start.
    saved = {"Audio Mixing": "Right", "Going Live": "Bottom", "Scene Building": "Sides"}
    for layout in saved.values():
        layout_document(args, profile.snapshot_dir, f"{layout}.json", layout, *EXACT_LAYOUTS[layout])

    def save(obs):
        for name, layout in saved.items():
            load_layout(obs, f"{layout}.json")
            answer = vendor_call(obs, "SaveSnapshot", {"name": name})
            expect(answer.get("fileName") == f"{name}.json", f"SaveSnapshot answered {answer}")

    in_obs(profile, display, save)
    for layout in saved.values():
        os.remove(os.path.join(profile.snapshot_dir, f"{layout}.json"))
    with open(profile.settings_path, "w", encoding="utf-8") as f:
        json.dump({"snapshotOrder": [f"{name}.json" for name in saved]}, f)
    write_automation(profile, [("obsStarted", "Audio Mixing"), ("streamingStarted", "Going Live"),
                               ("studioModeEnabled", "Scene Building")])
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        wait_for_last(profile, profile.seen(os.path.join(profile.snapshot_dir, "Audio Mixing.json")), 20)
        dialog = open_manager(obs, display)
        time.sleep(0.5)
        # The last row's tool tip opens below it, over the empty part of the list.
        shown = rest_on_manager_row(display, dialog, 2)
        expect(len(shown) == 1, f"resting on the last row of the manager shows {shown}, not one tool tip")
        path = obs.screenshot(os.path.join(args.build_dir, "artifacts", "automation-rules-row.png"))
        crop(path, [window_geometry(display, dialog), shown[0]])
        print(f"  {path}", flush=True)
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)


def qt_string(text):
    """A QString as QDataStream writes it: its length in bytes, then UTF-16 big-endian."""
    data = text.encode("utf-16-be")
    return struct.pack(">I", len(data)) + data


def column_state(names):
    """A QMainWindow state without tool bars that places the named docks in one column of the left dock area."""
    state = struct.pack(">iiBii", 0xff, 0, 0xfd, 1, 0) + struct.pack(">ii", 300, 300)
    state += struct.pack(">BBi", 0xfc, 2, len(names))
    for name in names:
        state += b"\xfb" + qt_string(name) + struct.pack(">Biiii", 1, 0, 10, 0, 0)
    return state + struct.pack(">ii", 100, 100) + struct.pack(">iiii", 4, 4, 8, 8)


def rewrite_document(path, change):
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    change(document)
    with open(path, "w", encoding="utf-8") as f:
        json.dump(document, f, indent=4)


def side_four(document):
    """The first dock area's side set to 4, past the four that Qt knows: the state's size, magic and markers are
    all still right."""
    state = bytearray(base64.b64decode(document["state"]))
    expect(state[8] == 0xfd and struct.unpack_from(">i", state, 9)[0] >= 1, "the state has no dock areas")
    struct.pack_into(">i", state, 13, 4)
    document["state"] = base64.b64encode(bytes(state)).decode()


def many_docks(document):
    names = [f"manyDock{number:05}" for number in range(20000)]
    document["docks"] = names
    document["state"] = base64.b64encode(column_state(names)).decode()


def tall_maximized(document):
    """The geometry saved maximized, with a client area of 500 x 1,000,000 pixels, as a damaged file may say."""
    geometry = bytearray(base64.b64decode(document["geometry"]))
    # After the magic number and version, the frame and normal rectangles and the screen's number: whether it is
    # maximized or full screen, the screen's width and the client rectangle (left, top, right, bottom).
    expect(struct.unpack_from(">H", geometry, 4)[0] == 3, "the geometry is not of version 3")
    struct.pack_into(">BB", geometry, 44, 1, 0)
    struct.pack_into(">iiii", geometry, 50, 0, 0, 499, 999999)
    document["geometry"] = base64.b64encode(bytes(geometry)).decode()


def close_manager(display, dialog):
    """Closes the manager with Escape; a key that comes before Qt has taken the focus is lost, so it is sent again
    while the manager stays open."""
    for _ in range(5):
        xdotool(display, "windowfocus", "--sync", dialog)
        settle(0.3)
        keys(display, "<Escape>")
        try:
            return wait_for(lambda: dialog not in visible_windows(display, "^OBS-Velkin Dock Layouts$"), 2, "")
        except HostError:
            pass
    raise HostError("the manager did not close on Escape")


def expect_answering(obs, why):
    """OBS answers obs-websocket within 10 s, and OBS's UI thread is free: the plug-in answers its list there, and
    answers Busy when the UI thread has not taken the request within 5 s."""
    try:
        obs.check_alive()
        version = obs.send_request("GetVersion")
        listing = obs.send_request("CallVendorRequest", {"vendorName": VENDOR, "requestType": "GetSnapshotList"})
        answers = obs.receive_answers([version, listing], 10)
    except (HostError, OSError, websocket.WebSocketException) as error:
        code = obs.process.poll()
        raise HostError(f"{why}: OBS does not answer " +
                        (f"(it ended with code {code}){obs.crash_trace()}" if code is not None else f"({error or type(error).__name__})"))
    status, _ = answers[version]
    expect(status["result"], f"{why}: GetVersion failed: {status}")
    status, response = answers[listing]
    answer = response.get("responseData") or {}
    expect(status["result"] and "snapshots" in answer,
           f"{why}: OBS's UI thread did not answer GetSnapshotList: {answer or status}")


@check
def check_picture_safety(args, display):
    """Resting on the row of a snapshot whose dock state Qt would crash on, or of one that places 20,000 docks,
    in the manager and in the Dock Layouts submenu, leaves OBS answering: those rows show their text without a
    picture, and the other rows keep theirs. So does a row saved maximized at 500 x 1,000,000 pixels, whose picture
    is bounded."""
    profile = Profile(args.build_dir, "picture-safety")
    # In the list's order; whether each row has a picture.
    rows = [("Alpha", "Bottom", None, True), ("Bravo", "Sides", side_four, False),
            ("Charlie", "Floating", None, True), ("Delta", "Bottom", many_docks, False),
            ("Echo", "Bottom", tall_maximized, True)]
    for name, layout, change, _ in rows:
        path = layout_document(args, profile.snapshot_dir, f"{name}.json", name, *EXACT_LAYOUTS[layout])
        if change:
            rewrite_document(path, change)
    # Each row, and the first once more after the others.
    visits = [*enumerate(rows), (0, rows[0])]
    artifacts = os.path.join(args.build_dir, "artifacts")
    obs = Obs(profile, display).start()
    try:
        obs.connect()
        dialog = open_manager(obs, display)
        time.sleep(0.5)
        x, y = MANAGER_FIRST_ROW
        before = set(visible_windows(display, "", top_level=True))
        for index, (name, _, _, picture) in visits:
            # Off the list first, so that the tool tip goes and the next one is a window of its own.
            xdotool(display, "mousemove", "--window", dialog, str(x), "10")
            wait_for(lambda: not new_windows(display, before), 5, f"the tool tip stayed on screen before {name}")
            xdotool(display, "mousemove", "--window", dialog, str(x), str(y + index * MANAGER_ROW_HEIGHT))
            time.sleep(2)
            # A busy UI thread shows its tool tip late, if at all: OBS must answer either way.
            deadline = time.time() + 3
            while not new_windows(display, before) and time.time() < deadline:
                time.sleep(0.1)
            expect_answering(obs, f"after resting on {name} in the manager")
            shown = [window_geometry(display, window) for window in new_windows(display, before)]
            obs.screenshot(os.path.join(artifacts, f"picture-safety-manager-{name}.png"))
            expect(len(shown) == 1, f"resting on {name} in the manager shows the windows {shown}, not one tool tip")
            expect((shown[0][3] >= PICTURE_LEAST_HEIGHT) == picture,
                   f"{name}'s tool tip in the manager is {shown[0][3]} px high: "
                   f"{'no' if picture else 'a'} picture where {'one' if picture else 'none'} belongs")
        close_manager(display, dialog)

        main = wait_for(lambda: visible_windows(display, "^OBS .* - Profile: "), 10, "no main window")[0]
        _, submenu, before = open_layouts_submenu(display, main)
        menu = MenuPictures(display, submenu, before)
        for index, (name, _, _, picture) in visits:
            shown = menu.rest_on(index, 2)
            expect_answering(obs, f"after resting on {name} in the Dock Layouts submenu")
            expect((shown[3] >= PICTURE_LEAST_HEIGHT) == picture,
                   f"{name}'s row in the Dock Layouts submenu shows a window {shown[3]} px high: "
                   f"{'no' if picture else 'a'} picture where {'one' if picture else 'none'} belongs")
        obs.screenshot(os.path.join(artifacts, "picture-safety-menu.png"))
        keys(display, "<Escape>", "<Escape>")
    except HostError as error:
        # A hung OBS fails to stop as well: the first failure is told before that one.
        print(f"FAILED: {error}", file=sys.stderr, flush=True)
        raise
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    expect(plugin_lines(obs) == [load_line(args)], f"unexpected plug-in log lines: {plugin_lines(obs)}")


# The plug-in built with AddressSanitizer and UndefinedBehaviorSanitizer in the real OBS, which is not instrumented:
# the sanitizer's runtime is preloaded into OBS, and each sanitizer writes its reports to files in one folder.
SOURCE_ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir))
# The exit code that the sanitizers give OBS when they found leaks: one that OBS does not use itself.
LEAKS_EXIT_CODE = 23


def sanitizer_runtime(build_dir):
    """The AddressSanitizer runtime for LD_PRELOAD: the one the sanitized module links (GCC), or else the one of the
    compiler that built it (clang links none into a shared library)."""
    module = os.path.join(build_dir, "obs-velkin.so")
    for line in subprocess.run(["ldd", module], capture_output=True, text=True).stdout.splitlines():
        name, _, found = line.strip().partition(" => ")
        if re.match(r"lib(clang_rt\.)?asan", name) and found.startswith("/"):
            return found.split()[0]
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        compiler = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", f.read(), re.M).group(1)
    # Older clang keeps its runtimes as lib/linux/libclang_rt.asan-x86_64.so, newer ones in a folder per target.
    ask = lambda option: subprocess.run([compiler, option], capture_output=True, text=True).stdout.strip()
    for path in (ask("-print-file-name=libclang_rt.asan-x86_64.so"),
                 os.path.join(ask("-print-runtime-dir"), "libclang_rt.asan.so")):
        if os.path.isabs(path) and os.path.exists(path):
            return path
    raise HostError(f"{module} links no AddressSanitizer runtime, and {compiler} has none")


SanitizerReport = collections.namedtuple("SanitizerReport", "pid kind lines")


def sanitizer_reports(files):
    """The reports in the files {path: id of the process that wrote it}, and the ids of the processes whose
    AddressSanitizer reached its exit statistics. A report's kind is "leak" (one leak and the stack of its
    allocation), "error" (an AddressSanitizer error) or "runtime" (an UndefinedBehaviorSanitizer error). A file may
    hold other output between the reports."""
    reports, exited = [], set()
    for path, pid in files.items():
        current = None
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f.read().splitlines():
                if re.match(r"(Direct|Indirect) leak of ", line):
                    current = SanitizerReport(pid, "leak", [line])
                    reports.append(current)
                elif "ERROR: AddressSanitizer:" in line:
                    current = SanitizerReport(pid, "error", [line])
                    reports.append(current)
                elif " runtime error: " in line:
                    current = SanitizerReport(pid, "runtime", [line])
                    reports.append(current)
                elif "AddressSanitizer exit stats:" in line:
                    exited.add(pid)
                    current = None
                elif current and (current.kind == "error" or re.match(r"\s*#\d+ ", line)):
                    # An error's report runs to its summary; a leak's or UBSan's is a stack.
                    current.lines.append(line)
                    if line.startswith("SUMMARY: "):
                        current = None
                elif not (current and current.kind == "runtime" and not line.strip()):
                    current = None
    return reports, exited


@functools.lru_cache(maxsize=None)
def executable_ranges(module):
    """The offsets of an ELF file's executable segments, as the loader maps them; None when it cannot be read."""
    try:
        with open(module, "rb") as f:
            header = f.read(64)
            if header[:4] != b"\x7fELF" or header[4] != 2:
                return None
            phoff, = struct.unpack_from("<Q", header, 0x20)
            entry_size, count = struct.unpack_from("<HH", header, 0x36)
            f.seek(phoff)
            table = f.read(entry_size * count)
    except OSError:
        return None
    ranges = []
    for i in range(count):
        kind, flags, _, vaddr, _, _, memsz = struct.unpack_from("<IIQQQQQ", table, i * entry_size)
        if kind == 1 and flags & 1:
            ranges.append((vaddr, vaddr + memsz))
    return ranges


def plugin_frames(report, build_dirs):
    """The frames of a report's stacks that lie in the plug-in: its module, or a file of the project or its builds,
    by the path they were built from, which may pass through a symbolic link, or by the real one. A frame that gives
    the module and an offset outside the module's code is none of the plug-in's: the sanitizer's fast unwinder read
    a return address that code without frame pointers (a system library's) never left there."""
    folders = [SOURCE_ROOT, *build_dirs]
    marks = ["obs-velkin.so", *(path(folder) + os.sep for folder in folders for path in (os.path.abspath,
                                                                                         os.path.realpath))]

    def outside_code(line):
        offset = re.search(r"\(([^()]*obs-velkin\.so)\+0x([0-9a-f]+)\)", line)
        ranges = offset and executable_ranges(offset.group(1))
        return ranges is not None and offset is not None and not any(
            start <= int(offset.group(2), 16) < end for start, end in ranges)

    return [line.strip() for line in report.lines
            if re.match(r"\s*#\d+ ", line) and any(mark in line for mark in marks) and not outside_code(line)]


@check
def check_asan(args, display):
    """With the plug-in built with AddressSanitizer (its runtime preloaded into OBS), loads by hotkey, by request and
    from the Dock Layouts submenu, Save New and Overwrite by request, the manager with a row's picture, a rename and
    a delete, and the quit by SIGINT leave no sanitizer error and no leak that the plug-in's code allocated."""
    expect(args.asan_build_dir, "no sanitizer build: give --asan-build-dir")
    sanitized = os.path.abspath(args.asan_build_dir)
    profile = Profile(args.build_dir, "asan", plugin_build_dir=sanitized)
    paths = {name: layout_document(args, profile.snapshot_dir, f"{name}.json", name, *EXACT_LAYOUTS[layout])
             for name, layout in (("Alpha", "Bottom"), ("Beta", "Floating"), ("Gamma", "Right"))}
    with open(profile.settings_path, "w") as f:
        json.dump({"snapshotOrder": ["Alpha.json", "Beta.json", "Gamma.json"]}, f)
    folder = os.path.join(profile.home, "sanitizers")
    os.makedirs(folder)
    # Only the plug-in's code is instrumented, but the runtime's allocator serves the whole process, so the leak check
    # also finds OBS's and Qt's own leaks; the stacks of the allocations tell them apart. The fast unwinder follows
    # frame pointers, which OBS and Qt do not keep: a stack ends a frame or two into them, so a leak counts as the
    # plug-in's when its code made the allocation itself. The slow unwinder follows the stacks through OBS and Qt
    # too, but slows OBS down so much (its start from 4 s to 20 s and more) that driving its windows failed in most
    # tries.
    options = {"log_path": os.path.join(folder, "asan"), "detect_leaks": "1", "halt_on_error": "0",
               "exitcode": str(LEAKS_EXIT_CODE), "atexit": "1", "symbolize": "1", "fast_unwind_on_malloc": "1"}
    env = {"LD_PRELOAD": sanitizer_runtime(sanitized),
           "ASAN_OPTIONS": ":".join(f"{key}={value}" for key, value in options.items()),
           "UBSAN_OPTIONS": f"log_path={os.path.join(folder, 'ubsan')}:print_stacktrace=1"}
    symbolizer = shutil.which("llvm-symbolizer")
    if symbolizer:
        env["ASAN_SYMBOLIZER_PATH"] = symbolizer
    began = time.time()
    # OBS runs slower with the sanitizer's allocator.
    global patience
    patience = 2.0
    obs = Obs(profile, display, env=env, answer_timeout=60).start()
    failure = None
    try:
        obs.connect(timeout=180)
        print(f"  OBS answered {time.time() - began:.0f} s after its start, with {env['LD_PRELOAD']} preloaded",
              flush=True)
        use_under_sanitizers(obs, display, profile, paths)
    except Exception as error:  # told after the sanitizers' reports, which may say why
        failure = error
        try:
            obs.screenshot(os.path.join(args.build_dir, "artifacts", "asan-failure.png"))
        except (OSError, subprocess.CalledProcessError):
            pass
    finally:
        patience = 1.0
    code = obs.stop(timeout=180)
    took = time.time() - began

    # Each sanitizer writes to its file; what goes to OBS's output instead (UBSan's errors, with GCC) counts too.
    files = {os.path.join(folder, name): int(name.rsplit(".", 1)[1]) for name in os.listdir(folder)}
    files[os.path.join(profile.home, "obs-output.txt")] = obs.process.pid
    reports, exited = sanitizer_reports(files)
    build_dirs = [args.build_dir, sanitized]
    errors = [report for report in reports if report.kind != "leak"]
    leaks = [report for report in reports if report.kind == "leak"]
    ours = [report for report in leaks if plugin_frames(report, build_dirs)]
    print(f"  {len(reports)} sanitizer reports in {took:.0f} s: {len(errors)} errors, {len(leaks)} leaks, of which "
          f"{len(ours)} with the plug-in's frames ({len(leaks) - len(ours)} of OBS and its libraries left aside)",
          flush=True)
    for report in (errors + ours)[:10]:
        print("\n".join(report.lines[:40]) + "\n", file=sys.stderr)
    expect(not errors, f"{len(errors)} sanitizer errors, the first: {errors[0].lines[0] if errors else ''} "
                       f"(all in {', '.join(files)}){f'; and then: {failure}' if failure else ''}")
    if failure:
        raise HostError(f"{failure} (sanitizers' reports in {folder})")
    expect(obs.process.pid in exited, f"AddressSanitizer did not reach its exit statistics in {folder}: OBS did not "
                                      "end through exit(), and the leak check did not run")
    expect_clean_exit(obs, code, (0, LEAKS_EXIT_CODE) if leaks else (0,))
    expect(not ours, f"{len(ours)} leaks allocated by the plug-in's code, at "
                     f"{sorted({plugin_frames(report, build_dirs)[0] for report in ours})}")


def use_under_sanitizers(obs, display, profile, paths):
    """What the check asan does in OBS: the plug-in's loads, saves, manager and submenu."""
    trigger(obs, "obs-velkin.load.Beta.json")
    wait_for_last(profile, paths["Beta"])
    for name, expected in [("obs-velkin.cycle", "Gamma"), ("obs-velkin.previous", "Beta")]:
        trigger(obs, name)
        wait_for_last(profile, paths[expected])

    expect(vendor_call(obs, "LoadSnapshot", {"name": "Alpha"}).get("loaded"), "LoadSnapshot of Alpha")
    expect(vendor_call(obs, "SaveSnapshot", {"name": "Delta"}) == {"fileName": "Delta.json"}, "Save New")
    expect(vendor_call(obs, "LoadNextSnapshot").get("loaded"), "LoadNextSnapshot")
    expect(vendor_call(obs, "SaveSnapshot", {"name": "Delta", "overwrite": True}) == {"fileName": "Delta.json"},
           "Overwrite")
    expect(vendor_call(obs, "UndoLoad").get("loaded"), "UndoLoad")
    expect_vendor_error(obs, "LoadSnapshot", {"name": "Missing"}, "NotFound")
    expect(len(vendor_call(obs, "GetSnapshotList")["snapshots"]) == 4, "the list does not hold four snapshots")

    # The manager: a row's tool tip with its picture, a rename with F2 and a delete with the Delete key.
    title = "^OBS-Velkin Dock Layouts$"
    dialog = open_manager(obs, display)
    snapshot = lambda name: os.path.join(profile.snapshot_dir, name)

    def question(name, key):
        """Selects a row by searching for it and presses a key that opens a question. Keys sent while OBS was busy
        have gone missing here: they are sent again while no question opens."""
        before = set(visible_windows(display, title))
        for _ in range(3):
            type_in_manager(display, dialog, name, "<Tab>", key)
            try:
                wait_for(lambda: set(visible_windows(display, title)) - before, 3, "")
                return before
            except HostError:
                pass
        raise HostError(f"{key} on {name} opened no question")

    # Qt shows tool tips in the active window only: the manager is, right after it opened.
    before = set(visible_windows(display, "", top_level=True))
    x, y = MANAGER_FIRST_ROW
    xdotool(display, "mousemove", "--window", dialog, str(x), str(y))
    wait_for(lambda: new_windows(display, before), 10, "resting on a row of the manager showed no tool tip")
    xdotool(display, "mousemove", "--window", dialog, str(x), "10")
    # Only the rename matters here, not the new name: typed letters have gone missing on a busy machine.
    answer_window(display, question("Gamma", "<F2>"), title, "", ("<ctrl+a>", "Omega", "<Return>"),
                  lambda: not os.path.exists(snapshot("Gamma.json")), "the rename did not move Gamma.json")
    answer_window(display, question("Delta", "<Delete>"), title, "", ("<Return>",),
                  lambda: not os.path.exists(snapshot("Delta.json")), "Delta.json was not deleted")
    close_manager(display, dialog)

    # The Dock Layouts submenu: a row's picture, and a click that loads the first row's snapshot.
    main = wait_for(lambda: visible_windows(display, "^OBS .* - Profile: "), 10, "no main window")[0]
    _, submenu, before = open_layouts_submenu(display, main)
    rows = MenuPictures(display, submenu, before)
    rows.rest_on(1, 0.5)
    rows.click(0)
    wait_for_last(profile, paths["Alpha"])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--obs-version", default="")
    parser.add_argument("--plugin-version", required=True, help="the version the plug-in's load line names")
    parser.add_argument("--asan-build-dir", help="the plug-in built with AddressSanitizer, for the check asan")
    parser.add_argument("--check", action="append", choices=sorted(CHECKS), default=[])
    parser.add_argument("--shot", action="append", choices=sorted(SHOTS), default=[],
                        help="takes a README screenshot into BUILD_DIR/artifacts instead of running checks")
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
    with Display() as display:
        for name in args.shot:
            print(f"shot {name}: {SHOTS[name].__doc__}", flush=True)
            SHOTS[name](args, display)
        for name in [] if args.shot and not args.check else args.check or sorted(CHECKS):
            print(f"host check {name}: {CHECKS[name].__doc__}", flush=True)
            CHECKS[name](args, display)
            print(f"host check {name}: passed", flush=True)
    return 0


if __name__ == "__main__":
    run_main(main)
