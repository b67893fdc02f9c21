"""The desktop the acceptance tests run on, made and taken down by the tests themselves.

An X server of its own (Xvfb) with a window manager (openbox), a D-Bus session bus with the
accessibility bus on it, temporary HOME and XDG directories, the virtual Karma on the test
command's JACK server, and the program under test. Every process started here, and whatever
those start in turn, belongs to one process group. Stopping the rig stops them all; should the
test process itself be killed, a watchdog kills the group, so that nothing outlives a test
that fails, is interrupted or is killed at its time limit.
"""

import ctypes
import os
import select
import signal
import subprocess
import sys
import time

from ui import Failure, wait_for

SCREEN = (1600, 1000)

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36


# Kills the process group given as its first argument and removes the folder given as its
# second once its standard input ends, which is when the test process has gone, however it
# went: even a test that is killed leaves no desktop behind.
_WATCHDOG = """
import os, shutil, signal, sys
sys.stdin.buffer.read()
try:
    os.killpg(int(sys.argv[1]), signal.SIGKILL)
except ProcessLookupError:
    pass
shutil.rmtree(sys.argv[2], ignore_errors=True)
"""


def _die_with_test():
    # Runs in the child between fork and exec: the child goes when the test does.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


def jack_server_problem():
    """Empty when JACK_DEFAULT_SERVER is the server the test command started; else why not.

    The program searches every MIDI output of the server it reaches and writes Combinations to
    whatever answers: on a musician's machine that could be a real instrument.
    """
    own = os.environ.get("BQ_TEST_JACK_SERVER", "")
    chosen = os.environ.get("JACK_DEFAULT_SERVER")
    if not own:
        return ("BQ_TEST_JACK_SERVER is not set: run these tests with scripts/run-tests.sh "
                "(make test), which starts a JACK server of their own")
    if chosen != own:
        return (f"JACK_DEFAULT_SERVER is not the test server {own}: refusing to touch a server "
                "the tests did not start")
    return ""


