"""Acceptance tests: the real bankquill program used the way a person uses it.

The program runs on an X server of its own with a window manager, is driven through the X
server (pointer and keys) and watched through its accessibility interface, with a virtual
Karma on the test command's JACK server as the instrument. The cases run in order, as one
session at the instrument: each starts where the one before left off. At the end the virtual
Karma's memory is compared byte for byte with what the session should have left in it.

Run by ctest (make test) through scripts/run-tests.sh, which provides the JACK server.
"""

import argparse
import os
import shutil
import signal
import sys
import tempfile
import time
import traceback

import cases_compare as comparison
import cases_files as files
import cases_find as find
import cases_instrument as instrument
import cases_programs as programs
import rig as desktop
import ui
from session import Session, stop_karma, tail
from ui import Failure

# The session, in order: each case starts where the one before left off.
CASES = [
    instrument.connect,
    instrument.download,
    files.open_file,
    files.timbres,
    instrument.send,
    instrument.swap,
    instrument.undo,
    programs.with_programs,
    comparison.compare,
    find.find,
    find.find_users,
    instrument.close_workstation,
    instrument.stale_undo,
    instrument.download_again,
    files.restore,
    files.menu,
    files.leave,
    instrument.memory,
]


def setup(s):
    """Starts the program and makes its main window large enough for two windows side by side."""
    s.rig.start_program(s.args.program)
    ui.watch(s.program_running)
    s.app = ui.application("Bankquill")
    s.main = ui.find_one(s.app, "frame", lambda n: n.startswith("Bankquill"),
                         what="the main window")
    window = ui.wait_for("the main window on the X server", lambda: ui.xdotool(
        "search", "--onlyvisible", "--pid", s.rig.program.pid, "--name", "^Bankquill",
        check=False)).split()[0]
    # What a person does with the window manager: moves the window and makes it larger.
    ui.xdotool("windowmove", "--sync", window, 0, 0)
    ui.xdotool("windowsize", "--sync", window, desktop.SCREEN[0] - 40, desktop.SCREEN[1] - 60)
    ui.wait_for("the main window at its new size",
                lambda: ui.extents(s.main)[2] >= desktop.SCREEN[0] - 60,
                seen=lambda _: ui.extents(s.main))


# ---- running ----

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the bankquill executable")
    parser.add_argument("--karma", required=True, help="the bankquill-virtual-karma executable")
    parser.add_argument("--pcg", required=True, help="a Karma PCG file (the demo file)")
    parser.add_argument("--artifacts", required=True,
                        help="where the logs and the screenshot of a failure go")
    parser.add_argument("--verbose", action="store_true", help="say how long each wait took")
    args = parser.parse_args()
    for name in ("program", "karma", "pcg", "artifacts"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    ui.verbose = args.verbose

    problem = desktop.jack_server_problem()
    if problem:
        print(f"acceptance: {problem}", file=sys.stderr)
        return 1
    # Stopped from outside (ctest's time limit, Ctrl+C): the desktop is taken down on the way out.
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _interrupted)

    logdir = os.path.join(args.artifacts, "logs")
    shutil.rmtree(logdir, ignore_errors=True)
    os.makedirs(logdir)
    shot = os.path.join(args.artifacts, "failure.png")
    if os.path.exists(shot):
        os.remove(shot)
    workdir = tempfile.mkdtemp(prefix="bankquill-acceptance-")
    args.memory_out = os.path.join(workdir, "karma-memory.bin")
    started = time.monotonic()
    failed = False
    try:
        with desktop.Rig(workdir, logdir) as rig:
            session = Session(args, rig, workdir)
            failed = not run(session, shot)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print(f"acceptance: {'FAILED' if failed else 'passed'} in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


def _interrupted(sig, _frame):
    raise SystemExit(128 + sig)


def run(s, shot):
    """Sets the desktop up and runs the cases in order, up to the first that fails."""
    current = "setting up the desktop and starting the program"
    t = time.monotonic()
    done = 0
    try:
        s.rig.start_desktop()
        ui.use_display(s.rig.env)
        # What the instrument holds before anything is written, kept by a first run of it.
        reference = os.path.join(s.workdir, "karma-before.bin")
        s.rig.start_virtual_karma(s.args.karma, reference)
        s.reference = stop_karma(s, reference)
        s.rig.start_virtual_karma(s.args.karma, s.args.memory_out)
        setup(s)
        print(f"[ OK ] {current} ({time.monotonic() - t:.1f} s)", flush=True)
        for function in CASES:
            current = function.title
            t = time.monotonic()
            if function is files.leave:
                ui.watch(None)  # the program ends here
            function(s)
            print(f"[ OK ] {current} ({time.monotonic() - t:.1f} s)", flush=True)
            done += 1
        return True
    except Exception as e:
        print(f"[FAIL] {current} ({time.monotonic() - t:.1f} s)", flush=True)
        print(str(e) if isinstance(e, Failure) else traceback.format_exc(), flush=True)
        report(s, shot)
        for function in CASES[done + 1:]:
            print(f"[ -- ] not run: {function.title}")
        return False


def report(s, shot):
    """What a person would have seen at the failure: the screen, the windows, the logs."""
    if s.rig.env.get("DISPLAY") and ui.screenshot(shot):
        print(f"screenshot: {shot}")
    try:
        if s.app is not None and s.rig.program.poll() is None:
            for window in ui.children(s.app):
                if ui.showing(window):
                    texts = [a.name for a in ui.find_all(window, "label")]
                    print(f"window: {ui.role_of(window)} {window.name!r}, texts: {texts}")
    except Exception as e:  # the program may be going
        print(f"(the windows could not be listed: {e})")
    for name in ("bankquill", "virtual-karma"):
        print(f"--- the last lines of {name}'s output ---\n{tail(s.rig.log_of(name))}")
    print(f"(every log is in {s.rig.logdir})")


if __name__ == "__main__":
    sys.exit(main())

