#!/usr/bin/env python3
"""An evening on air, in as many minutes as asked: the real OBS Studio with the plug-in and 50 snapshots, on a desk of
two monitors whose second one is unplugged and plugged in again every minute or so, driven as a streamer, a Stream
Deck and automation drive it, at a person's pace with bursts. Fails on a crash or a hang (every
request answered within 2 s), on more than 5 % of the plug-in's requests answered Busy, on a load answered as loaded
or seen after a hotkey's press that did not put its snapshot's docks on the screen or name it as last, on fewer than
80 % of the loads checked so (the others came beside another change), on a save that did not keep the docks on the
screen, on OBS's memory growing after the warm-up by more than 6 MiB beyond what an idle twin OBS grows by meanwhile
(the pictures that OBS's own studio mode leaves behind counted apart), on leaks or hotkeys left at exit, on a file that does not read back, and at the end on a
snapshot file whose state or geometry is not what its last writer wrote, an order that does not keep the one
the soak set, or a binding that is not the last one set. Prints its figures as a table."""

import argparse
import base64
import collections
import contextlib
import json
import os
import random
import re
import shutil
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "host"))
from host_checks import (EXACT_LAYOUTS, SETTINGS_KEYS, VENDOR, VENDOR_EVENTS, TwoMonitors, expect, expect_clean_exit,
                         layout_document, plugin_lines, read_settings, start_xvfb, type_in_manager, until_new_window,
                         wait_for, write_automation)
from obs_host import HostError, Obs, Profile, run_main, visible_windows, xdotool
from dock_state import docked_extents, dock_states, floating_rects, window_rects

ANSWER_LIMIT = 2.0
# How much more OBS's memory may grow after the warm-up than the idle twin's over the same minutes.
GROWTH_LIMIT_MIB = 6
# Seconds of the evening after the memory reference at the least.
MIN_EVENING = 30
# Seconds that the screen may take to show a layout.
SETTLE_SECONDS = 3
# The share of the plug-in's requests that may be answered Busy: it is busy while an error box of a hotkey load is
# open, and a deck that presses meanwhile hears Busy.
BUSY_LIMIT = 0.05
# The share of the loads that took effect that must be checked: the others came beside another change.
CHECKED_FLOOR = 0.8
# The test build's requests, which measure rather than use the plug-in.
PROBES = ("ReportLayout", "SetHotkeyBindings")
GLOBAL_HOTKEYS = {"cycleHotkey": "obs-velkin.cycle", "previousHotkey": "obs-velkin.previous",
                  "openHotkey": "obs-velkin.open", "undoHotkey": "obs-velkin.undo"}
MANAGER = "^OBS-Velkin Dock Layouts$"
# Each of the five test layouts in ten variants.
VARIANTS = [(), ("float:controlsDock:700,500,360,240",), ("hide:mixerDock",),
            ("float:transitionsDock:200,600,400,200",), ("hide:sourcesDock",), ("float:scenesDock:1300,100,300,400",),
            ("hide:controlsDock",), ("float:mixerDock:900,600,500,250",), ("hide:scenesDock", "hide:sourcesDock"),
            ("float:statsDock:50,700,420,300",)]
# Seconds between two changes of the monitors: the second one unplugged or plugged in again.
MONITOR_CHANGE_SECONDS = (40, 90)
MAPPING = re.compile(r"^[0-9a-f]+-[0-9a-f]+ ")
RULES = [("recordingStarted", "Soak 03"), ("studioModeEnabled", "Soak 07"), ("studioModeDisabled", "Soak 12")]


Memory = collections.namedtuple("Memory", "rss images segments")


def memory_of(pid):
    """OBS's resident size in KiB, the part of it in X shared memory segments, and how many of those it holds.

    OBS's studio mode leaves the picture of its program view behind at every switch-on under X11, with or without
    the plug-in: on OBS 30 and OBS 32 alike, 20 switches on and off give 20 more segments of 0.8 MiB each (the view's
    576x384 pixels), and with the X server's shared memory turned off the same 0.8 MiB each stay in OBS's heap. The
    plug-in makes no shared memory of its own, so those segments are counted apart, and the figure that must stay
    flat is the rest."""
    rss = images = segments = 0
    image = False
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            if MAPPING.match(line):
                image = "/SYSV" in line
                segments += image
            elif line.startswith("Rss:"):
                kib = int(line.split()[1])
                rss += kib
                images += kib if image else 0
    if not rss:
        raise HostError("OBS has no resident size")
    return Memory(rss, images, segments)


