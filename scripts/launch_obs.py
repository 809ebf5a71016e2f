#!/usr/bin/env python3
"""Starts OBS Studio with the built plug-in for a person: prints the load line, saves a screenshot, runs until
Ctrl+C (scripts/run)."""

import argparse
import os
import signal
import time

from obs_host import Display, Obs, Profile, run_main


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--keep-profile", action="store_true", help="keep the profile of the run before")
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
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


if __name__ == "__main__":
    run_main(main)
