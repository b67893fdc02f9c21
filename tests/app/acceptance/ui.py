"""What a person does and sees, for the acceptance tests.

They see the program through its accessibility interface (AT-SPI: windows, menus, tree rows,
with their names and places on the screen) and act on it through the X server (XTEST, by
xdotool): pointer moves, button presses, keys. Nothing here knows a pixel position in
advance; places come from the accessibility interface.

Waiting is always for a state, polled, with a generous bound; a failure says what was
expected and what was last seen.
"""

import ctypes
import os
import struct
import subprocess
import time
import zlib

_env = {}
_watch = None
verbose = False  # say how long each wait took


class Failure(Exception):
    """A case failed; the message says what was expected and what was seen."""


def use_display(env):
    """The environment (DISPLAY, D-Bus addresses) of the desktop to act on."""
    _env.clear()
    _env.update(env)
    # libatspi finds the accessibility bus through these when it first connects.
    for key in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
        os.environ[key] = env[key]


# ---- waiting ----

def watch(check):
    """A check that every wait makes between probes (that the program still runs); None: none."""
    global _watch
    _watch = check


def wait_for(what, probe, seen=repr, timeout=30, interval=0.05, while_waiting=None):
    """Polls probe() until it gives a true value, and returns that value.

    After `timeout` seconds fails with "expected <what>", followed by seen(last value), or by
    the error the last probe raised. `while_waiting` runs between probes and may fail early
    (a process that has ended).
    """
    began = time.monotonic()
    deadline = began + timeout
    last, error = None, None
    while True:
        try:
            last, error = probe(), None
        except Failure:
            raise
        except Exception as e:  # an object that went away while it was asked
            last, error = None, e
        if last:
            if verbose:
                print(f"  ({time.monotonic() - began:.2f} s for {what})", flush=True)
            return last
        if time.monotonic() > deadline:
            if error is None:
                try:
                    detail = f"seen: {seen(last)}"
                except Exception as e:
                    detail = f"(what there was could not be read: {e})"
            else:
                detail = f"error: {error}"
            raise Failure(f"expected {what} within {timeout} s; {detail}")
        if while_waiting is not None:
            while_waiting()
        if _watch is not None:
            _watch()
        time.sleep(interval)


# ---- seeing (AT-SPI) ----

def _atspi():
    import pyatspi  # connects to the buses of use_display()
    return pyatspi


def application(name, timeout=60):
    """The accessible of the running application called `name`."""
    pyatspi = _atspi()
    from gi.repository import Atspi

    def find():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == name:
                # Every question goes to the program: rows are relabelled without events.
                app.set_cache_mask(Atspi.Cache.NONE)
                return app
        return None

    return wait_for(f"the application {name!r} on the accessibility bus", find,
                    lambda _: "applications: " + ", ".join(_app_names()), timeout=timeout)


def _app_names():
    desktop = _atspi().Registry.getDesktop(0)
    return [desktop.getChildAtIndex(i).name for i in range(desktop.childCount)]


def role_of(acc):
    return acc.getRoleName()


def showing(acc):
    return acc.getState().contains(_atspi().STATE_SHOWING)


def focused(acc):
    return acc.getState().contains(_atspi().STATE_FOCUSED)


def selected(acc):
    return acc.getState().contains(_atspi().STATE_SELECTED)


def checked(acc):
    return acc.getState().contains(_atspi().STATE_CHECKED)


def enabled(acc):
    return acc.getState().contains(_atspi().STATE_SENSITIVE)


def active(window):
    """Whether the window has the keyboard (the window manager has activated it)."""
    return window.getState().contains(_atspi().STATE_ACTIVE)


def children(acc):
    return [acc.getChildAtIndex(i) for i in range(acc.childCount)]


def find_all(root, role=None, name=None, only_showing=True, into_trees=False):
    """Descendants of `root` (breadth first) with this role name and name (None: any).

    A role or a name may be a string or a predicate. Hidden parts are passed over unless
    only_showing is false; the rows of trees are not searched unless into_trees is true
    (thousands of rows, each a question over D-Bus).
    """
    found = []
    queue = children(root)
    while queue:
        acc = queue.pop(0)
        if acc is None:
            continue
        if only_showing and not showing(acc):
            continue
        acc_role = role_of(acc)
        matches_name = name is None or (name(acc.name) if callable(name) else acc.name == name)
        matches_role = role is None or (role(acc_role) if callable(role) else acc_role == role)
        if matches_role and matches_name:
            found.append(acc)
        if into_trees or acc_role not in ("tree", "tree table", "table", "list"):
            queue.extend(children(acc))
    return found


def find_one(root, role=None, name=None, what=None, timeout=30, **kwargs):
    """Waits for exactly one showing descendant with this role and name, and returns it."""
    what = what or f"one showing {role or 'accessible'} named {name!r}"

    def probe():
        found = find_all(root, role, name, **kwargs)
        return found[0] if len(found) == 1 else None

    return wait_for(what, probe, timeout=timeout,
                    seen=lambda _: describe(find_all(root, role, None, **kwargs)))


def describe(accs):
    return "[" + ", ".join(f"{role_of(a)} {a.name!r}" for a in accs) + "]"


