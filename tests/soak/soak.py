#!/usr/bin/env python3
"""An evening on air, in as many minutes as asked: the real OBS Studio with the plug-in and 50 snapshots, driven as a
streamer, a Stream Deck and automation drive it, at a person's pace with bursts. Fails on a crash or a hang (every
request answered within 2 s), on OBS's memory growing by more than 10 MiB after the first minute (the pictures that
OBS's own studio mode leaves behind counted apart), on leaks or hotkeys left at exit, on a file that does not read
back, and on a snapshot, binding or order entry lost. Prints its figures as a table."""

import argparse
import base64
import collections
import json
import os
import random
import re
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "host"))
from host_checks import (EXACT_LAYOUTS, SETTINGS_KEYS, VENDOR, VENDOR_EVENTS, expect, expect_clean_exit,
                         layout_document, plugin_lines, read_settings, type_in_manager, until_new_window, wait_for,
                         write_automation)
from obs_host import Display, HostError, Obs, Profile, run_main, visible_windows, xdotool

ANSWER_LIMIT = 2.0
GROWTH_LIMIT_MIB = 10
MANAGER = "^OBS-Velkin Dock Layouts$"
# Each of the five test layouts in ten variants.
VARIANTS = [(), ("float:controlsDock:700,500,360,240",), ("hide:mixerDock",),
            ("float:transitionsDock:200,600,400,200",), ("hide:sourcesDock",), ("float:scenesDock:1300,100,300,400",),
            ("hide:controlsDock",), ("float:mixerDock:900,600,500,250",), ("hide:scenesDock", "hide:sourcesDock"),
            ("float:statsDock:50,700,420,300",)]
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

    def take_loads(self):
        """Counts the plug-in's load events that came in so far, by source."""
        while self.obs.events:
            event = self.obs.events.pop(0).get("eventData", {})
            if event.get("vendorName") == VENDOR and event.get("eventType") == "SnapshotLoaded":
                self.soak.count(f"loads({event['eventData'].get('source', '?')})")


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

    # ---- the profile

    def prepare(self):
        names = list(EXACT_LAYOUTS)
        for i, file_name in enumerate(self.core):
            layout_document(self.args, self.folder, file_name, file_name[:-5],
                            *EXACT_LAYOUTS[names[i % 5]], *VARIANTS[i // 5])
        order = self.core[:]
        self.random.shuffle(order)
        keys = [f"OBS_KEY_F{n}" for n in range(1, 13)]
        self.bindings = {file_name: [{"key": key, "shift": True}] for file_name, key in zip(order[::4], keys)}
        self.settings = {"snapshotOrder": order, "snapshotHotkeys": self.bindings,
                         "cycleHotkey": [{"key": "OBS_KEY_PAGEDOWN"}], "previousHotkey": [{"key": "OBS_KEY_PAGEUP"}],
                         "openHotkey": [{"key": "OBS_KEY_F12", "control": True}]}
        with open(self.profile.settings_path, "w") as f:
            json.dump(self.settings, f)
        write_automation(self.profile, RULES)
        self.recordings = os.path.join(self.profile.home, "recordings")
        os.makedirs(self.recordings)

    # ---- what the streamer does, on the main client

    def hotkey(self, name):
        self.count("hotkeys")
        self.main.call("TriggerHotkeyByName", {"hotkeyName": name})

    def press_any(self):
        roll = self.random.random()
        if roll < 0.55:
            hotkey_files = self.core + self.saved
            self.hotkey(f"obs-velkin.load.{self.random.choice(hotkey_files)}")
        elif roll < 0.75:
            self.hotkey("obs-velkin.cycle")
        elif roll < 0.9:
            self.hotkey("obs-velkin.previous")
        else:
            self.hotkey("obs-velkin.undo")

    def save(self):
        if self.random.random() < 0.4 and len(self.saved) < 40:
            name = f"Saved {len(self.saved) + 1:02d}"
            answer = self.main.vendor("SaveSnapshot", {"name": name, "overwrite": False})
            if "error" not in answer:
                with self.lock:
                    self.saved.append(answer["fileName"])
                self.count("saved new")
        else:
            name = self.random.choice(self.core + self.saved)[:-5]
            if "error" not in self.main.vendor("SaveSnapshot", {"name": name, "overwrite": True}):
                self.count("overwritten")

    def record(self):
        """A clip now and then, as a streamer records one: 5 to 20 seconds every 3 to 6 minutes. (Each recording
        leaves OBS's own memory a little larger, with the plug-in idle too, so a recording every few seconds
        would measure OBS rather than the plug-in.)"""
        now = time.monotonic()
        if self.recording_since is None and now >= self.next_recording:
            self.main.call("StartRecord")
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

    def toggle_studio(self):
        self.studio = not self.studio
        self.main.call("SetStudioModeEnabled", {"studioModeEnabled": self.studio})
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
        os.replace(partial, os.path.join(self.folder, file_name))

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

    def act(self):
        actions = [(40, self.press_any), (6, self.save), (2, self.toggle_studio), (2, self.manager),
                   (5, self.behind_obs)]
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
            self.deck_client.vendor("LoadSnapshot", {"fileName": self.deck_random.choice(self.loadable())})
        elif roll < 0.6:
            self.deck_client.vendor("LoadNextSnapshot")
        elif roll < 0.7:
            self.deck_client.vendor("LoadPreviousSnapshot")
        elif roll < 0.8:
            self.deck_client.vendor("UndoLoad")
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
        # Every snapshot, one after another, a few times: Qt keeps the dock frames it draws for each size in its
        # pixmap cache, up to 10 MiB, and fills much of it here rather than over the first half hour.
        for file_name in self.core * 6:
            self.main.vendor("LoadSnapshot", {"fileName": file_name})
        self.stop_recording()
        self.toggle_studio()

    def quiet_memory(self):
        self.stop_recording()
        if self.studio:
            self.toggle_studio()
        time.sleep(5)
        return memory_of(self.obs.process.pid), self.switched_on

    # ---- the evening

    def run(self):
        self.prepare()
        # glibc keeps freed blocks for reuse, and each recording's large buffers, freed at its stop, leave OBS's
        # resident size 1 to 20 MiB larger, with the plug-in idle too. Blocks of 64 KiB and more are mapped on their
        # own here and go back at their free, so that the resident size follows what OBS holds.
        env = {"VELKIN_DIALOG_REPORT": "1", "GLIBC_TUNABLES": "glibc.malloc.mmap_threshold=65536"}
        self.obs = Obs(self.profile, self.display, env=env).start()
        threads = []
        try:
            self.main = Client(self.obs, self, "main")
            self.main.call("SetRecordDirectory", {"recordDirectory": self.recordings})
            self.deck_client = Client(self.obs, self, "deck", VENDOR_EVENTS)
            threads = [threading.Thread(target=self.deck), threading.Thread(target=self.sample_memory)]
            for thread in threads:
                thread.start()
            began = time.monotonic()
            end = began + self.args.minutes * 60
            self.reference = None
            self.warm_up()
            while time.monotonic() < end and not self.stopping.is_set():
                if self.reference is None and time.monotonic() - began >= 60:
                    self.reference = self.quiet_memory()
                if self.random.random() < 0.08:
                    for _ in range(self.random.randint(5, 12)):
                        self.press_any()
                        time.sleep(self.random.uniform(0.05, 0.15))
                else:
                    self.act()
                self.answer_boxes()
                self.record()
                self.obs.check_alive()
                time.sleep(self.random.uniform(0.3, 2.5))
            if self.failure:
                raise self.failure
            # The last look at the folder before the files are judged, then a quiet moment.
            self.manager()
            self.answer_boxes()
            self.final = self.quiet_memory()
            if self.reference is None:
                self.reference = self.final
            self.listing = self.main.vendor("GetSnapshotList")
        finally:
            self.stopping.set()
            for thread in threads:
                thread.join(60)
            if self.failure is None and threads:
                self.deck_client.take_loads()
            self.obs.screenshot(os.path.join(self.args.build_dir, "artifacts", "soak-end.png"))
            code = self.obs.stop()
        if self.failure:
            raise self.failure
        expect_clean_exit(self.obs, code)
        (reference, on_before), (final, on_after) = self.reference, self.final
        self.growth = ((final.rss - final.images) - (reference.rss - reference.images)) / 1024
        self.judge_files()
        self.report()
        # One picture per switch-on, and one more for a switch that was under way at a look.
        left = final.segments - reference.segments
        expect(left <= on_after - on_before + 1,
               f"OBS holds {left} more shared memory segments after {on_after - on_before} switches of studio mode on")
        expect(self.growth <= GROWTH_LIMIT_MIB, f"OBS's memory grew by {self.growth:.1f} MiB after the first minute")

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
        kept = set(self.core) | set(self.saved) | self.extras
        expect(kept <= on_disk, f"snapshots lost: {sorted(kept - on_disk)}")
        expect(on_disk <= kept, f"snapshots that nobody made: {sorted(on_disk - kept)}")

        settings = read_settings(self.profile)
        expect(isinstance(settings, dict) and sorted(settings) == SETTINGS_KEYS,
               f"settings.json does not read back: {settings}")
        order = settings["snapshotOrder"]
        expect(set(order) == on_disk, f"the order lost {sorted(on_disk - set(order))} and keeps "
                                      f"{sorted(set(order) - on_disk)}")
        for file_name, binding in self.bindings.items():
            expect(settings["snapshotHotkeys"].get(file_name) == binding,
                   f"the binding of {file_name} is {settings['snapshotHotkeys'].get(file_name)}, not {binding}")
        for key in ("cycleHotkey", "previousHotkey", "openHotkey"):
            expect(settings[key] == self.settings[key], f"{key} is {settings[key]}, not {self.settings[key]}")
        with open(os.path.join(self.profile.plugin_config, "automation.json"), encoding="utf-8") as f:
            automation = json.load(f)
        expect([(rule["event"], rule["snapshot"]) for rule in automation["rules"]] ==
               [(event, f"{name}.json") for event, name in RULES], f"automation.json holds {automation}")
        listed = {item["fileName"] for item in self.listing.get("snapshots", [])}
        expect(listed == on_disk, f"the plug-in's list differs from the folder: {sorted(listed ^ on_disk)}")

    def report(self):
        (reference, _), (final, _) = self.reference, self.final
        peak = max([rss for _, rss in self.memory] + [final.rss])
        loads = sum(n for what, n in self.counts.items() if what.startswith("loads"))
        rows = [("minutes", f"{self.args.minutes:g}"), ("requests answered", self.counts["requests"]),
                ("slowest answer", f"{self.slowest[0]:.2f} s ({self.slowest[1]})"), ("loads", loads)]
        by_source = sorted((f"  by {what[6:-1]}", n) for what, n in self.counts.items() if what.startswith("loads"))
        rows += by_source + sorted((what, n) for what, n in self.counts.items()
                                   if what != "requests" and not what.startswith("loads"))
        rows += [("snapshots at the end", len(self.listing.get("snapshots", []))),
                 ("memory after the first minute", mib(reference.rss)),
                 ("memory at its peak", mib(peak)),
                 ("memory at the end", mib(final.rss)),
                 ("studio mode's pictures left", f"{final.segments - reference.segments} "
                                                 f"({mib(final.images - reference.images)})"),
                 ("growth after the first minute", f"{self.growth:+.1f} MiB without them (at most {GROWTH_LIMIT_MIB})")]
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
    with Display() as display:
        Soak(args, display).run()
    print("soak: passed", flush=True)
    return 0


if __name__ == "__main__":
    run_main(main)
