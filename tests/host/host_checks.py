#!/usr/bin/env python3
"""Checks the plug-in inside the real OBS Studio, or starts OBS with it for a person to use (--interactive)."""

import argparse
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
    obs = Obs(Profile(args.build_dir, "lifecycle"), display).start()
    try:
        obs.wait_for_log(load_line(args))
        obs.connect()
        expect(len(obs.log_lines("[obs-velkin] Loaded version")) == 1, "the load line appears more than once")
        # A module load that failed would be named in OBS's list of failed modules.
        expect(not obs.log_lines("obs-velkin.so: failed"), "OBS reports the module as failed")
    finally:
        code = obs.stop()
    expect_clean_exit(obs, code)
    expect(not obs.log_lines("[obs-velkin] ") or all(
        line == load_line(args) for line in obs.log_lines("[obs-velkin] ")), "unexpected plug-in log lines")


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