def rss_kib(pid):
    """OBS's resident size in KiB, cheaply: the samples between the quiet moments need no more."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise HostError("OBS has no resident size")


def mib(kib):
    return f"{kib / 1024:.1f} MiB"


def state_docks(state):
    return dock_states(base64.b64decode(state))


def rect_of(r):
    return (r["x"], r["y"], r["width"], r["height"])


def within_screens(rect, screens):
    """Whether every pixel of the rectangle lies on one screen or another."""
    x, y, w, h = rect
    xs = sorted({x, x + w} | {v for sx, _, sw, _ in screens for v in (sx, sx + sw) if x < v < x + w})
    ys = sorted({y, y + h} | {v for _, sy, _, sh in screens for v in (sy, sy + sh) if y < v < y + h})
    return all(any(sx <= left and sy <= top and right <= sx + sw and bottom <= sy + sh for sx, sy, sw, sh in screens)
               for left, right in zip(xs, xs[1:]) for top, bottom in zip(ys, ys[1:]))


def on_one_screen(rect, screens):
    x, y, w, h = rect
    return any(sx <= x and sy <= y and x + w <= sx + sw and y + h <= sy + sh for sx, sy, sw, sh in screens)


def layout_differs(content, report, sizes=False, docked=False):
    """What of a snapshot's layout (its state and geometry) the report of the screen does not show: docks shown or
    floating otherwise, floating docks elsewhere, the window elsewhere. A dock that OBS lacks is left out. A floating
    dock's size only with sizes: OBS's docks keep to minimum sizes of their own, which a layout made elsewhere may
    not know (the Stats dock is at least 691 pixels wide)."""
    state, geometry = (base64.b64decode(blob) for blob in content)
    screen = {dock["name"]: (dock["shown"], dock["floating"]) for dock in report["docks"]}
    differing = [f"{name} {wanted} in the state, {screen[name]} on the screen"
                 for name, wanted in sorted(dock_states(state).items())
                 if name in screen and any(w is not None and w != got for w, got in zip(wanted, screen[name]))]
    kept = 4 if sizes else 2
    shown = {dock["name"]: rect_of(dock) for dock in report["docks"] if dock["shown"] and dock["floating"]}
    screens = [rect_of(screen) for screen in report.get("screens", [])]
    for name, place in sorted(floating_rects(state).items()):
        if name not in shown:
            continue
        # Where the saved place, at the dock's size, lies off the screens there are now (the second monitor
        # unplugged, or a dock that needs more room than it was saved with), the dock comes wholly onto one of them.
        if not sizes and not within_screens((*place[:2], *shown[name][2:]), screens):
            if not on_one_screen(shown[name], screens):
                differing.append(f"{name} floats at {shown[name]}, saved off the screens {screens}, and is not on one")
            continue
        if shown[name][:kept] != place[:kept]:
            differing.append(f"{name} floats at {shown[name][:kept]}, not {place[:kept]}")
    client = window_rects(geometry)[1]
    if rect_of(report["client"]) != client:
        differing.append(f"the window is at {rect_of(report['client'])}, not {client}")
    elif docked:
        # In the window that the snapshot was saved from, at its size, each docked dock is as wide or as high
        # along its row or column as the state has it.
        on_screen = {dock["name"]: dock for dock in report["docks"] if dock["shown"] and not dock["floating"]}
        for name, (dimension, pixels) in sorted(docked_extents(state).items()):
            if name in on_screen and on_screen[name][dimension] != pixels:
                differing.append(f"{name} is {on_screen[name][dimension]} pixels in {dimension}, not {pixels}")
    return differing


# Keys that the soak never types: a binding on them never fires.
SPARE_KEYS = [f"OBS_KEY_F{n}" for n in range(13, 25)]


def new_binding(rng):
    """None, one or two key combinations with any modifiers, as obs_hotkey_save writes them."""
    roll = rng.random()
    binding = []
    for key in rng.sample(SPARE_KEYS, 0 if roll < 0.15 else 1 if roll < 0.8 else 2):
        binding.append({"key": key, **{modifier: True for modifier in ("shift", "control", "alt")
                                       if rng.random() < 0.5}})
    return binding


def same_binding(a, b):
    """Bindings compared as sets of key combinations."""
    canonical = lambda binding: sorted(json.dumps(combination, sort_keys=True) for combination in binding or [])
    return canonical(a) == canonical(b)


class Client:
    """One obs-websocket client of the running OBS, whose every request is timed."""

    def __init__(self, obs, soak, name, subscriptions=0):
        self.soak = soak
        self.name = name
        if obs.ws:
            # A second connection to the same OBS.
            other = Obs(obs.profile, obs.display)
            other.process = obs.process
            other.settings_before = object()
            obs = other
        self.obs = obs
        self.obs.connect(event_subscriptions=subscriptions)

    def request(self, request_type, data=None):
        began = time.monotonic()
        rid = self.obs.send_request(request_type, data)
        answers = self.obs.receive_answers([rid], 30)
        self.soak.answered(self.name, request_type, time.monotonic() - began)
        return answers[rid]

    def call(self, request_type, data=None):
        status, response = self.request(request_type, data)
        expect(status["result"], f"{self.name}: {request_type} {data or ''} failed: {status}")
        return response

    def vendor(self, request_type, data=None):
        """One of the plug-in's requests; returns its answer, counting the errors that an evening may give."""
        response = self.call("CallVendorRequest", {"vendorName": VENDOR, "requestType": request_type,
                                                   "requestData": data or {}})
        answer = response.get("responseData") or {}
        if request_type in PROBES:
            if answer.get("error") == "Busy":
                self.soak.count("probes answered Busy")
                return None
            expect("error" not in answer, f"{self.name}: {request_type} {data or ''} answered {answer}")
            return answer
        self.soak.count("plug-in requests")
        if "error" in answer:
            self.soak.count(f"answer {answer['error']}")
            file_name = (data or {}).get("fileName")
            if request_type == "UndoLoad":
                # Undo goes back ten loads at the most, and the deck's undos and the hotkey's drain them.
                gone = True
            elif file_name:
                gone = not self.soak.exists(file_name)
            else:
                # Next, previous and undo go by the plug-in's list, which keeps a file deleted behind OBS's back
                # until the next refresh.
                gone = bool(self.soak.deleted)
            expect(answer["error"] == "Busy" or (answer["error"] in ("NotFound", "ReadFailed") and gone),
                   f"{self.name}: {request_type} {data or ''} answered {answer}")
        return answer

    def report(self, patience=0):
        """The test build's report of the window: its docks, `last` and the count of loads so far; None while the
        plug-in answers Busy for longer than patience seconds."""
        deadline = time.monotonic() + patience
        while True:
            report = self.vendor("ReportLayout")
            if report is not None or time.monotonic() >= deadline:
                return report
            time.sleep(0.2)

    def steady_report(self):
        """The report once two in a row agree, or the last one after a few seconds: a save right after a load
        would keep the window where the window system has not yet put it."""
        previous = None
        deadline = time.monotonic() + SETTLE_SECONDS
        while True:
            report = self.report()
            if report is None or report == previous or time.monotonic() >= deadline:
                return report
            previous = report
            time.sleep(0.2)

    def load(self, request_type, data=None):
        """A load request whose answer, when it says loaded, is checked on the screen."""
        epoch, report = self.soak.epoch_now(), self.report()
        answer = self.vendor(request_type, data)
        if answer.get("loaded"):
            self.soak.judge_load(self, request_type, data or {}, answer, epoch, report)
        return answer

    def take_loads(self):
        """Counts the plug-in's load events that came in so far, by source."""
        while self.obs.events:
            event = self.obs.events.pop(0).get("eventData", {})
            if event.get("vendorName") == VENDOR and event.get("eventType") == "SnapshotLoaded":
                self.soak.count(f"loads({event['eventData'].get('source', '?')})")


