#!/usr/bin/env python3
"""Writes the RestoreFuzzer seeds: the test layouts of OBS's core docks, each as a real snapshot from the layout
tool, turned into the fuzzer's input (one byte with the geometry's length, the geometry, then the state).

    scripts/root -- python3 fuzz/make_restore_seeds.py [BUILD_DIR]
"""
import base64
import json
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, os.pardir, "tests", "host"))
from host_checks import EXACT_LAYOUTS  # noqa: E402

# The arrangements of the host checks' snapshots: the exact layouts, and those of the other checks.
LAYOUTS = {
    **{name.lower(): arrangement for name, arrangement in EXACT_LAYOUTS.items()},
    "beyond": ("float:statsDock:2500,200,420,300", "window:300,200,1100,700"),
    "plain": (),
    "float-stats": ("float:statsDock",),
    "hidden-mixer-right-controls": ("hide:mixerDock", "right:controlsDock"),
    "audio-mixing": ("right:mixerDock",),
    "float-scenes-sources": ("float:scenesDock", "float:sourcesDock"),
}


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build")
    tool = os.path.join(build, "tests", "velkin-layout-tool")
    out = os.path.join(here, "corpus", "RestoreFuzzer")
    env = {**os.environ, "QT_QPA_PLATFORM": "offscreen"}
    with tempfile.TemporaryDirectory() as scratch:
        for name, arrangement in LAYOUTS.items():
            path = os.path.join(scratch, name + ".json")
            subprocess.run([tool, path, name, *arrangement], check=True, env=env)
            with open(path) as f:
                document = json.load(f)
            geometry = base64.b64decode(document["geometry"])
            state = base64.b64decode(document["state"])
            assert len(geometry) < 256
            with open(os.path.join(out, f"layout-{name}.bin"), "wb") as f:
                f.write(bytes([len(geometry)]) + geometry + state)


if __name__ == "__main__":
    main()