def text(acc):
    """The text of an editable field."""
    return acc.queryText().getText(0, -1)


def extents(acc):
    """(x, y, width, height) on the screen."""
    pyatspi = _atspi()
    box = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def center(acc):
    x, y, w, h = extents(acc)
    return x + w // 2, y + h // 2


def rows(tree):
    """The names of a tree's rows as it shows them (open nodes' children included), in order."""
    return [child.name for child in children(tree)]


def row(tree, name):
    """The row of `tree` named `name` (exactly one), or None."""
    found = [child for child in children(tree) if child.name == name]
    return found[0] if len(found) == 1 else None


def visible_point(tree, item):
    """The centre of a tree row, after checking that the tree shows it whole."""
    x, y, w, h = extents(item)
    tx, ty, tw, th = extents(tree)
    if not (ty <= y and y + h <= ty + th and tx <= x < tx + tw):
        raise Failure(f"row {item.name!r} at {(x, y, w, h)} is not within its tree at "
                      f"{(tx, ty, tw, th)}: scrolled out of view or the window is too small")
    return x + min(w // 2, 60), y + h // 2


# ---- acting (XTEST through xdotool) ----

def xdotool(*args, check=True):
    result = subprocess.run(["xdotool", *map(str, args)], env=_env, capture_output=True,
                            timeout=60)
    if check and result.returncode != 0:
        raise Failure(f"xdotool {' '.join(map(str, args))} failed: "
                      f"{result.stderr.decode(errors='replace')}")
    return result.stdout.decode().strip()


def move_to(point):
    xdotool("mousemove", "--sync", point[0], point[1])


def click(point, button=1):
    move_to(point)
    xdotool("click", button)


def drag(start, end, steps=12):
    """Presses the left button at `start`, moves to `end` in steps, and lets go there."""
    move_to(start)
    xdotool("mousedown", 1)
    try:
        # First a few pixels, past the distance that starts a drag, then the way across.
        move_to((start[0] + 4, start[1] + 3))
        move_to((start[0] + 12, start[1] + 8))
        for i in range(1, steps + 1):
            move_to((start[0] + (end[0] - start[0]) * i // steps,
                     start[1] + (end[1] - start[1]) * i // steps))
    finally:
        xdotool("mouseup", 1)


def place_window(frame, top_left, size):
    """Moves a document window by its title bar and sizes it by its lower right corner."""
    x, y, w, h = extents(frame)
    content_top = extents(children(frame)[0])[1]
    title = (x + w // 2, (y + content_top) // 2)
    # Few steps: the window is moved and painted again at each.
    drag(title, (title[0] + top_left[0] - x, title[1] + top_left[1] - y), steps=2)
    wait_for(f"the window {frame.name!r} moved to {top_left}",
             lambda: _near(extents(frame)[:2], top_left), seen=lambda _: extents(frame))
    x, y, w, h = extents(frame)
    drag((x + w - 2, y + h - 2), (x + size[0] - 2, y + size[1] - 2), steps=2)
    wait_for(f"the window {frame.name!r} sized {size}",
             lambda: _near(extents(frame)[2:], size), seen=lambda _: extents(frame))


def _near(a, b, tolerance=3):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def _wait_active(window):
    # Keys go to the window that the window manager has made active, which it does in its own
    # time (a new dialog, the main window again after a dialog); keys sent before would reach
    # another window, or one that a dialog blocks.
    wait_for(f"the window {window.name!r} to be active, to take keys", lambda: active(window))


def press(window, *keys):
    """Keys or chords as xdotool names them ("ctrl+w", "Return"), once `window` is active."""
    _wait_active(window)
    xdotool("key", "--delay", 50, *keys)


def type_text(window, text):
    _wait_active(window)
    xdotool("type", "--delay", 20, text)


# ---- evidence ----

def screenshot(path):
    """Writes the X screen to a PNG file; false when it cannot."""
    class XImage(ctypes.Structure):
        _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int),
                    ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                    ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                    ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                    ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                    ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]

    try:
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XDisplayWidth.argtypes = x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XGetImage.restype = ctypes.POINTER(XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        display = x11.XOpenDisplay(_env["DISPLAY"].encode())
        if not display:
            return False
        try:
            w, h = x11.XDisplayWidth(display, 0), x11.XDisplayHeight(display, 0)
            image = x11.XGetImage(display, x11.XDefaultRootWindow(display), 0, 0, w, h,
                                  0xFFFFFFFF, 2)  # all planes, ZPixmap
            if not image or image.contents.bits_per_pixel != 32:
                return False
            stride = image.contents.bytes_per_line
            data = ctypes.string_at(image.contents.data, stride * h)
        finally:
            x11.XCloseDisplay(display)
        raw = bytearray()
        for y in range(h):
            line = data[y * stride:y * stride + 4 * w]
            rgb = bytearray(3 * w)
            rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
            raw += b"\0" + rgb

        def chunk(tag, body):
            return (struct.pack(">I", len(body)) + tag + body +
                    struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" +
                    chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(bytes(raw), 6)) + chunk(b"IEND", b""))
        return True
    except (OSError, KeyError):
        return False