class Twin:
    """The reference for the memory figure: a second OBS on an X server of its own, with the plug-in and the same
    snapshots and settings but no rules, which nobody drives. It records and switches studio mode whenever the
    soak's OBS does, so that what its memory grows by over the same minutes is OBS's own growth."""

    def __init__(self, args, soak):
        self.profile = Profile(args.build_dir, "soak-twin")
        os.makedirs(os.path.dirname(self.profile.snapshot_dir), exist_ok=True)
        shutil.copytree(soak.folder, self.profile.snapshot_dir)
        shutil.copy(soak.profile.settings_path, self.profile.settings_path)
        self.recordings = os.path.join(self.profile.home, "recordings")
        os.makedirs(self.recordings)
        self.env = soak.env
        self.obs = None

    def __enter__(self):
        self.name, self.xvfb = start_xvfb(200, "1600x1000x24")
        try:
            self.obs = Obs(self.profile, self, env=self.env).start()
            self.obs.connect()
            self.call("SetRecordDirectory", {"recordDirectory": self.recordings})
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        try:
            if self.obs and self.obs.process.poll() is None:
                # OBS asks before it quits while it records.
                with contextlib.suppress(Exception):
                    self.obs.request("StopRecord")
                self.obs.stop()
        except HostError:
            if not exc or exc[0] is None:
                raise
        finally:
            self.xvfb.terminate()
            self.xvfb.wait(10)

    def call(self, request_type, data=None):
        status, answer = self.obs.request(request_type, data)
        expect(status["result"], f"the twin OBS: {request_type} failed: {status}")
        return answer

    def stop_recording(self):
        self.call("StopRecord")
        wait_for(lambda: not self.call("GetRecordStatus")["outputActive"], 30, "the twin's recording did not stop")
        for name in os.listdir(self.recordings):
            os.remove(os.path.join(self.recordings, name))

    def memory(self):
        return memory_of(self.obs.process.pid)


