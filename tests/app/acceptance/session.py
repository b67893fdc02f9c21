"""One session at the instrument, which the cases share and carry on from one to the next: the
program, its windows as a person finds them, and where the session is.

A case is a function of the session marked @case("what it shows"); acceptance_test.py runs
them in the order it lists them.
"""

import ui
from pcg import MEMORY_SIZE, SLOTS, pcg_combinations
from ui import Failure

CONNECTED = "MIDI Status: Connected [In: virtual-karma:midi_out, Out: virtual-karma:midi_in]"
WORKSTATION = "Karma Workstation [MIDI]"
EARLIER = "Shown from an earlier connection"


def case(title):
    def mark(function):
        function.title = title
        return function
    return mark


class Session:
    def __init__(self, args, rig, workdir):
        self.args = args
        self.rig = rig
        self.workdir = workdir
        self.app = None
        self.main = None
        self.pcg_path = None
        self.file_records = pcg_combinations(args.pcg)
        self.reference = None  # the virtual Karma's memory before anything was written
        # Writes that the first instrument keeps besides the Combinations the cases of
        # cases_instrument make: (place in the memory, record).
        self.kept = []

    def program_running(self):
        status = self.rig.program.poll()
        if status is not None:
            raise Failure(f"bankquill ended with status {status}; its output:\n"
                          f"{tail(self.rig.log_of('bankquill'))}")

    # The two bank views; each window's bank tree is the one holding the "Combinations" row.
    def frame(self, name):
        return ui.find_one(self.main, "frame", name)

    def file_frame(self):
        return self.frame(f"PCG File - [{self.pcg_path}]")

    def bank_tree(self, frame):
        return ui.wait_for(f"the bank tree of {frame.name!r}",
                           lambda: next((t for t in ui.find_all(frame, "tree")
                                         if ui.row(t, "Combinations") is not None), None),
                           seen=lambda _: ui.describe(ui.find_all(frame, "tree")))

    def open_node(self, tree, name):
        """Opens a node: a click on it, then the Right arrow key.

        A double click would do as well, but whether two clicks make one depends on how soon
        the second comes, which a busy machine does not promise.
        """
        ui.click(self.row_point(tree, name))
        ui.press(self.main, "Right")

    def bank_rows(self, tree, bank="Bank A"):
        rows = ui.rows(tree)
        if bank not in rows:
            return []
        start = rows.index(bank) + 1
        return rows[start:start + SLOTS]

    def wait_for_rows(self, tree, expected, what, timeout=30):
        """Waits until the tree's rows named in `expected` (slot: label) carry those labels."""
        def probe():
            rows = self.bank_rows(tree)
            return len(rows) == SLOTS and all(rows[s] == text for s, text in expected.items())

        ui.wait_for(what, probe, timeout=timeout,
                    seen=lambda _: {s: (self.bank_rows(tree) or [None] * SLOTS)[s]
                                    for s in expected})

    def row_point(self, tree, text):
        item = ui.wait_for(f"a row {text!r}", lambda: ui.row(tree, text),
                           seen=lambda _: ui.rows(tree)[:20])
        return ui.visible_point(tree, item)

    def bring_forward(self, frame, title):
        """Brings a document window to the front by a click on its title bar."""
        x, y, w, _ = ui.extents(frame)
        ui.click((x + w // 2, (y + ui.extents(ui.children(frame)[0])[1]) // 2))
        ui.wait_for(f"the window {title!r} in front",
                    lambda: self.main.name == f"Bankquill - {title}",
                    seen=lambda _: self.main.name)

    def question(self, text, what):
        """The window of the question shown whose text starts with `text`, and that text.

        Looked for among the program's windows first, which is quicker than through the whole
        of the main window.
        """
        def probe():
            for window in ui.children(self.app):
                if ui.role_of(window) in ("alert", "dialog") and ui.showing(window):
                    found = ui.find_all(window, "label", lambda n: n.startswith(text))
                    if found:
                        return window, found[0].name
            return None

        return ui.wait_for(what, probe, seen=lambda _: [
            (ui.role_of(w), [a.name for a in ui.find_all(w, "label")])
            for w in ui.children(self.app) if ui.showing(w)])

    def answer(self, button, what, window=None):
        """Clicks a button of the question shown (its mnemonic's & aside)."""
        ui.click(ui.center(ui.find_one(window or self.app, "push button",
                                       lambda n: n.replace("&", "") == button, what=what)))

    def choose(self, menu, item):
        """Chooses a command from the main window's menu bar with two clicks."""
        ui.click(ui.center(ui.find_one(self.main, "menu item", menu,
                                       what=f"the {menu} menu title")))
        ui.click(ui.center(ui.find_one(self.app, "menu item",
                                       lambda n: n.replace("&", "").startswith(item),
                                       what=f"{item} in the {menu} menu")))


def decline_program_download(s, name):
    """The file's Combination plays Programs the Karma has not sent in this connection: the
    program offers to download them to compare; No writes the Combination alone."""
    ui.find_one(s.app, "label", lambda n: n.startswith(f"'{name}' plays Programs of"),
                what=f"the question whether to download the Programs {name!r} plays")
    s.answer("No", "the question's No button")


def stop_karma(s, path):
    """Stops the virtual Karma and returns the memory it wrote at its end."""
    status = s.rig.stop("virtual-karma")
    try:
        with open(path, "rb") as f:
            memory = f.read()
    except OSError as e:
        raise Failure(f"the virtual Karma ended with status {status} without its memory file "
                      f"({e}):\n{tail(s.rig.log_of('virtual-karma'))}")
    if status != 0 or len(memory) != MEMORY_SIZE:
        raise Failure(f"expected the virtual Karma to end with status 0 and {MEMORY_SIZE} bytes "
                      f"of memory; it ended with {status} and {len(memory)} bytes:\n"
                      f"{tail(s.rig.log_of('virtual-karma'))}")
    return memory


def tail(text, lines=40):
    """The end of a process's output, or the start of a sanitizer's report in it."""
    all_lines = text.splitlines()
    for i, line in enumerate(all_lines):
        if "ERROR: AddressSanitizer" in line or "ERROR: LeakSanitizer" in line or \
                "runtime error:" in line:
            return "\n".join(all_lines[i:i + lines])
    return "\n".join(all_lines[-lines:])
