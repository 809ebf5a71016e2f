#!/bin/bash
# Runs the command on an X server of its own (Xvfb, as the suite's), so that it neither waits for the display that
# the unit tests take turns on nor keeps them waiting.
set -eu
project=$(cd "$(dirname "$0")/../.." && pwd)
. "$project/scripts/lib.sh"
unset DISPLAY
trap velkin_stop_display EXIT
velkin_display
"$@"
