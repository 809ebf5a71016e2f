#!/usr/bin/env python3
"""Kills a writer that saves snapshots and settings.json in a loop with SIGKILL at random moments, and checks
after every kill that each file holds a whole generation, old or new, and that nothing piles up."""

import argparse
import base64
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time


def check(folder):
    """Returns a description of what is wrong with the folder, or None."""
    snapshots = os.path.join(folder, "snapshots")
    names = sorted(os.listdir(snapshots))
    if names != ["S1.json", "S2.json", "S3.json"]:
        return f"the snapshot folder holds {names}"
    for name in names:
        with open(os.path.join(snapshots, name), "rb") as f:
            document = json.loads(f.read())
        state = base64.b64decode(document["state"], validate=True)
        geometry = base64.b64decode(document["geometry"], validate=True)
        words = state.split(b" ", 2)
        if words[0] != b"generation" or len(words[2]) != 64 * 1024 or set(words[2]) != {ord("s")}:
            return f"{name} holds a damaged state"
        if geometry != b"geometry " + words[1] or document["name"] != name[:-5]:
            return f"{name} mixes two generations"
    with open(os.path.join(folder, "settings.json"), "rb") as f:
        settings = json.loads(f.read())
    if sorted(settings) != ["cycleHotkey", "last", "openHotkey", "previousHotkey", "snapshotHotkeys",
                            "snapshotOrder"] or not settings["last"].endswith(".json"):
        return f"settings.json holds {settings}"
    extra = sorted(set(os.listdir(folder)) - {"snapshots", "settings.json"})
    if extra:
        return f"left behind: {extra}"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--writer", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--kills", type=int, default=1000)
    args = parser.parse_args()
    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    subprocess.run([args.writer, args.folder, "--once"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    random.seed(7)
    started = time.time()
    for kill in range(1, args.kills + 1):
        writer = subprocess.Popen([args.writer, args.folder], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if writer.stdout.readline().strip() != b"ready":
            print(f"FAILED: the writer did not start (kill {kill})")
            return 1
        time.sleep(random.uniform(0, 0.03))
        writer.send_signal(signal.SIGKILL)
        writer.wait()
        problem = check(args.folder)
        if problem:
            print(f"FAILED after kill {kill}: {problem}")
            return 1
    print(f"{args.kills} kills survived in {time.time() - started:.0f} s: every file whole, nothing left behind")
    print(f"1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
