"""Runs the real OBS Studio with the built plug-in in a fresh profile, and talks to it through obs-websocket."""

import glob
import json
import os
import re
import shutil
import signal
import socket
import sys
import subprocess
import time

import websocket

WEBSOCKET_NOT_READY = 207


class HostError(Exception):
    pass


def run_main(main):
    """Exits with what main returns, or with 1 and the message of a HostError it raised."""
    try:
        sys.exit(main())
    except HostError as error:
        print(f"FAILED: {error}", file=sys.stderr)
        sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Display:
    """The current X display, or an Xvfb of our own when there is none."""

    def __init__(self):
        self.process = None
        self.name = os.environ.get("DISPLAY", "")

    def __enter__(self):
        if self.name and subprocess.run(["xdpyinfo"], capture_output=True).returncode == 0:
            return self
        number = 120
        while (os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}")
               or subprocess.run(["xdpyinfo", "-display", f":{number}"], capture_output=True).returncode == 0):
            number += 1
        self.name = f":{number}"
        # A session of its own: Ctrl+C in the terminal must not take the display away from a quitting OBS.
        self.process = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
        deadline = time.time() + 10
        while time.time() < deadline:
            if subprocess.run(["xdpyinfo", "-display", self.name], capture_output=True).returncode == 0:
                # Helpers started from here (xdotool, the layout tool) use this display too.
                os.environ["DISPLAY"] = self.name
                return self
            time.sleep(0.1)
        raise HostError("Xvfb did not start")

    def __exit__(self, *exc):
        if self.process:
            self.process.terminate()
            self.process.wait(10)


class Profile:
    """A fresh HOME holding an OBS configuration with the plug-in installed and obs-websocket enabled."""

    def __init__(self, build_dir, name, keep=False, plugin_build_dir=None, user_home=None):
        """The profile lives in build_dir; the plug-in comes from plugin_build_dir, by default build_dir too. With
        user_home (such as /home/streamer), OBS alone sees the profile there, as a user's home folder, and shows
        its paths so in screenshots; the checks keep using self.home."""
        self.home = os.path.join(build_dir, "host", name)
        self.build_dir = build_dir
        self.user_home = user_home
        if not keep and os.path.exists(self.home):
            shutil.rmtree(self.home)
        self.write_obs_config()
        # The plug-in goes in through its own install rules, in the per-user layout.
        subprocess.run(
            ["cmake", "--install", plugin_build_dir or build_dir, "--component", "user", "--prefix",
             os.path.join(self.obs_config, "plugins")],
            check=True,
            stdout=subprocess.DEVNULL,
        )

    def write_obs_config(self):
        """OBS's configuration in self.home: past the first-run wizard, with obs-websocket on a free port."""
        self.obs_config = os.path.join(self.home, ".config", "obs-studio")
        self.plugin_config = os.path.join(self.obs_config, "plugin_config", "obs-velkin")
        self.port = free_port()
        os.makedirs(os.path.join(self.obs_config, "plugin_config", "obs-websocket"), exist_ok=True)
        with open(os.path.join(self.obs_config, "global.ini"), "w") as f:
            f.write("[General]\nFirstRun=true\nLastVersion=503447555\n")
        with open(os.path.join(self.obs_config, "plugin_config", "obs-websocket", "config.json"), "w") as f:
            json.dump(
                {
                    "alerts_enabled": False,
                    "auth_required": False,
                    "first_load": False,
                    "server_enabled": True,
                    "server_password": "",
                    "server_port": self.port,
                },
                f,
            )

    def seen(self, path):
        """A path under self.home as OBS sees it."""
        return os.path.join(self.user_home, os.path.relpath(path, self.home)) if self.user_home else path

    @property
    def snapshot_dir(self):
        return os.path.join(self.plugin_config, "snapshots")

    @property
    def settings_path(self):
        return os.path.join(self.plugin_config, "settings.json")

    def settings_identity(self):
        """Which settings.json is there now: the plug-in replaces the whole file at every save."""
        try:
            status = os.stat(self.settings_path)
        except FileNotFoundError:
            return None
        return status.st_ino, status.st_mtime_ns


