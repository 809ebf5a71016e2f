#!/usr/bin/env python3
"""Checks the plug-in inside the real OBS Studio."""

import argparse
import base64
import json
import os
import sys
import time

import subprocess

# The OBS launcher lives with the scripts, which start OBS for a person with it too (scripts/run).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "scripts"))
from obs_host import Display, FileWrites, HostError, Obs, Profile, key_name, run_main, visible_windows, xdotool

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
    return f"[obs-velkin] Loaded version {args.plugin_version} (OBS {args.obs_version})"


NO_AUTOMATION = "[obs-velkin] No automation rules: "


def plugin_lines(obs):
    """The plug-in's log lines, less the one that says why there are no automation rules."""
    return [line for line in obs.log_lines("[obs-velkin] ") if not line.startswith(NO_AUTOMATION)]


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

        # A storm of cycle and load presses: OBS keeps answering and writes the settings only a few times,
        # and the last press decides the last snapshot.
        writes = FileWrites(profile.plugin_config, "settings.json")
        presses = 3000
        slowest = 0.0
        names = ["obs-velkin.cycle", "obs-velkin.load.S1.json", "obs-velkin.previous"]
        for start in range(0, presses, 100):
            batch = [{"requestType": "TriggerHotkeyByName", "requestData": {"hotkeyName": names[(start + i) % 3]}}
                     for i in range(100)]
            if start + 100 >= presses:
                batch[-1]["requestData"]["hotkeyName"] = "obs-velkin.load.S2.json"
            obs.request_batch(batch)
            began = time.time()
            status, _ = obs.request("GetVersion")
            slowest = max(slowest, time.time() - began)
            expect(status["result"], "OBS stopped answering during the storm")
            writes.poll()
        # Each press restores a layout, so working through the storm takes a while.
        try:
            wait_for_last(profile, paths[1], timeout=150)
        except HostError:
            obs.screenshot(os.path.join(args.build_dir, "artifacts", "storm-failure.png"))
            raise
        time.sleep(1)
        count = writes.poll()
        writes.close()
        print(f"  {presses} cycle and load presses: {count} settings writes, slowest answer {slowest * 1000:.0f} ms")
        expect(slowest < 1.0, f"a request took {slowest:.2f} s during the storm")
        expect(count <= 20, f"the storm wrote settings.json {count} times")
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
    expect(obs.log_lines("[obs-velkin] RestoreFailed: "), "the refused layout was not logged")


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


def keys(display, *sequence):
    """Types into whatever window has the keyboard: strings are typed, names in angle brackets are pressed."""
    for item in sequence:
        if item.startswith("<") and item.endswith(">"):
            xdotool(display, "key", "--delay", "30", key_name(display, item[1:-1]))
        else:
            xdotool(display, "type", "--delay", "20", item)
        time.sleep(0.15)


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

        def until_new_window(before, pattern, message):
            """Waits for a window that was not there before and gives it the keyboard."""
            window = sorted(wait_for(lambda: set(visible_windows(display, pattern)) - before, 10, message))[-1]
            time.sleep(0.3)
            xdotool(display, "windowfocus", "--sync", window)
            return window

        def answer(before, pattern, message, sequence, done, failure):
            """Types into the window that opens until its effect shows. Keys that arrive before Qt has taken the
            focus are lost without a trace, so while the window is still open the same keys are typed again."""
            window = until_new_window(before, pattern, message)
            for attempt in range(3):
                if attempt:
                    xdotool(display, "windowfocus", "--sync", window)
                keys(display, *sequence)
                try:
                    return wait_for(done, 5, failure)
                except HostError:
                    if window not in visible_windows(display, pattern):
                        raise
            raise HostError(failure)

        before = set(visible_windows(display, title))
        trigger(obs, "obs-velkin.open")
        dialog = until_new_window(before, title, "the dialog did not open")

        def in_dialog(*sequence):
            xdotool(display, "windowfocus", "--sync", dialog)
            keys(display, "<ctrl+f>", *sequence)

        # Rename Beta to Gamma with F2 in the list.
        before = set(visible_windows(display, title))
        in_dialog("Beta", "<Tab>", "<F2>")
        answer(before, title, "F2 opened no prompt", ("<ctrl+a>", "Gamma", "<Return>"),
               lambda: os.path.exists(snapshot("Gamma.json")) and not os.path.exists(snapshot("Beta.json")),
               "the rename did not move Beta.json to Gamma.json")
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
        answer(before, "^Export$", "no export dialog", ("<ctrl+a>", exported, "<Return>"),
               lambda: os.path.exists(exported), "nothing was exported")
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
        answer(before, "^Import$", "no import dialog", ("<ctrl+a>", exported, "<Return>"),
               lambda: os.path.exists(snapshot("Gamma.json")), "nothing was imported")
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
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    settings = read_settings(profile)
    expect(settings["last"] == plain, f"the unanswered load became the last one: {settings['last']}")
    expect(not visible_windows(display, "^Stats$"), "the unanswered layout was applied")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--obs-version", default="")
    parser.add_argument("--plugin-version", required=True, help="the version the plug-in's load line names")
    parser.add_argument("--check", action="append", choices=sorted(CHECKS), default=[])
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
    with Display() as display:
        for name in args.check or sorted(CHECKS):
            print(f"host check {name}: {CHECKS[name].__doc__}", flush=True)
            CHECKS[name](args, display)
            print(f"host check {name}: passed", flush=True)
    return 0


if __name__ == "__main__":
    run_main(main)