class Soak:
    def __init__(self, args, display):
        self.args = args
        self.display = display
        self.random = random.Random(args.seed)
        # The deck's thread draws from its own generator.
        self.deck_random = random.Random(args.seed + 1)
        self.lock = threading.Lock()
        self.counts = collections.Counter()
        self.slowest = (0.0, "")
        self.failure = None
        self.stopping = threading.Event()
        self.profile = Profile(args.build_dir, "soak")
        self.folder = self.profile.snapshot_dir
        self.core = [f"Soak {i:02d}.json" for i in range(1, 51)]
        self.saved = []
        self.extras = set()
        self.deleted = set()
        self.next_extra = 1
        self.memory = []
        self.recording_since = None
        self.next_recording = 0
        self.manager_window = None
        self.lines_seen = 0
        self.answering = False
        self.studio = False
        self.switched_on = 0
        # The order that the soak wrote into settings.json before the start: of the 50 snapshots, which are never
        # deleted and stay first, ahead of every file that came later. And by file name, the state and geometry of
        # each file's last writer.
        self.set_order = []
        self.content = {}
        # The files whose content the plug-in saved from the screen.
        self.from_screen = set()
        # For each thing that the main client changes besides loads (the files, the order, `last`): odd while it
        # changes. A load's check that saw one that it depends on change cannot tell what to expect.
        self.epoch = collections.Counter()
        self.reference = None
        self.final = None
        self.right_present = True
        self.next_monitor_change = time.monotonic() + self.random.uniform(*MONITOR_CHANGE_SECONDS)

    # ---- bookkeeping shared by the threads

    def count(self, what, n=1):
        with self.lock:
            self.counts[what] += n

    def answered(self, client, request_type, seconds):
        with self.lock:
            self.counts["requests"] += 1
            if seconds > self.slowest[0]:
                self.slowest = (seconds, f"{client} {request_type}")
        expect(seconds <= ANSWER_LIMIT, f"{client}: {request_type} was answered after {seconds:.1f} s")

    def exists(self, file_name):
        return os.path.exists(os.path.join(self.folder, file_name))

    def loadable(self):
        with self.lock:
            return self.core + self.saved + sorted(self.extras)

    def on_disk(self):
        with self.lock:
            return set(self.core) | set(self.saved) | self.extras

    def epoch_now(self):
        with self.lock:
            return self.epoch.copy()

    @contextlib.contextmanager
    def changing(self, *things):
        """Marks a change that the main client makes to the files, the order or `last`, for the loads' checks
        meanwhile."""
        with self.lock:
            self.epoch.update(things)
        try:
            yield
        finally:
            with self.lock:
                self.epoch.update(things)

    def remember(self, file_name, document=None, from_screen=False):
        """Records what a file holds now: the document written to it, or else the file as it is, and whether the
        plug-in saved it from the screen."""
        if document is None:
            with open(os.path.join(self.folder, file_name), encoding="utf-8") as f:
                document = json.load(f)
        with self.lock:
            self.content[file_name] = (document["state"], document["geometry"])
            (self.from_screen.add if from_screen else self.from_screen.discard)(file_name)

    # ---- the profile

    def prepare(self):
        names = list(EXACT_LAYOUTS)
        for i, file_name in enumerate(self.core):
            layout_document(self.args, self.folder, file_name, file_name[:-5],
                            *EXACT_LAYOUTS[names[i % 5]], *VARIANTS[i // 5])
        order = self.core[:]
        self.random.shuffle(order)
        for file_name in self.core:
            self.remember(file_name)
        self.set_order = order[:]
        keys = [f"OBS_KEY_F{n}" for n in range(1, 13)]
        # Every binding that the evening sets, the last one of each hotkey: snapshots' by file name, the others' by
        # their key in settings.json (the undo hotkey's in automation.json).
        self.bindings = {file_name: [{"key": key, "shift": True}] for file_name, key in zip(order[::4], keys)}
        self.global_bindings = {"cycleHotkey": [{"key": "OBS_KEY_PAGEDOWN"}],
                                "previousHotkey": [{"key": "OBS_KEY_PAGEUP"}],
                                "openHotkey": [{"key": "OBS_KEY_F12", "control": True}], "undoHotkey": []}
        settings = {"snapshotOrder": order, "snapshotHotkeys": self.bindings,
                    **{key: self.global_bindings[key] for key in ("cycleHotkey", "previousHotkey", "openHotkey")}}
        with open(self.profile.settings_path, "w") as f:
            json.dump(settings, f)
        write_automation(self.profile, RULES)
        self.recordings = os.path.join(self.profile.home, "recordings")
        os.makedirs(self.recordings)

    # ---- what the streamer does, on the main client

    def hotkey(self, name):
        self.count("hotkeys")
        self.main.call("TriggerHotkeyByName", {"hotkeyName": name})

    def press_any(self, checked=False):
        """A press of one of the plug-in's hotkeys; checked, the load that it gives is judged as a request's is."""
        roll = self.random.random()
        data = {}
        if roll < 0.55:
            data = {"fileName": self.random.choice(self.core + self.saved)}
            name, request_type = f"obs-velkin.load.{data['fileName']}", "LoadSnapshot"
        elif roll < 0.75:
            name, request_type = "obs-velkin.cycle", "LoadNextSnapshot"
        elif roll < 0.9:
            name, request_type = "obs-velkin.previous", "LoadPreviousSnapshot"
        else:
            name, request_type = "obs-velkin.undo", "UndoLoad"
        epoch, before = self.epoch_now(), self.main.report() if checked else None
        self.hotkey(name)
        if before is None:
            return
        # The presses of a moment are gathered into one load, which comes a little later.
        deadline = time.monotonic() + SETTLE_SECONDS
        after = before
        while after is not None and after["loads"] == before["loads"] and time.monotonic() < deadline:
            time.sleep(0.1)
            after = self.main.report()
        if after is None or after["loads"] == before["loads"]:
            self.count("hotkey presses that loaded nothing (a question, nothing to undo)")
            return
        answer = {"loaded": True, "fileName": after["last"]}
        self.judge_load(self.main, request_type, data, answer, epoch, before, by="hotkey")

    def save(self):
        if self.random.random() < 0.4 and len(self.saved) < 40:
            name, overwrite = f"Saved {len(self.saved) + 1:02d}", False
        else:
            name, overwrite = self.random.choice(self.core + self.saved)[:-5], True
        with self.changing("files", "order", "last"):
            before = self.main.steady_report()
            answer = self.main.vendor("SaveSnapshot", {"name": name, "overwrite": overwrite})
            if "error" in answer:
                return
            file_name = answer.get("fileName")
            expect(file_name == f"{name}.json", f"SaveSnapshot {name} answered {answer}")
            if not overwrite:
                with self.lock:
                    self.saved.append(file_name)
            # Nothing but the main client writes snapshot files: this is what the save wrote.
            self.remember(file_name, from_screen=True)
            after = self.main.report(patience=30)
        self.count("overwritten" if overwrite else "saved new")
        self.judge_save(file_name, before, after)

    # ---- what a load or a save did to the window

    def judge_save(self, file_name, before, after):
        """A save with no load beside it keeps the window and the docks as they are on the screen: every dock shown
        is in the state, shown and floating as on the screen, a floating one in its place, and the window in its
        place."""
        if before is None or after is None or after["loads"] != before["loads"]:
            self.count("saves beside a load")
            return
        expect(after["last"] == file_name, f"after saving {file_name} the last snapshot is {after['last']!r}")
        with self.lock:
            content = self.content[file_name]
        after = self.settled(self.main, content, after)
        if after["loads"] != before["loads"]:
            self.count("saves beside a load")
            return
        differing = layout_differs(content, after, sizes=True)
        expect(not differing, f"{file_name} was saved with another layout than the one on the screen: {differing}")
        missing = {dock["name"] for dock in after["docks"] if dock["shown"]} - set(state_docks(content[0]))
        expect(not missing, f"{file_name} was saved without the shown docks {sorted(missing)}")
        frame = window_rects(base64.b64decode(content[1]))[0]
        expect(frame == rect_of(after["window"]), f"{file_name} was saved with the window's frame at {frame}, not "
                                                  f"{rect_of(after['window'])}")
        self.count("saves compared with the screen")

    def judge_load(self, client, request_type, data, answer, epoch, before, by="request"):
        """A load answered as loaded (by a request, or seen after a hotkey's press) took effect: once no other load
        and no change of the main client's came between, `last` names the snapshot that the request leads to and
        the screen shows its docks."""
        count = lambda what: self.count(what if by == "request" else f"{by}: {what}")
        count("answered loaded")
        after = client.report(patience=30)
        expect(after is not None, f"{client.name}: the plug-in answered Busy for 30 s after {request_type}")
        file_name = answer.get("fileName", "")
        needs = {"UndoLoad": ("last",), "LoadSnapshot": ("files", "last")}.get(request_type,
                                                                              ("files", "last", "order"))
        with self.lock:
            steady = all(epoch[thing] == self.epoch[thing] and epoch[thing] % 2 == 0 for thing in needs)
            content = self.content.get(file_name)
            from_screen = file_name in self.from_screen
        what = f"{client.name}: {request_type} {data or ''} answered {answer}"
        if before is None or not steady or after["loads"] != before["loads"] + 1:
            expect(before is None or after["loads"] > before["loads"], f"{what}, and no load took effect")
            count("loaded beside another change")
            return
        expect(after["last"] == file_name, f"{what}, and the last snapshot is {after['last']!r}")
        if request_type == "LoadSnapshot":
            expect(file_name == data["fileName"], what)
        elif request_type != "UndoLoad":
            # Next and previous step along the order that the soak set, from the snapshot loaded before; a step
            # that leaves the 50 snapshots lands among the files that came later, whose order the plug-in chose.
            at = self.set_order.index(before["last"]) if before["last"] in self.set_order else -1
            step = 1 if request_type == "LoadNextSnapshot" else -1
            if at >= 0 and 0 <= at + step < len(self.set_order):
                wanted = self.set_order[at + step]
                expect(file_name == wanted, f"{what} after {before['last']!r}, not {wanted!r}, which the order "
                                            f"that the soak set has {'after' if step > 0 else 'before'} it")
                count("next or previous whose target was checked")
            else:
                count("next or previous from beyond the order that the soak set")
        if request_type == "UndoLoad":
            count("loaded undo checked")
            return
        expect(content is not None, f"{what}: a file that the soak does not know")
        after = self.settled(client, content, after, docked=from_screen)
        if after["loads"] != before["loads"] + 1:
            count("loaded beside another change")
            return
        differing = layout_differs(content, after, docked=from_screen)
        expect(not differing, f"{what}, and the screen differs from the file: {differing}")
        count("loaded checked on the screen")
        if from_screen:
            count("loaded with the docked docks' sizes checked")

    def settled(self, client, content, report, docked=False):
        """The report once the screen shows the snapshot's layout, or once another load came, or as it is after a
        few seconds: the window system takes the window's new place and size later, and Qt lays the docks out anew
        then."""
        deadline = time.monotonic() + SETTLE_SECONDS
        loads = report["loads"]
        while layout_differs(content, report, docked=docked) and time.monotonic() < deadline:
            time.sleep(0.1)
            report = client.report(patience=30)
            expect(report is not None, f"{client.name}: the plug-in answered Busy for 30 s")
            if report["loads"] != loads:
                break
            self.count("reports until the screen settled")
        return report

    def record(self):
        """A clip now and then, as a streamer records one: 5 to 20 seconds every 3 to 6 minutes. (Each recording
        leaves OBS's own memory a little larger, with the plug-in idle too, so a recording every few seconds
        would measure OBS rather than the plug-in.)"""
        now = time.monotonic()
        if self.recording_since is None and now >= self.next_recording:
            self.main.call("StartRecord")
            self.twin.call("StartRecord")
            self.recording_since = now
            self.recording_for = self.random.uniform(5, 20)
            self.count("recordings")
        elif self.recording_since is not None and now - self.recording_since >= self.recording_for:
            self.stop_recording()

    def stop_recording(self):
        if self.recording_since is None:
            return
        self.main.call("StopRecord")
        self.recording_since = None
        self.next_recording = time.monotonic() + self.random.uniform(180, 360)
        wait_for(lambda: not self.main.call("GetRecordStatus")["outputActive"], 30, "the recording did not stop")
        for name in os.listdir(self.recordings):
            os.remove(os.path.join(self.recordings, name))
        self.twin.stop_recording()

    def change_monitors(self):
        """Unplugs the second monitor, or plugs it in again, every minute or so: the plug-in moves the windows onto
        the screens and loads the snapshot last loaded with the monitors there are now, beside everything else."""
        if time.monotonic() < self.next_monitor_change:
            return
        self.right_present = not self.right_present
        self.display.right(self.right_present)
        self.count("monitor changes")
        self.next_monitor_change = time.monotonic() + self.random.uniform(*MONITOR_CHANGE_SECONDS)

    def toggle_studio(self):
        self.studio = not self.studio
        self.main.call("SetStudioModeEnabled", {"studioModeEnabled": self.studio})
        self.twin.call("SetStudioModeEnabled", {"studioModeEnabled": self.studio})
        self.count("studio mode changes")
        self.switched_on += self.studio

    def answer_boxes(self):
        """Judges what the plug-in logged since the last look, and answers its error boxes as a person would: a load
        by hotkey of a file deleted behind OBS's back, by next or previous, tells that it could not be read."""
        if self.answering:
            return
        self.answering = True
        try:
            self.judge_log()
            for box in visible_windows(self.display, MANAGER):
                if box != self.manager_window:
                    self.until(lambda: xdotool(self.display, "windowraise", box, "windowfocus", "--sync", box, "key",
                                               "Return"), lambda: box not in visible_windows(self.display, MANAGER),
                               "an error box did not close")
                    self.count("error boxes answered")
        finally:
            self.answering = False

    def judge_log(self):
        lines = plugin_lines(self.obs)
        for line in lines[self.lines_seen:]:
            if line.startswith("[obs-velkin] ReadFailed: "):
                gone = os.path.basename(line.split(": ", 1)[1])
                expect(gone in self.deleted, f"the plug-in could not read {gone}, which is there: {line}")
                self.count("ReadFailed for a file deleted behind OBS")
            elif not line.startswith(("[obs-velkin] Loaded version ", "[obs-velkin] Dialog report: ",
                                      "[obs-velkin] Moved ")):
                raise HostError(f"the plug-in logged {line!r}")
        self.lines_seen = len(lines)

    def manager(self):
        """Opens the manager, searches, presses Refresh and closes it."""
        self.answer_boxes()
        reports = len(self.obs.log_lines('Dialog report: button "Refresh"'))
        before = set(visible_windows(self.display, MANAGER))
        # The manager refreshes its list as it opens.
        with self.changing("order"):
            self.hotkey("obs-velkin.open")
            dialog = until_new_window(self.display, before, MANAGER, "the manager did not open")
        self.manager_window = dialog
        # No spaces: loads may take the keyboard away from the manager for a moment, and a space would then
        # press whichever of OBS's buttons has the focus.
        type_in_manager(self.display, dialog, self.random.choice(["Soak", "saved", "Extra", "4", "zzz"]))
        line = wait_for(lambda: self.obs.log_lines('Dialog report: button "Refresh"')[reports:], 10,
                        "the manager reported no Refresh button")[-1]
        x, y = re.search(r" at (\d+),(\d+)$", line).groups()
        # Refresh takes in a file that came while the manager was open, and saves the order with it.
        added = self.add_extra()
        taken = lambda: added in (read_settings(self.profile) or {}).get("snapshotOrder", [])
        # A dock that a load floats meanwhile may lie over the manager (Xvfb has no window manager to keep the
        # active window on top) and take the click or the key: then the manager is raised and they come again.
        with self.changing("order"):
            self.until(lambda: xdotool(self.display, "windowraise", dialog, "mousemove", "--window", dialog, x, y,
                                       "click", "1"), taken, f"Refresh did not take in {added}")
        self.until(lambda: xdotool(self.display, "windowraise", dialog, "windowfocus", "--sync", dialog, "key",
                                   "Escape"), lambda: dialog not in visible_windows(self.display, MANAGER),
                   "the manager did not close")
        self.manager_window = None
        self.count("manager opened and refreshed")

    def until(self, action, done, failure):
        for attempt in range(3):
            if attempt and self.manager_window:
                # An error box over the manager takes its input.
                self.answer_boxes()
            action()
            try:
                return wait_for(done, 4, failure)
            except HostError:
                pass
        raise HostError(failure)

    def write_document(self, file_name, name, source):
        """Writes a document as a sync tool would: a whole new file moved into place."""
        with open(os.path.join(self.folder, source), encoding="utf-8") as f:
            document = json.load(f)
        document["name"] = name
        partial = os.path.join(self.folder, f".{file_name}.partial")
        with open(partial, "w", encoding="utf-8") as f:
            json.dump(document, f, indent=4)
        with self.changing("files"):
            os.replace(partial, os.path.join(self.folder, file_name))
            # Written behind OBS's back: its own reference.
            self.remember(file_name, document)

    def add_extra(self):
        file_name = f"Extra {self.next_extra:03d}.json"
        self.next_extra += 1
        self.write_document(file_name, file_name[:-5], self.random.choice(self.core))
        with self.lock:
            self.extras.add(file_name)
        self.count("files added behind OBS")
        return file_name

    def behind_obs(self):
        """A file added, changed or deleted in the snapshot folder, as a sync tool or a person would."""
        roll = self.random.random()
        with self.lock:
            extras = sorted(self.extras)
        if roll < 0.4 or not extras:
            self.add_extra()
        elif roll < 0.75:
            # Any snapshot may change under the plug-in, ours as well as the extras.
            file_name = self.random.choice(extras + self.core)
            self.write_document(file_name, file_name[:-5], self.random.choice(self.core))
            self.count("files changed behind OBS")
        else:
            file_name = self.random.choice(extras)
            with self.lock:
                self.extras.discard(file_name)
                self.deleted.add(file_name)
            os.remove(os.path.join(self.folder, file_name))
            self.count("files deleted behind OBS")

    def rebind(self):
        """Changes a binding as a person does in OBS's hotkey settings: of a snapshot that the plug-in lists, or of
        one of its other hotkeys. The keys are ones that the soak never types."""
        binding = new_binding(self.random)
        with self.lock:
            # The plug-in lists these from the start or from their save on; an extra only after a refresh.
            listed = self.core + self.saved
        if self.random.random() < 0.25:
            key = self.random.choice(sorted(GLOBAL_HOTKEYS))
            name = GLOBAL_HOTKEYS[key]
        else:
            file_name = self.random.choice(listed)
            name = f"obs-velkin.load.{file_name}"
        answer = self.main.vendor("SetHotkeyBindings", {"hotkeyName": name, "bindings": binding})
        if answer is None:
            return
        # The plug-in's list holds a hotkey for each of its entries, files deleted since its last refresh too.
        expect(answer.get("bound"), f"the plug-in holds no hotkey {name}")
        with self.lock:
            if name.startswith("obs-velkin.load."):
                self.bindings[file_name] = binding
            else:
                self.global_bindings[key] = binding
        self.count("bindings changed")

    def act(self):
        actions = [(40, lambda: self.press_any(checked=True)), (6, self.save), (2, self.toggle_studio), (2, self.manager),
                   (5, self.behind_obs), (3, self.rebind)]
        roll = self.random.uniform(0, sum(weight for weight, _ in actions))
        for weight, action in actions:
            roll -= weight
            if roll <= 0:
                return action()

    # ---- the Stream Deck, on a second client, in a thread of its own

    def deck(self):
        try:
            while not self.stopping.is_set():
                if self.deck_random.random() < 0.1:
                    # A button held down or pressed again and again.
                    for _ in range(self.deck_random.randint(4, 10)):
                        self.deck_press()
                        time.sleep(self.deck_random.uniform(0.05, 0.2))
                else:
                    self.deck_press()
                self.deck_client.take_loads()
                self.stopping.wait(self.deck_random.uniform(0.5, 3))
        except Exception as error:  # noqa: BLE001 - handed to the main thread, which fails with it
            self.failure = self.failure or error
            self.stopping.set()

    def deck_press(self):
        roll = self.deck_random.random()
        if roll < 0.45:
            self.deck_client.load("LoadSnapshot", {"fileName": self.deck_random.choice(self.loadable())})
        elif roll < 0.6:
            self.deck_client.load("LoadNextSnapshot")
        elif roll < 0.7:
            self.deck_client.load("LoadPreviousSnapshot")
        elif roll < 0.8:
            self.deck_client.load("UndoLoad")
        else:
            listing = self.deck_client.vendor("GetSnapshotList")
            expect("error" in listing or isinstance(listing.get("snapshots"), list), f"a listing of {listing}")

    def sample_memory(self):
        began = time.monotonic()
        while not self.stopping.wait(2):
            self.memory.append((time.monotonic() - began, rss_kib(self.obs.process.pid)))

    # ---- a quiet moment for a fair memory figure

    def warm_up(self):
        """Everything once in the first minute: what OBS and Qt build on first use (the manager, an encoder, the
        studio mode's preview) is then in the figure that the end is compared with."""
        self.manager()
        self.record()
        self.toggle_studio()
        for _ in range(2):
            self.save()
            self.behind_obs()
            self.rebind()
        # Every snapshot, one after another, a few times: Qt keeps the dock frames it draws for each size in its
        # pixmap cache, up to 10 MiB, and fills much of it here rather than over the first half hour.
        for file_name in self.core * 6:
            self.main.load("LoadSnapshot", {"fileName": file_name})
        self.stop_recording()
        self.toggle_studio()

    def quiet_memory(self):
        self.stop_recording()
        if self.studio:
            self.toggle_studio()
        time.sleep(5)
        return memory_of(self.obs.process.pid), self.switched_on, self.twin.memory()

    # ---- the evening

    def run(self):
        self.prepare()
        # glibc keeps freed blocks for reuse, and each recording's large buffers, freed at its stop, leave OBS's
        # resident size 1 to 20 MiB larger, with the plug-in idle too. Blocks of 64 KiB and more are mapped on their
        # own here and go back at their free, so that the resident size follows what OBS holds.
        self.env = {"VELKIN_DIALOG_REPORT": "1", "GLIBC_TUNABLES": "glibc.malloc.mmap_threshold=65536"}
        with Twin(self.args, self) as self.twin:
            self.evening()
            code = self.twin.obs.stop()
            expect_clean_exit(self.twin.obs, code)
        self.judge()

    def evening(self):
        self.obs = Obs(self.profile, self.display, env=self.env).start()
        threads = []
        try:
            self.main = Client(self.obs, self, "main")
            self.main.call("SetRecordDirectory", {"recordDirectory": self.recordings})
            self.deck_client = Client(self.obs, self, "deck", VENDOR_EVENTS)
            threads = [threading.Thread(target=self.deck), threading.Thread(target=self.sample_memory)]
            for thread in threads:
                thread.start()
            began = time.monotonic()
            self.warm_up()
            # The memory reference: the first quiet moment after the warm-up, however short the evening. The
            # evening goes on for a while after it in any case, so that it has something to judge.
            self.reference = self.quiet_memory()
            self.warmed_up = time.monotonic() - began
            end = max(began + self.args.minutes * 60, time.monotonic() + MIN_EVENING)
            while time.monotonic() < end and not self.stopping.is_set():
                if self.random.random() < 0.08:
                    for _ in range(self.random.randint(5, 12)):
                        self.press_any()
                        time.sleep(self.random.uniform(0.05, 0.15))
                else:
                    self.act()
                self.answer_boxes()
                self.record()
                self.change_monitors()
                self.obs.check_alive()
                time.sleep(self.random.uniform(0.3, 2.5))
            if self.failure:
                raise self.failure
            # The last look at the folder before the files are judged, then a quiet moment.
            self.manager()
            self.answer_boxes()
            self.final = self.quiet_memory()
            self.listing = self.main.vendor("GetSnapshotList")
        except BaseException as error:
            self.failure = self.failure or error
        finally:
            self.stopping.set()
            for thread in threads:
                thread.join(60)
            if self.failure is None and threads:
                self.deck_client.take_loads()
            self.obs.screenshot(os.path.join(self.args.build_dir, "artifacts", "soak-end.png"))
            try:
                if self.failure and self.recording_since is not None:
                    # OBS asks before it quits while it records.
                    self.main.call("StopRecord")
            except Exception:  # noqa: BLE001 - the failure that came first is the one to tell
                pass
            try:
                code = self.obs.stop()
            except HostError:
                if not self.failure:
                    raise
        if self.failure:
            raise self.failure
        expect_clean_exit(self.obs, code)

    def judge(self):
        expect(self.reference is not None and self.final is not None, "no quiet moment for the memory figures")
        (reference, on_before, twin_reference), (final, on_after, twin_final) = self.reference, self.final
        growth = lambda first, last: ((last.rss - last.images) - (first.rss - first.images)) / 1024
        self.twin_growth = growth(twin_reference, twin_final)
        self.growth = growth(reference, final) - self.twin_growth
        self.busy_share = self.counts["answer Busy"] / max(1, self.counts["plug-in requests"])
        checked = sum(self.counts[f"{by}{what}"] for by in ("", "hotkey: ")
                      for what in ("loaded checked on the screen", "loaded undo checked"))
        self.checked_share = checked / max(1, checked + self.counts["loaded beside another change"]
                                           + self.counts["hotkey: loaded beside another change"])
        self.judge_files()
        self.report()
        # One picture per switch-on, and one more for a switch that was under way at a look.
        left = final.segments - reference.segments
        expect(left <= on_after - on_before + 1,
               f"OBS holds {left} more shared memory segments after {on_after - on_before} switches of studio mode on")
        expect(self.growth <= GROWTH_LIMIT_MIB, f"OBS's memory grew by {self.growth:.1f} MiB more than the idle "
                                                f"twin's after the warm-up")
        expect(self.checked_share >= CHECKED_FLOOR and self.counts["hotkey: loaded checked on the screen"] > 0,
               f"{self.checked_share:.0%} of the loads were checked, "
               f"{self.counts['hotkey: loaded checked on the screen']} of them by hotkey (at least {CHECKED_FLOOR:.0%})")
        expect(self.busy_share <= BUSY_LIMIT, f"{self.busy_share:.1%} of the plug-in's requests were answered Busy "
                                              f"(at most {BUSY_LIMIT:.0%})")

    # ---- what is left on disk

    def judge_files(self):
        on_disk = set()
        for file_name in os.listdir(self.folder):
            if not file_name.endswith(".json"):
                continue
            on_disk.add(file_name)
            try:
                with open(os.path.join(self.folder, file_name), encoding="utf-8") as f:
                    document = json.load(f)
                base64.b64decode(document["state"], validate=True)
                base64.b64decode(document["geometry"], validate=True)
                expect(document["name"] == file_name[:-5] and document["format"] == 1, "")
            except (OSError, ValueError, KeyError, TypeError, HostError):
                raise HostError(f"the snapshot {file_name} does not read back")
            # What its last writer wrote: the plug-in's save, the layout tool or the soak behind OBS's back.
            expect((document["state"], document["geometry"]) == self.content.get(file_name),
                   f"the snapshot {file_name} holds another layout than its last writer wrote")
        kept = set(self.core) | set(self.saved) | self.extras
        expect(kept <= on_disk, f"snapshots lost: {sorted(kept - on_disk)}")
        expect(on_disk <= kept, f"snapshots that nobody made: {sorted(on_disk - kept)}")

        settings = read_settings(self.profile)
        expect(isinstance(settings, dict) and sorted(settings) == SETTINGS_KEYS,
               f"settings.json does not read back: {settings}")
        # The final look refreshed the list: each file once, the 50 snapshots first in the order that the soak set.
        order = settings["snapshotOrder"]
        expect(len(order) == len(set(order)) and set(order) == on_disk,
               f"the order holds {len(order)} entries for {len(on_disk)} snapshots: "
               f"{sorted(set(order) ^ on_disk)} differ, {len(order) - len(set(order))} twice")
        head = order[:len(self.set_order)]
        at = next((i for i, (a, b) in enumerate(zip(head, self.set_order)) if a != b), len(head))
        expect(head == self.set_order, f"the order differs from the one the soak set at position {at + 1}: "
                                       f"{head[at:at + 5]}, not {self.set_order[at:at + 5]}")
        hotkeys = settings["snapshotHotkeys"]
        expect(set(hotkeys) == on_disk, f"settings.json binds {sorted(set(hotkeys) ^ on_disk)}, which differ from "
                                        f"the snapshots")
        for file_name in sorted(on_disk):
            wanted = self.bindings.get(file_name, [])
            expect(same_binding(hotkeys[file_name], wanted),
                   f"the binding of {file_name} is {hotkeys[file_name]}, not {wanted}")
        with open(os.path.join(self.profile.plugin_config, "automation.json"), encoding="utf-8") as f:
            automation = json.load(f)
        for key, wanted in self.global_bindings.items():
            got = (automation if key == "undoHotkey" else settings).get(key, [])
            expect(same_binding(got, wanted), f"{key} is {got}, not {wanted}")
        expect([(rule["event"], rule["snapshot"]) for rule in automation["rules"]] ==
               [(event, f"{name}.json") for event, name in RULES], f"automation.json holds {automation}")
        listed = [item["fileName"] for item in self.listing.get("snapshots", [])]
        expect(listed == order, f"the plug-in lists {listed}, not the order of settings.json")

    def report(self):
        (reference, _, _), (final, _, _) = self.reference, self.final
        peak = max([rss for _, rss in self.memory] + [final.rss])
        counts = self.counts.copy()
        take = lambda what: counts.pop(what, 0)
        loads = sum(n for what, n in counts.items() if what.startswith("loads("))
        rows = [("minutes", f"{self.args.minutes:g} (warm-up {self.warmed_up:.0f} s)"),
                ("requests answered", take("requests")),
                ("slowest answer", f"{self.slowest[0]:.2f} s ({self.slowest[1]})"), ("loads", loads)]
        rows += sorted((f"  by {what[6:-1]}", take(what)) for what in list(counts) if what.startswith("loads("))
        busy = take("answer Busy")
        rows += [("plug-in's requests", take("plug-in requests")),
                 ("  answered Busy", f"{busy} ({self.busy_share:.1%}, at most {BUSY_LIMIT:.0%})"),
                 ("  answered loaded", take("answered loaded")),
                 ("    the snapshot's docks on the screen", take("loaded checked on the screen")),
                 ("    undos with `last` checked", take("loaded undo checked")),
                 ("    beside another change, took effect", take("loaded beside another change")),
                 ("    of them saved from the screen, docked sizes too",
                  take("loaded with the docked docks' sizes checked")),
                 ("hotkey loads seen after a single press", take("hotkey: answered loaded")),
                 ("  the snapshot's docks on the screen", take("hotkey: loaded checked on the screen")),
                 ("    of them saved from the screen, docked sizes too",
                  take("hotkey: loaded with the docked docks' sizes checked")),
                 ("  undos with `last` checked", take("hotkey: loaded undo checked")),
                 ("  beside another change, took effect", take("hotkey: loaded beside another change")),
                 ("loads checked", f"{self.checked_share:.1%} (at least {CHECKED_FLOOR:.0%})"),
                 ("saves compared with the screen", take("saves compared with the screen")),
                 ("saves beside a load", take("saves beside a load"))]
        rows += sorted(counts.items())
        rows += [("snapshots at the end", len(self.listing.get("snapshots", []))),
                 ("memory after the warm-up", mib(reference.rss)),
                 ("memory at its peak", mib(peak)),
                 ("memory at the end", mib(final.rss)),
                 ("studio mode's pictures left", f"{final.segments - reference.segments} "
                                                 f"({mib(final.images - reference.images)})"),
                 ("growth of the idle twin", f"{self.twin_growth:+.1f} MiB without them"),
                 ("growth after the warm-up", f"{self.growth:+.1f} MiB more than the twin's, without them (at most "
                                              f"{GROWTH_LIMIT_MIB})")]
        width = max(len(str(what)) for what, _ in rows)
        table = "\n".join(f"{what:<{width}}  {value}" for what, value in rows)
        print(table, flush=True)
        with open(os.path.join(self.args.build_dir, "soak-report.txt"), "w") as f:
            f.write(table + "\n")
        with open(os.path.join(self.args.build_dir, "soak-memory.txt"), "w") as f:
            f.write("".join(f"{seconds:.0f} {rss}\n" for seconds, rss in self.memory))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--minutes", type=float, required=True)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
    if args.seed is None:
        args.seed = random.randrange(1 << 30)
    print(f"soak: {args.minutes:g} minutes, seed {args.seed}", flush=True)
    # A desk of two monitors, the second unplugged and plugged in again now and then.
    with TwoMonitors() as display:
        # The helpers (the layout tool, xdotool) work on the desk too.
        os.environ["DISPLAY"] = display.name
        Soak(args, display).run()
    print("soak: passed", flush=True)
    return 0


if __name__ == "__main__":
    run_main(main)
