#!/usr/bin/env python3
"""Turns the benchmark results into ratios against the floors measured in the same run."""

import json
import sys


def main(path):
    # The median of the repetitions, or the single run when there were none.
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    medians = {b["run_name"]: b for b in runs if b.get("aggregate_name") == "median"}
    results = medians or {b["name"]: b for b in runs if b.get("run_type") == "iteration"}
    ms = {name: b["real_time"] for name, b in results.items()}  # all in milliseconds
    rows = []

    def row(action, value, target, judged=True, unit="x"):
        verdict = ("ok" if value <= target else "MISSED") if judged else "-"
        rows.append(f"{action:<56} {value:>8.2f}{unit}  target <= {target:g}{unit}  {verdict}")

    # The targets are for a streamer with hundreds of layouts. At 10 and 100 snapshots the fixed costs of
    # creating files and widgets outweigh a floor of well under a millisecond, so those rows only inform.
    for n in (10, 100, 1000):
        floor = ms[f"BM_Floor/{n}"]
        judged = n == 1000
        rows.append(f"-- {n} snapshots: floor F (list, read, parse every document) = {floor:.3f} ms"
                    + ("" if judged else ", for information"))
        row("scanSnapshots / F", ms[f"BM_Scan/{n}"] / floor, 1.3, judged)
        row("refresh without the dialog / F", ms[f"BM_Refresh/{n}"] / floor, 1.8, judged)
        row(f"first refresh, registering {n} hotkeys / F", ms[f"BM_RefreshFirst/{n}"] / floor, 2, judged)
        row(f"refresh with the dialog and {n} rows / F", ms[f"BM_RefreshDialog/{n}"] / floor, 2.5, judged)
        row("validateSnapshotName of a new name / F", ms[f"BM_Validate/{n}"] / floor, 1.3, judged)
        row("Save New, from the accepted name to saved settings / F", ms[f"BM_SaveNew/{n}"] / floor, 4.5, judged)
    rows.append("-- growth from 100 to 1000 snapshots (time at 1000 / time at 100)")
    for name in ("Floor", "Scan", "Refresh", "RefreshFirst", "RefreshDialog", "Validate", "SaveNew"):
        row(name, ms[f"BM_{name}/1000"] / ms[f"BM_{name}/100"], 11, name != "Floor")
    restore, read = ms["BM_RestoreFloor"], ms["BM_ReadOne"]
    rows.append(f"-- restore: floor R (restoreGeometry + restoreState of the same blobs) = {restore:.3f} ms,"
                f" one file read = {read:.3f} ms")
    row("loadSnapshot / (1.1 R + one read)", ms["BM_LoadSnapshot"] / (1.1 * restore + read), 1)
    # A load that shows or hides a dock restores the state a second time, so that the docks come out the same
    # whatever was on screen before; that second pass is what its larger allowance is for.
    row("load showing or hiding a dock / (1.5 R + one read)",
        ms["BM_LoadSnapshotShowingADock"] / (1.5 * restore + read), 1)
    # A load that leaves every dock in its place only resizes the docks: Qt's restoreState never runs.
    row("load leaving every dock in its place / R", ms["BM_LoadSnapshotInPlace"] / restore, 0.3)
    for label, name in (("loadSnapshot", "BM_LoadSnapshot"),
                        ("load showing or hiding a dock", "BM_LoadSnapshotShowingADock")):
        rows.append(f"{label + ' / R, for information':<56} {ms[name] / restore:>8.2f}x  ({ms[name]:.3f} ms)")
    row("draw one layout picture for a tool tip / R", ms["BM_DrawLayoutPicture"] / restore, 1.5)
    # Keeping the layout on screen: the watching rides on every move event of a drag, and the write comes a second
    # after the last one, off the drag's path.
    floor_event, watched_event = ms["BM_DragEventsFloor"], ms["BM_DragEventsWatched"]
    rows.append(f"-- keeping the layout: a drag's move event costs {floor_event * 1e6:.0f} ns unwatched, "
                f"{watched_event * 1e6:.0f} ns watched ({1000 / watched_event / 1e6:.1f} million events a second)")
    row("a drag's move event, watched / unwatched", watched_event / floor_event, 3)
    row("one write of the layout on screen / R", ms["BM_KeepLayoutWrite"] / restore, 1.5)
    # A plug-in adding widgets to the main window: the docks' watching looks at each new child once, on the next
    # turn of the event loop, without searching the window.
    floor_child, watched_child = ms["BM_ChildAddedFloor"], ms["BM_ChildAddedWatched"]
    rows.append(f"-- a child added to the main window and a turn of the event loop: {floor_child * 1e3:.1f} us "
                f"unwatched, {watched_child * 1e3:.1f} us watched")
    row("a child added, watched / unwatched", watched_child / floor_child, 1.5)
    rows.append("-- other")
    saving = ms["BM_SaveSettings/1000"]
    rows.append(f"{'saveSettings with 1000 bindings':<56} {saving:>8.2f} ms  ({saving / ms['BM_Floor/1000']:.2f} F)")
    peak = results["BM_RefreshDialog/1000"].get("peak_added_KiB", 0) / 1024
    row("peak memory of a 1000-row refresh above the idle dialog", peak, 8, unit=" MiB")
    print("\n".join(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