class Obs:
    """One run of OBS Studio in a profile."""

    def __init__(self, profile, display, env=None, args=(), answer_timeout=10):
        """answer_timeout: the seconds that a request may wait for its answer."""
        self.profile = profile
        self.answer_timeout = answer_timeout
        self.display = display
        self.extra_env = env or {}
        self.extra_args = list(args)
        self.process = None
        self.ws = None
        self.request_id = 0
        # Events (op 5) for a client that subscribed to some, oldest first, as they arrived.
        self.events = []

    def start(self):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.profile.home,
            "DISPLAY": self.display.name,
            "LANG": os.environ.get("VELKIN_HOST_LANG", "en_US.UTF-8"),
            "QT_QPA_PLATFORM": "xcb",
            **self.extra_env,
        }
        # A crash leaves its stack in the output (a test build's velkin-crash-trace.so), unless something else is
        # preloaded already (AddressSanitizer reports its own).
        build_dir = getattr(self.profile, "build_dir", None)
        trace = os.path.join(build_dir, "tests", "velkin-crash-trace.so") if build_dir else ""
        if trace and os.path.exists(trace) and "LD_PRELOAD" not in env:
            env["LD_PRELOAD"] = trace
        self.started = time.time()
        self.settings_before = self.profile.settings_identity()
        self.output = open(os.path.join(self.profile.home, "obs-output.txt"), "w")
        command = ["obs", "--disable-updater", "--disable-shutdown-check", "--multi", *self.extra_args]
        if getattr(self.profile, "user_home", None):
            # In a mount namespace of OBS's own, a tmpfs over the user's home folder's parent holds that folder,
            # bound to the profile; unshare and sh exec, so the process is OBS's. Inside scripts/root's chroot, /
            # is no mount point to make private, but every mount there is private already.
            env["HOME"] = self.profile.user_home
            command = ["unshare", "--mount", "--propagation", "unchanged", "--", "sh", "-c",
                       '{ mount --make-rprivate / 2>/dev/null; true; } && mount -t tmpfs tmpfs "${1%/*}" && '
                       'mkdir "$1" && mount --bind "$2" "$1" && cd "$1" && shift 2 && exec "$@"',
                       "sh", self.profile.user_home, self.profile.home, *command]
        # A session of its own too: OBS quits on the one SIGINT that stop() sends, not on the terminal's.
        self.process = subprocess.Popen(
            command,
            cwd=self.profile.home,
            env=env,
            stdout=self.output,
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        return self

    def log_path(self):
        logs = glob.glob(os.path.join(self.profile.obs_config, "logs", "*.txt"))
        logs = [p for p in logs if os.path.getmtime(p) >= self.started - 1]
        return max(logs, key=os.path.getmtime) if logs else None

    def log_text(self):
        path = self.log_path()
        if not path:
            return ""
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def log_lines(self, containing=""):
        """The messages of the log (time stamps removed) that contain the text."""
        lines = []
        for line in self.log_text().splitlines():
            message = line.split(": ", 1)[1] if ": " in line[:16] else line
            if containing in message:
                lines.append(message)
        return lines

    def wait_for_log(self, text, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for line in self.log_lines(text):
                return line
            self.check_alive()
            time.sleep(0.2)
        raise HostError(f"OBS did not log {text!r} within {timeout} s")

    def check_alive(self):
        if self.process.poll() is not None:
            raise HostError(f"OBS ended early with code {self.process.returncode}{self.crash_trace()}")

    def crash_trace(self):
        """The stack that a crash left in OBS's output, each frame of the plug-in with its function and line; empty
        when OBS did not crash."""
        path = os.path.join(self.profile.home, "obs-output.txt")
        with open(path, encoding="utf-8", errors="replace") as f:
            output = f.read()
        begin = output.rfind("==== OBS crashed")
        if begin < 0:
            return ""
        lines = []
        for line in output[begin:].splitlines()[:70]:
            frame = re.search(r"^(\S*obs-velkin\.so)\(\+(0x[0-9a-f]+)\)", line)
            if frame and shutil.which("addr2line"):
                where = subprocess.run(["addr2line", "-f", "-C", "-i", "-e", frame[1], frame[2]],
                                       capture_output=True, text=True).stdout.split("\n")
                line += "  " + " at ".join(part for part in where[:2] if part)
            lines.append(line)
        return "\n" + "\n".join(lines)

    def connect(self, timeout=60, event_subscriptions=0):
        """Connects to obs-websocket and waits until OBS has finished loading and the plug-in is active. The client
        receives the events of the given subscription bits (obs-websocket's EventSubscription)."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            self.check_alive()
            try:
                self.ws = websocket.create_connection(f"ws://127.0.0.1:{self.profile.port}",
                                                      timeout=self.answer_timeout)
                json.loads(self.ws.recv())
                self.ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1, "eventSubscriptions": event_subscriptions}}))
                identified = json.loads(self.ws.recv())
                if identified.get("op") != 2:
                    raise HostError(f"unexpected answer to Identify: {identified}")
                break
            except (OSError, websocket.WebSocketException):
                self.ws = None
                time.sleep(0.3)
        if not self.ws:
            raise HostError("obs-websocket did not answer")
        while time.time() < deadline:
            status, _ = self.request("GetVersion")
            if status["result"]:
                break
            if status.get("code") != WEBSOCKET_NOT_READY:
                raise HostError(f"GetVersion failed: {status}")
            time.sleep(0.3)
        else:
            raise HostError("OBS did not finish loading")
        # obs-websocket turns ready when OBS has finished loading, and also whenever a scene collection has
        # changed: OBS 32 sets up its first collection while it starts, before it has finished loading. So
        # also wait for the plug-in's activation at finished loading, which registers the snapshots'
        # hotkeys and then saves the settings.
        while time.time() < deadline:
            if self.profile.settings_identity() != self.settings_before:
                return self
            self.check_alive()
            time.sleep(0.1)
        raise HostError("the plug-in saved no settings after OBS started: it was not activated")

    def request(self, request_type, data=None):
        """Sends one request and returns (requestStatus, responseData)."""
        self.request_id += 1
        rid = str(self.request_id)
        self.ws.send(json.dumps({"op": 6, "d": {"requestType": request_type, "requestId": rid,
                                                 "requestData": data or {}}}))
        while True:
            message = self.receive()
            if message.get("op") == 7 and message["d"].get("requestId") == rid:
                return message["d"]["requestStatus"], message["d"].get("responseData", {})

    def send_request(self, request_type, data=None):
        """Sends one request without waiting for its answer and returns its id, for receive_answers."""
        self.request_id += 1
        rid = str(self.request_id)
        self.ws.send(json.dumps({"op": 6, "d": {"requestType": request_type, "requestId": rid,
                                                 "requestData": data or {}}}))
        return rid

    def receive_answers(self, request_ids, timeout):
        """Waits for the answers to requests sent with send_request: {id: (requestStatus, responseData)}.
        obs-websocket works on the requests of one client in parallel, so answers come in any order."""
        wanted = set(request_ids)
        answers = {}
        deadline = time.time() + timeout
        while wanted - set(answers):
            message = self.receive(max(0.1, deadline - time.time()))
            if message is None:
                raise HostError(f"{len(wanted - set(answers))} of {len(wanted)} requests had no answer within "
                                f"{timeout} s")
            if message.get("op") == 7 and message["d"].get("requestId") in wanted:
                answers[message["d"]["requestId"]] = (message["d"]["requestStatus"],
                                                      message["d"].get("responseData", {}))
        return answers

    def receive(self, timeout=None, until_event=False):
        """The next message other than an event, which goes to self.events. With a timeout, None when nothing but
        events came in that time; without one, the connection's own timeout applies. With until_event, an event
        also ends the wait, and None is returned for it."""
        deadline = None if timeout is None else time.time() + timeout
        usual = self.ws.gettimeout()
        while True:
            if deadline is not None:
                remaining = deadline - time.time()
                if remaining <= 0:
                    return None
                self.ws.settimeout(remaining)
            try:
                message = json.loads(self.ws.recv())
            except websocket.WebSocketTimeoutException:
                if deadline is None:
                    raise
                return None
            finally:
                self.ws.settimeout(usual)
            if message.get("op") == 5:
                self.events.append(message["d"])
                if until_event:
                    return None
                continue
            return message

    def next_event(self, timeout):
        """Takes the oldest event not yet taken, waiting up to timeout seconds for one; None if none came."""
        deadline = time.time() + timeout
        while not self.events:
            remaining = deadline - time.time()
            if remaining <= 0:
                return None
            # An answer that arrives here was given up on by whoever sent its request.
            self.receive(remaining, until_event=True)
        return self.events.pop(0)

    def request_batch(self, requests):
        """Sends requests as one batch (op 8) and waits for its answer."""
        self.request_id += 1
        rid = str(self.request_id)
        self.ws.send(json.dumps({"op": 8, "d": {"requestId": rid, "haltOnFailure": False,
                                                 "requests": requests}}))
        while True:
            message = self.receive()
            if message.get("op") == 9 and message["d"].get("requestId") == rid:
                return message["d"]["results"]

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-display", self.display.name, "-window", "root", path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def stop(self, timeout=60):
        """Quits OBS the way Ctrl+C does and returns its exit code."""
        if self.ws:
            try:
                self.ws.close()
            except OSError:
                pass
            self.ws = None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise HostError(f"OBS did not quit within {timeout} s of SIGINT")
        self.output.close()
        return code


class FileWrites:
    """Counts the atomic replacements (rename into place) of one file name in a folder, through inotify."""

    IN_MOVED_TO = 0x80
    IN_CLOSE_WRITE = 0x08

    def __init__(self, folder, name):
        import ctypes

        self.name = name
        self.libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, folder.encode(),
                                                      self.IN_MOVED_TO | self.IN_CLOSE_WRITE) < 0:
            raise HostError(f"cannot watch {folder}")
        self.count = 0

    def poll(self):
        import struct

        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return self.count
            offset = 0
            while offset < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, offset)
                name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode(errors="replace")
                offset += 16 + length
                if name == self.name and mask & (self.IN_MOVED_TO | self.IN_CLOSE_WRITE):
                    self.count += 1

    def close(self):
        os.close(self.fd)


def visible_windows(display, name_pattern, top_level=False):
    """X windows of the display whose name matches the pattern and that are mapped; with top_level, only the
    root's children (a dock's window floats there, and stays named inside the main window when docked)."""
    depth = ["--maxdepth", "1"] if top_level else []
    result = subprocess.run(["xdotool", "search", "--onlyvisible", *depth, "--name", name_pattern],
                            env={**os.environ, "DISPLAY": display.name}, capture_output=True, text=True)
    return [line for line in result.stdout.split() if line]


def key_name(display, name):
    """A key for xdotool. A function key goes by its keycode: the xdotool of Debian testing, with xkb-data 2.48,
    holds Alt down when it types a function key by its name, so F2 would arrive as Alt+F2."""
    if not re.fullmatch(r"F[0-9]+", name):
        return name
    import ctypes

    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XStringToKeysym.restype = ctypes.c_ulong
    x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
    x11.XKeysymToKeycode.restype = ctypes.c_ubyte
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.name.encode())
    if not connection:
        raise HostError(f"cannot open display {display.name}")
    try:
        code = x11.XKeysymToKeycode(connection, x11.XStringToKeysym(name.encode()))
    finally:
        x11.XCloseDisplay(connection)
    if not code:
        raise HostError(f"the display has no key {name}")
    return str(code)


def xdotool(display, *args):
    subprocess.run(["xdotool", *args], env={**os.environ, "DISPLAY": display.name}, check=True,
                   capture_output=True)


def xdotool_output(display, *args):
    """What xdotool prints, stripped; empty where it fails."""
    result = subprocess.run(["xdotool", *args], env={**os.environ, "DISPLAY": display.name},
                            capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else ""
