#!/usr/bin/env bash
# The package in a fresh runtime root (OBS Studio and a display, nothing to build with): apt installs it, OBS
# Studio loads the plug-in, a hotkey loads a snapshot and changes the layout, OBS Studio quits cleanly, and removing
# the package leaves the user's snapshots and settings as they were.
#
#   check-package.sh PACKAGE.deb PLUGIN_VERSION
#
# The test command runs it through scripts/root with VELKIN_ROOT_KIND=runtime and VELKIN_ROOT_FRESH=1.
set -euo pipefail
deb=$1 version=$2
fail() {
	echo "FAILED: $*" >&2
	exit 1
}
for tool in cc c++ gcc g++ cmake; do
	! command -v "$tool" >/dev/null || fail "the runtime root holds $tool"
done

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends "$deb" >/tmp/apt-install.txt 2>&1 || {
	cat /tmp/apt-install.txt
	fail "apt could not install $deb"
}
module=$(dpkg -L obs-velkin | grep '/obs-plugins/obs-velkin\.so$') || fail "the package holds no plug-in"
[ -f /usr/share/obs/obs-plugins/obs-velkin/locale/en-US.ini ] || fail "the package holds no locale"
. scripts/lib.sh
obs=$(velkin_upstream_version obs-studio)

# A user with a snapshot of their own (installed_obs.py adds OBS's configuration and the snapshot it loads).
home=$(mktemp -d /root/user-XXXXXX)
config=$home/.config/obs-studio
data=$config/plugin_config/obs-velkin
mkdir -p "$data/snapshots"
cat >"$data/snapshots/Live.json" <<'DOCUMENT'
{
    "docks": [
        "scenesDock"
    ],
    "format": 1,
    "geometry": "AdnQywADAAAAAAA8AAAAPAAABTsAAAM7",
    "name": "Live",
    "obs": "30.2.3",
    "plugin": "obs-velkin",
    "state": "AAAA/wAAAAD9AAAAAA=="
}
DOCUMENT

Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x800x24 5>/tmp/display 2>/tmp/xvfb.txt &
xvfb=$!
for _ in $(seq 100); do
	[ -s /tmp/display ] && break
	sleep 0.1
done
[ -s /tmp/display ] || fail "Xvfb did not start"
# OBS Studio loads the plug-in, a hotkey loads a snapshot, and OBS quits cleanly (tests/install/installed_obs.py).
status=0
DISPLAY=":$(cat /tmp/display)" python3 tests/install/installed_obs.py "$home" "$version" "$obs" || status=$?
kill $xvfb 2>/dev/null || true
if [ $status != 0 ]; then
	tail -n 30 "$config"/logs/*.txt "$home/obs-output.txt" 2>/dev/null
	fail "the plug-in in OBS Studio $obs (see above)"
fi
[ -f "$data/settings.json" ] || fail "the plug-in wrote no settings.json"

before=$(cd "$data" && find . -type f -exec sha256sum {} + | sort)
apt-get remove -y -q obs-velkin >/tmp/apt-remove.txt 2>&1 || {
	cat /tmp/apt-remove.txt
	fail "apt could not remove the package"
}
[ ! -e "$module" ] || fail "the plug-in is still there after the removal"
after=$(cd "$data" && find . -type f -exec sha256sum {} + | sort)
[ "$before" = "$after" ] || fail "the removal changed the user's files: $before / $after"
echo "installed, loaded and removed; $(echo "$after" | wc -l) user files untouched"
