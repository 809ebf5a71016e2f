#!/bin/bash
# Runs the command on an X server of its own (Xvfb, as the suite's), so that it neither waits for the display that
# the unit tests take turns on nor keeps them waiting. The server picks a free display itself (-displayfd): two of
# these started at once never share one.
set -eu
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$number"' EXIT
for _ in $(seq 100); do
	if [ -s "$number" ] && grep -q . "$number"; then
		break
	fi
	sleep 0.1
done
[ -s "$number" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$number" | tr -d '[:space:]')"
"$@"
