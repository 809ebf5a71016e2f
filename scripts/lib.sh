# Shared by the scripts that run inside the build root, and by the test command outside it.

# The plug-in's version, from project() in the CMakeLists.txt of the given project folder.
velkin_plugin_version() {
	sed -nE 's/^project\(obs-velkin VERSION ([0-9.]+).*/\1/p' "$1/CMakeLists.txt"
}

# An installed Debian package's upstream version: 30.2.3 of 30.2.3+dfsg-1.
velkin_upstream_version() {
	dpkg-query -W -f '${Version}' "$1" | sed -E 's/^[0-9]+://; s/[+~-].*//'
}

# Configures (with the given cache settings) and builds the project in the given folder.
velkin_cmake() {
	local dir=$1
	shift
	cmake -S "$VELKIN_PROJECT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
	echo "building $dir"
	cmake --build "$dir" >"$dir/build.log" 2>&1 || {
		tail -n 60 "$dir/build.log"
		return 1
	}
}

# The build folder: $VELKIN_BUILD, or else build/ in the project for Debian 13's OBS Studio 30 and
# build-testing/ for Debian testing's OBS Studio 32.
velkin_build_dir() {
	if [ -n "${VELKIN_BUILD:-}" ]; then
		echo "$VELKIN_BUILD"
	elif [ "${VELKIN_HOST:-trixie}" = testing ]; then
		echo "$VELKIN_PROJECT/build-testing"
	else
		echo "$VELKIN_PROJECT/build"
	fi
}

# Configures and builds the project in the build folder.
velkin_build() {
	local build
	build=$(velkin_build_dir)
	if [ ! -f "$build/CMakeCache.txt" ]; then
		cmake -S "$VELKIN_PROJECT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	fi
	cmake --build "$build"
}

# Starts Xvfb on a free display unless one is already set, and exports DISPLAY.
velkin_display() {
	if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
		return 0
	fi
	local n=90
	# A server of another mount namespace still answers on its abstract socket: skip those displays too.
	while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || xdpyinfo -display ":$n" >/dev/null 2>&1; do
		n=$((n + 1))
	done
	Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
	VELKIN_XVFB_PID=$!
	export DISPLAY=":$n"
	for _ in $(seq 100); do
		xdpyinfo >/dev/null 2>&1 && return 0
		sleep 0.1
	done
	echo "Xvfb did not start" >&2
	cat /tmp/xvfb.log >&2
	return 1
}

velkin_stop_display() {
	if [ -n "${VELKIN_XVFB_PID:-}" ]; then
		kill "$VELKIN_XVFB_PID" 2>/dev/null || true
		wait "$VELKIN_XVFB_PID" 2>/dev/null || true
	fi
}