class Rig:
    """The processes of one run; use as a context manager, which stops them all on the way out."""

    def __init__(self, workdir, logdir):
        self.workdir = workdir
        self.logdir = logdir
        self.env = {}
        self._processes = []  # (name, Popen, signal that asks it to end), in start order
        self._group = 0
        self._watchdog = None
        self.program = None
        # What our children start and leave behind (the accessibility registry) comes back to
        # us rather than to init, so that it is stopped and reaped here.
        _libc.prctl(_PR_SET_CHILD_SUBREAPER, 1)

    # ---- starting ----

    def _spawn(self, name, argv, stdout=None, pass_fds=(), env=None):
        log = open(os.path.join(self.logdir, name + ".log"), "wb")
        try:
            process = subprocess.Popen(
                argv, stdin=subprocess.DEVNULL, stdout=stdout if stdout is not None else log,
                stderr=log, pass_fds=pass_fds, env=env if env is not None else self.env,
                cwd=self.env.get("HOME", self.workdir), process_group=self._group,
                preexec_fn=_die_with_test)
        finally:
            log.close()
        if self._group == 0:
            self._group = process.pid
            self._watchdog = subprocess.Popen(
                [sys.executable, "-I", "-c", _WATCHDOG, str(self._group), self.workdir],
                stdin=subprocess.PIPE, process_group=0)
        return process

    def _track(self, name, process, stop_signal=signal.SIGTERM):
        self._processes.append((name, process, stop_signal))
        return process

    def log_of(self, name):
        try:
            with open(os.path.join(self.logdir, name + ".log"), "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def _alive(self, name, process):
        if process.poll() is not None:
            raise Failure(f"{name} ended with status {process.returncode} while starting; "
                          f"its output:\n{self.log_of(name)}")
        return True

    def start_desktop(self):
        home = os.path.join(self.workdir, "home")
        runtime = os.path.join(self.workdir, "runtime")
        for d in (home, runtime):
            os.makedirs(d, mode=0o700, exist_ok=True)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "LANG": "C.UTF-8",
        }
        self._start_x()
        self._start_window_manager()
        self._start_session_bus()
        self._start_accessibility_bus()

    def _start_x(self):
        read_end, write_end = os.pipe()
        try:
            xvfb = self._spawn("Xvfb", [
                "Xvfb", "-displayfd", str(write_end), "-screen", "0",
                f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,))
            self._track("Xvfb", xvfb)
            os.close(write_end)
            write_end = -1
            # Xvfb writes its display number once it takes connections.
            number = b""
            deadline = time.monotonic() + 30
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                ready, _, _ = select.select([read_end], [], [], max(left, 0))
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    raise Failure(f"Xvfb did not say its display within 30 s:\n"
                                  f"{self.log_of('Xvfb')}")
                number += chunk
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def _start_window_manager(self):
        ready = os.path.join(self.workdir, "openbox-ready")
        self._track("openbox", self._spawn("openbox", [
            "openbox", "--sm-disable", "--startup", f"touch {ready}"]))
        wait_for("openbox to manage the display", lambda: os.path.exists(ready),
                 while_waiting=lambda: self._alive("openbox", self._processes[-1][1]))

    def _start_session_bus(self):
        address = "unix:path=" + os.path.join(self.env["XDG_RUNTIME_DIR"], "bus")
        bus = self._track("dbus-daemon", self._spawn("dbus-daemon", [
            "dbus-daemon", "--session", "--nofork", "--nosyslog", "--address", address,
            "--print-address=1"], stdout=subprocess.PIPE))
        line = _read_line(bus.stdout, 30)
        bus.stdout.close()
        if not line:
            raise Failure(f"dbus-daemon did not start:\n{self.log_of('dbus-daemon')}")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = line.strip()

    def _start_accessibility_bus(self):
        # Started here rather than activated by the session bus, so that it is ours to stop.
        launcher = self._track("at-spi-bus-launcher", self._spawn("at-spi-bus-launcher", [
            "/usr/libexec/at-spi-bus-launcher", "--launch-immediately", "--a11y=1"]))
        # Asking for the name's owner activates nothing (asking org.a11y.Bus itself would).
        wait_for("the accessibility bus launcher on the session bus",
                 lambda: _bus_name_has_owner(self.env, "org.a11y.Bus"),
                 while_waiting=lambda: self._alive("at-spi-bus-launcher", launcher))

    def start_virtual_karma(self, program, memory_out, options=()):
        """The instrument, answering as fast as JACK takes it; writes its memory at its end."""
        env = dict(self._child_env(), JACK_DEFAULT_SERVER=os.environ["JACK_DEFAULT_SERVER"],
                   JACK_NO_START_SERVER="1")
        # A virtual Karma of an earlier test that was killed keeps the client name for a few
        # seconds after it has gone: then it says so and ends, and is started again.
        deadline = time.monotonic() + 20
        while True:
            karma = self._spawn("virtual-karma", [program, "--rate", "0", "--memory-out",
                                                  memory_out, *options], env=env)
            wait_for("the virtual Karma to say it is ready",
                     lambda: "ready:" in self.log_of("virtual-karma") or karma.poll() is not None,
                     seen=lambda _: self.log_of("virtual-karma"))
            if karma.poll() is None:
                return self._track("virtual-karma", karma, signal.SIGINT)
            if "exists already" not in self.log_of("virtual-karma") or \
                    time.monotonic() > deadline:
                raise Failure("the virtual Karma did not start: "
                              f"{self.log_of('virtual-karma')}")
            time.sleep(0.5)

    def _child_env(self):
        env = dict(self.env)
        # The sanitizers' settings of the test command.
        for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if key in os.environ:
                env[key] = os.environ[key]
        return env

    def start_program(self, program):
        env = dict(self._child_env(), QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   JACK_DEFAULT_SERVER=os.environ["JACK_DEFAULT_SERVER"],
                   JACK_NO_START_SERVER="1")
        # On X the keyboard map comes through libxkbcommon-x11, which copies counted, unended
        # strings with strndup; strict string checks take that for reading past their end.
        if "ASAN_OPTIONS" in env:
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        self.program = self._track("bankquill", self._spawn("bankquill", [program], env=env))
        return self.program

    # ---- stopping ----

    def stop(self, name, timeout=15):
        """Asks the named process to end, kills it after `timeout`; its exit status."""
        for entry in self._processes:
            if entry[0] == name:
                self._processes.remove(entry)
                return _end(entry[1], entry[2], timeout)
        return None

    def stop_all(self):
        # The newest first: the program before the instrument, the buses before the X server.
        while self._processes:
            name, process, stop_signal = self._processes.pop()
            _end(process, stop_signal, 10)
        # Whatever they started in turn (the accessibility bus and registry) is in the group.
        if self._group:
            try:
                os.killpg(self._group, signal.SIGTERM)
                time.sleep(0.2)
                os.killpg(self._group, signal.SIGKILL)
            except ProcessLookupError:
                pass  # none left
            self._group = 0
        if self._watchdog is not None:
            self._watchdog.stdin.close()
            _end(self._watchdog, signal.SIGTERM, 10)
            self._watchdog = None
        _reap()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop_all()
        return False


def _end(process, stop_signal, timeout):
    if process.poll() is None:
        try:
            process.send_signal(stop_signal)
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode


def _reap():
    """Ends and waits for every child left, our own or handed to us as their subreaper."""
    me = str(os.getpid())
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                # The parent's id follows the command name, which is in parentheses.
                parent = f.read().rsplit(")", 1)[1].split()[1]
        except (OSError, IndexError):
            continue
        if parent == me:
            try:
                os.kill(int(entry), signal.SIGKILL)
            except ProcessLookupError:
                pass
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return  # none left
        if pid == 0:
            time.sleep(0.05)


def _read_line(stream, timeout):
    ready, _, _ = select.select([stream], [], [], timeout)
    return stream.readline().decode() if ready else ""


def _bus_name_has_owner(env, name):
    result = subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name],
        env=env, capture_output=True, timeout=30, preexec_fn=_die_with_test)
    return b"boolean true" in result.stdout
