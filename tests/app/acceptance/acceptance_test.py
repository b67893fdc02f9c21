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
import struct
import sys
import tempfile
import time
import traceback

import rig as desktop
import ui
from ui import Failure

# ---- the files and the instrument's memory ----

RECORD = 996  # a Combination
SLOTS = 128
_PROGRAMS = 5 * SLOTS * 804 + SLOTS * 416  # Program banks A-E, then the MOSS bank F
MEMORY_SIZE = _PROGRAMS + 6 * SLOTS * RECORD + RECORD
_CONTAINERS = {b"PCG1", b"PRG1", b"CMB1", b"DKT1", b"ARP1"}


def pcg_records(path):
    """{(tag, bank, slot): record} of a Karma PCG file's Combination ("CBK1") and Program
    ("PBK1") banks, read here on its own."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"KORG":
        raise Failure(f"{path} is not a PCG file")
    records = {}

    def walk(position, end):
        while position + 8 <= end:
            tag, size = data[position:position + 4], struct.unpack_from(">I", data, position + 4)[0]
            body = position + 8
            if tag in _CONTAINERS:
                walk(body, body + size)
            elif tag in (b"CBK1", b"PBK1"):
                count, record_size, bank = struct.unpack_from(">III", data, body)
                if tag == b"CBK1" and record_size != RECORD:
                    raise Failure(f"{path}: Combination bank {bank} has {record_size}-byte records")
                for slot in range(count):
                    start = body + 12 + slot * record_size
                    records[(tag.decode(), bank, slot)] = data[start:start + record_size]
            position = body + size

    walk(16, len(data))
    return records


def pcg_combinations(path):
    """{(bank, slot): record} of a Karma PCG file's Combination banks."""
    return {(bank, slot): record for (tag, bank, slot), record in pcg_records(path).items()
            if tag == "CBK1"}


def combi_at(memory, bank, slot):
    start = _PROGRAMS + (bank * SLOTS + slot) * RECORD
    return memory[start:start + RECORD]


def record_name(record):
    return record[:16].decode("latin-1").rstrip(" ")


def label(slot, name):
    return f"{slot:03d} : {name}"


def generated(slot, bank="A"):
    """The label of a slot of the virtual Karma that nothing has written to."""
    return label(slot, f"Combi {bank}-{slot:03d}")


# ---- the session ----

SOURCE = (0, 3)  # the file's Combination A-003 ...
SENT_TO = 10  # ... written into the instrument's A-010
SWAP_FROM, SWAP_TO = 4, 1  # then the instrument's A-004 dragged onto its A-001
UNDO_SOURCE = (0, 5)  # then the file's Combination A-005 ...
UNDONE = 6  # ... written into the instrument's A-006, and taken back with Ctrl+Z
# Then another Karma answers: the file's A-005 written into its A-005, whose record the window
# knows only from the first instrument; after Download Again, the file's A-003 into its A-012.
STALE = 5
LATER = 12
# Another device's SysEx on the same cable, before every reply of the second instrument.
FOREIGN = "F0 43 10 4C 00 00 7E 00 F7"
EARLIER = "Shown from an earlier connection"

CONNECTED = "MIDI Status: Connected [In: virtual-karma:midi_out, Out: virtual-karma:midi_in]"
WORKSTATION = "Karma Workstation [MIDI]"


class Session:
    def __init__(self, args, rig, workdir):
        self.args = args
        self.rig = rig
        self.workdir = workdir
        self.app = None
        self.main = None
        self.pcg_path = None
        self.file_records = pcg_combinations(args.pcg)
        self.reference = None

    def program_running(self):
        status = self.rig.program.poll()
        if status is not None:
            raise Failure(f"bankquill ended with status {status}; its output:\n"
                          f"{tail(self.rig.log_of('bankquill'))}")

    # The two bank views; each window's bank tree is the one holding the "Combinations" row.
    def frame(self, name):
        return ui.find_one(self.main, "frame", name)

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


def tail(text, lines=40):
    """The end of a process's output, or the start of a sanitizer's report in it."""
    all_lines = text.splitlines()
    for i, line in enumerate(all_lines):
        if "ERROR: AddressSanitizer" in line or "ERROR: LeakSanitizer" in line or \
                "runtime error:" in line:
            return "\n".join(all_lines[i:i + lines])
    return "\n".join(all_lines[-lines:])


# ---- the cases, in the order of the session ----

CASES = []


def case(title):
    def register(function):
        CASES.append((title, function))
        return function
    return register


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


@case("Ctrl+W shows the Workstation window, which connects to the virtual Karma")
def connect(s):
    ui.press(s.main, "ctrl+w")
    ui.find_one(s.main, "label", CONNECTED, what=f"the status bar reading {CONNECTED!r}",
                timeout=60)
    ws = s.frame(WORKSTATION)
    # The Workstation window to the left, tall enough for a bank and more.
    area = ui.extents(ui.find_one(s.main, "layered pane"))
    ui.place_window(ws, (area[0] + 10, area[1] + 10), (560, area[3] - 20))


@case("Opening Combinations > Bank A in the Workstation window downloads the instrument's names")
def download(s):
    tree = s.bank_tree(s.frame(WORKSTATION))
    s.open_node(tree, "Combinations")
    s.open_node(tree, "Bank A")
    s.wait_for_rows(tree, {slot: generated(slot) for slot in range(SLOTS)},
                    "the 128 Combinations of the instrument's bank A under Bank A", timeout=60)


@case("Ctrl+O opens a PCG file typed into the dialog")
def open_file(s):
    # From a folder of the test's own, as a person keeps their files.
    s.pcg_path = os.path.join(s.rig.env["HOME"], "library.pcg")
    shutil.copyfile(s.args.pcg, s.pcg_path)
    ui.press(s.main, "ctrl+o")
    dialog = ui.find_one(s.app, "dialog", "Open PCG File", what="the Open PCG File dialog")
    field = ui.find_one(dialog, "text", "File name:")
    ui.wait_for("the file name field to have the focus", lambda: ui.focused(field))
    ui.type_text(dialog, s.pcg_path)
    ui.wait_for(f"the file name field to read {s.pcg_path!r}",
                lambda: ui.text(field) == s.pcg_path, seen=lambda _: ui.text(field))
    ui.press(dialog, "Return")
    frame = s.frame(f"PCG File - [{s.pcg_path}]")
    ws = ui.extents(s.frame(WORKSTATION))
    area = ui.extents(ui.find_one(s.main, "layered pane"))
    ui.place_window(frame, (ws[0] + ws[2] + 10, area[1] + 10), (560, area[3] - 20))
    tree = s.bank_tree(frame)
    s.open_node(tree, "Combinations")
    s.open_node(tree, "Bank A")
    s.wait_for_rows(tree, {slot: label(slot, record_name(s.file_records[(0, slot)]))
                           for slot in range(SLOTS)},
                    "the file's 128 Combinations of bank A under Bank A")


@case("Selecting a file Combination shows its timbres with the names of the Programs they play")
def timbres(s):
    records = pcg_records(s.args.pcg)
    slot = 1
    record = s.file_records[(0, slot)]
    # Timbre t: the Program's slot and bank at 772 + 28 * (t - 1), the status in bits 5 to 7 of
    # the byte after; Int (0) and Both (2) play the instrument's own Program, banks A to F.
    expected = []
    for t in range(8):
        program_slot, bank, status = record[772 + 28 * t:772 + 28 * t + 3]
        program = records.get(("PBK1", bank, program_slot))
        if status >> 5 in (0, 2) and bank < 6 and program is not None:
            expected.append(f"{'ABCDEF'[bank]} {program_slot:03d} : {record_name(program)}")
    if not expected:
        raise Failure(f"the file's Combination A-{slot:03d} plays no Program the file holds")
    frame = s.frame(f"PCG File - [{s.pcg_path}]")
    tree = s.bank_tree(frame)
    ui.click(s.row_point(tree, label(slot, record_name(record))))
    timbre_list = ui.find_one(frame, lambda r: r in ("tree", "tree table", "table"), "Timbres",
                              what="the item pane's list of timbres")
    ui.wait_for(f"the timbres listing {expected}",
                lambda: all(text in ui.rows(timbre_list) for text in expected),
                seen=lambda _: ui.rows(timbre_list))


def decline_program_download(s, name):
    """The file's Combination plays Programs the Karma has not sent in this connection: the
    program offers to download them to compare; No writes the Combination alone."""
    ui.find_one(s.app, "label", lambda n: n.startswith(f"'{name}' plays Programs of"),
                what=f"the question whether to download the Programs {name!r} plays")
    ui.click(ui.center(ui.find_one(s.app, "push button", lambda n: n.replace("&", "") == "No",
                                   what="the question's No button")))


@case("Dragging a file Combination onto a Workstation slot writes it there and relabels the slot")
def send(s):
    record = s.file_records[SOURCE]
    name = record_name(record)
    source_tree = s.bank_tree(s.frame(f"PCG File - [{s.pcg_path}]"))
    target_tree = s.bank_tree(s.frame(WORKSTATION))
    ui.drag(s.row_point(source_tree, label(SOURCE[1], name)),
            s.row_point(target_tree, generated(SENT_TO)))
    decline_program_download(s, name)
    s.wait_for_rows(target_tree, {SENT_TO: label(SENT_TO, name), SENT_TO - 1:
                                  generated(SENT_TO - 1), SENT_TO + 1: generated(SENT_TO + 1)},
                    f"slot {SENT_TO:03d} of the Workstation window relabelled {name!r}, "
                    "its neighbours unchanged")
    s.wait_for_rows(source_tree, {SOURCE[1]: label(SOURCE[1], name)},
                    "the file's Combination still in its place")


@case("Dragging one Workstation Combination onto another swaps the two")
def swap(s):
    tree = s.bank_tree(s.frame(WORKSTATION))
    ui.drag(s.row_point(tree, generated(SWAP_FROM)), s.row_point(tree, generated(SWAP_TO)))
    s.wait_for_rows(tree, {SWAP_TO: label(SWAP_TO, f"Combi A-{SWAP_FROM:03d}"),
                           SWAP_FROM: label(SWAP_FROM, f"Combi A-{SWAP_TO:03d}")},
                    f"slots {SWAP_TO:03d} and {SWAP_FROM:03d} relabelled with each other's names")


@case("Dragging a file Combination onto a Workstation slot, then Ctrl+Z, puts the slot's own back")
def undo(s):
    name = record_name(s.file_records[UNDO_SOURCE])
    source_tree = s.bank_tree(s.frame(f"PCG File - [{s.pcg_path}]"))
    target_tree = s.bank_tree(s.frame(WORKSTATION))
    ui.drag(s.row_point(source_tree, label(UNDO_SOURCE[1], name)),
            s.row_point(target_tree, generated(UNDONE)))
    decline_program_download(s, name)
    s.wait_for_rows(target_tree, {UNDONE: label(UNDONE, name)},
                    f"slot {UNDONE:03d} of the Workstation window relabelled {name!r}")
    ui.press(s.main, "ctrl+z")
    sent = record_name(s.file_records[SOURCE])
    s.wait_for_rows(target_tree, {UNDONE: generated(UNDONE), SENT_TO: label(SENT_TO, sent),
                                  SWAP_TO: label(SWAP_TO, f"Combi A-{SWAP_FROM:03d}")},
                    f"slot {UNDONE:03d} showing its own Combination again, and only the last "
                    "write undone")


def found_row(s):
    """A Combination of the file that only the file holds, found by part of its name."""
    taken = {record_name(s.file_records[SOURCE])}
    names = [record_name(s.file_records[(0, slot)]) for slot in range(SLOTS)]
    for slot, name in enumerate(names):
        if len(name) >= 4 and name not in taken and names.count(name) == 1 and slot != SOURCE[1]:
            return slot, name
    raise Failure("the file has no Combination with a name of its own in bank A")


@case("Ctrl+F and part of a name list the item; a double click on it selects it in its window")
def find(s):
    slot, name = found_row(s)
    part = name[1:].lower()
    tree = s.bank_tree(s.frame(f"PCG File - [{s.pcg_path}]"))
    # The Workstation window in front, so that the result has a window to bring forward.
    ws = s.frame(WORKSTATION)
    x, y, w, _ = ui.extents(ws)
    ui.click((x + w // 2, (y + ui.extents(ui.children(ws)[0])[1]) // 2))  # its title bar
    ui.wait_for("the Workstation window in front",
                lambda: s.main.name == f"Bankquill - {WORKSTATION}", seen=lambda _: s.main.name)
    ui.press(s.main, "ctrl+f")
    field = ui.find_one(s.main, "text", "Find", what="the find field")
    ui.wait_for("the find field to have the focus", lambda: ui.focused(field))
    ui.type_text(s.main, part)
    ui.wait_for(f"the find field to read {part!r}", lambda: ui.text(field) == part,
                seen=lambda _: ui.text(field))
    results = ui.find_one(s.main, lambda r: r in ("tree", "tree table"), "Find Results",
                          what="the Find Results list")
    # The part matches in any case; the result named in full is the file's item.
    result = ui.wait_for(f"a result {name!r}", lambda: ui.row(results, name),
                         seen=lambda _: ui.rows(results)[:20])
    x, y = ui.visible_point(results, result)
    ui.move_to((x, y))
    ui.xdotool("click", "--repeat", 2, "--delay", 60, 1)
    ui.wait_for(f"the row {label(slot, name)!r} selected in the file's window, now in front",
                lambda: (r := ui.row(tree, label(slot, name))) is not None and ui.selected(r)
                and s.main.name == f"Bankquill - PCG File - [{s.pcg_path}]",
                seen=lambda _: (s.main.name, [r.name for r in ui.children(tree)
                                              if ui.selected(r)]))
    # Escape ends the find; the trees show everything again, the choice kept.
    ui.press(s.main, "Escape")
    ui.wait_for("the find field gone", lambda: not ui.find_all(s.main, "text", "Find"))
    ui.wait_for(f"the row {label(slot, name)!r} still selected, its neighbours back",
                lambda: ui.selected(ui.row(tree, label(slot, name)))
                and len(s.bank_rows(tree)) == SLOTS,
                seen=lambda _: len(s.bank_rows(tree)))


@case("Closing the Workstation window asks first and ends the connection; the instrument holds "
      "exactly what was written")
def close_workstation(s):
    ws = s.frame(WORKSTATION)
    tree = s.bank_tree(ws)
    # Brought forward by a click into it, then closed with its title bar's close button.
    ui.click(s.row_point(tree, "Bank A"))
    ui.wait_for("the Workstation window in front",
                lambda: s.main.name == f"Bankquill - {WORKSTATION}", seen=lambda _: s.main.name)
    x, y, w, _ = ui.extents(ws)
    ui.click((x + w - 14, (y + ui.extents(ui.children(ws)[0])[1]) // 2))
    ui.find_one(s.app, "label", lambda n: n.startswith("Ending the connection to the Karma"),
                what="the question before the Undo history goes")
    ui.click(ui.center(ui.find_one(s.app, "push button", lambda n: n.replace("&", "") == "Yes",
                                   what="the question's Yes button")))
    ui.find_one(s.main, "label", "MIDI Status: Not Connected",
                what="the status bar reading not connected")
    check_first_instrument(s)


@case("Another Karma answers: bank A shows greyed as from an earlier connection, and a drag "
      "onto it writes but cannot be undone")
def stale_undo(s):
    s.rig.start_virtual_karma(s.args.karma, s.args.memory_out, ("--stray", FOREIGN))
    ui.press(s.main, "ctrl+w")
    ui.find_one(s.main, "label", CONNECTED, what=f"the status bar reading {CONNECTED!r}",
                timeout=60)
    tree = s.bank_tree(s.frame(WORKSTATION))
    ui.wait_for("Bank A described as shown from an earlier connection",
                lambda: ui.row(tree, "Bank A").description.startswith(EARLIER),
                seen=lambda _: ui.row(tree, "Bank A").description)
    shown = s.bank_rows(tree)[STALE]
    name = record_name(s.file_records[UNDO_SOURCE])
    source_tree = s.bank_tree(s.frame(f"PCG File - [{s.pcg_path}]"))
    ui.drag(s.row_point(source_tree, label(UNDO_SOURCE[1], name)), s.row_point(tree, shown))
    decline_program_download(s, name)
    s.wait_for_rows(tree, {STALE: label(STALE, name)},
                    f"slot {STALE:03d} of the Workstation window relabelled {name!r}")
    # What A-005 held before is not known of this instrument: nothing to put back.
    ui.press(s.main, "ctrl+z")
    ui.click(ui.center(ui.find_one(s.main, "menu item", "Edit", what="the Edit menu title")))
    item = ui.find_one(s.app, "menu item",
                       lambda n: n.replace("&", "").startswith(
                           f"Can't Undo Send to Bank A {STALE:03d}"),
                       what=f"the Edit menu saying the send to A-{STALE:03d} cannot be undone")
    if ui.enabled(item):
        raise Failure(f"{item.name!r} is enabled")
    ui.press(s.main, "Escape")
    s.wait_for_rows(tree, {STALE: label(STALE, name)},
                    f"slot {STALE:03d} still showing what was written")


@case("Download Again, from the bank's context menu, shows what the new Karma holds, past another "
      "device's messages on the cable")
def download_again(s):
    tree = s.bank_tree(s.frame(WORKSTATION))
    ui.click(s.row_point(tree, "Bank A"), button=3)
    # The menu's entries are Round Trip, then Download Again (a popup's items are not in the
    # accessibility tree): chosen with the keys, as a person may.
    time.sleep(0.3)
    ui.xdotool("key", "--delay", 100, "Down", "Down", "Return")
    name = record_name(s.file_records[UNDO_SOURCE])
    s.wait_for_rows(tree, {slot: label(slot, name) if slot == STALE else generated(slot)
                           for slot in range(SLOTS)},
                    "the new instrument's bank A, with the Combination written to "
                    f"A-{STALE:03d}", timeout=60)
    ui.wait_for("Bank A no longer described as from an earlier connection",
                lambda: not ui.row(tree, "Bank A").description,
                seen=lambda _: ui.row(tree, "Bank A").description)
    # Known now: a write into it can be undone, so leaving asks first.
    sent = record_name(s.file_records[SOURCE])
    source_tree = s.bank_tree(s.frame(f"PCG File - [{s.pcg_path}]"))
    ui.drag(s.row_point(source_tree, label(SOURCE[1], sent)), s.row_point(tree, generated(LATER)))
    decline_program_download(s, sent)
    s.wait_for_rows(tree, {LATER: label(LATER, sent)},
                    f"slot {LATER:03d} of the Workstation window relabelled {sent!r}")


def write_pcg(path, combinations):
    """A Karma PCG file holding Combination bank A: `combinations` is its 128 records."""
    def chunk(tag, body):
        return tag + struct.pack(">I", len(body)) + body

    records = b"".join(combinations)
    bank = chunk(b"CBK1", struct.pack(">III", SLOTS, RECORD, 0) + records)
    root = chunk(b"PCG1", chunk(b"CMB1", bank))
    with open(path, "wb") as f:
        f.write(b"KORG" + bytes([0x5D, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0]) + root)


@case("File > Restore Workstation puts a backup back: the question counts what differs, what the "
      "Karma held is saved first, only those slots are written, and Ctrl+Z takes it all back")
def restore(s):
    # What the instrument held before the session, as a backup of bank A would keep it.
    backup = os.path.join(s.rig.env["HOME"], "before-session.pcg")
    write_pcg(backup, [combi_at(s.reference, 0, slot) for slot in range(SLOTS)])
    ui.click(ui.center(ui.find_one(s.main, "menu item", "File", what="the File menu title")))
    ui.click(ui.center(ui.find_one(s.app, "menu item",
                                   lambda n: n.replace("&", "").startswith("Restore Workstation"),
                                   what="Restore Workstation in the File menu")))
    dialog = ui.find_one(s.app, "dialog", "Restore Workstation", what="the file dialog")
    field = ui.find_one(dialog, "text", "File name:")
    ui.wait_for("the file name field to have the focus", lambda: ui.focused(field))
    ui.type_text(dialog, backup)
    ui.wait_for(f"the file name field to read {backup!r}", lambda: ui.text(field) == backup,
                seen=lambda _: ui.text(field))
    ui.press(dialog, "Return")
    # Bank A is known in this connection: no download, straight to the question.
    ui.find_one(s.app, "check box", "Combination Bank A: 2 of 128 slots differ",
                what="the question counting the slots that differ")
    question = ui.wait_for("the restore's question", lambda: next(
        (d for d in ui.find_all(s.app, "dialog") if ui.find_all(d, "check box")), None))
    ui.click(ui.center(ui.find_one(question, "push button", "Restore")))
    ui.find_one(s.app, "label", "The Karma now holds what before-session.pcg holds: 2 slots "
                "were written.", what="the restore's report")
    ui.click(ui.center(ui.find_one(s.app, "push button", lambda n: n.replace("&", "") == "OK",
                                   what="the report's OK button")))
    tree = s.bank_tree(s.frame(WORKSTATION))
    s.wait_for_rows(tree, {STALE: generated(STALE), LATER: generated(LATER)},
                    f"slots {STALE:03d} and {LATER:03d} showing what the backup holds")
    saved = [n for n in os.listdir(s.rig.env["HOME"]) if n.startswith("karma-before-restore-")]
    if len(saved) != 1:
        raise Failure(f"expected one safety backup in the home folder, found {saved}")
    # The whole restore is one step: Ctrl+Z gives back what the two slots held.
    ui.press(s.main, "ctrl+z")
    s.wait_for_rows(tree, {STALE: label(STALE, record_name(s.file_records[UNDO_SOURCE])),
                           LATER: label(LATER, record_name(s.file_records[SOURCE]))},
                    f"slots {STALE:03d} and {LATER:03d} as they were before the restore")


@case("After all of it, a menu still opens with a click")
def menu(s):
    ui.click(ui.center(ui.find_one(s.main, "menu item", "File", what="the File menu title")))
    ui.find_one(s.app, "menu item", "Exit", what="the File menu open, showing Exit")


@case("File > Exit asks first, since the writes could still be undone; Yes ends the program "
      "cleanly")
def leave(s):
    ui.click(ui.center(ui.find_one(s.app, "menu item", "Exit")))
    ui.find_one(s.app, "label", lambda n: n.startswith("Ending the connection to the Karma"),
                what="the question before the Undo history goes")
    yes = ui.find_one(s.app, "push button", lambda n: n.replace("&", "") == "Yes",
                      what="the question's Yes button")
    ui.click(ui.center(yes))
    ui.wait_for("the program to end", lambda: s.rig.program.poll() is not None, timeout=60)
    status = s.rig.program.returncode
    if status != 0:
        raise Failure(f"bankquill ended with status {status}; its output:\n"
                      f"{tail(s.rig.log_of('bankquill'))}")


@case("The second instrument holds exactly what was written to it before the restore, which was "
      "undone, and nothing else changed")
def memory(s):
    after = stop_karma(s, s.args.memory_out)
    expected = bytearray(s.reference)
    for slot, record in ((STALE, s.file_records[UNDO_SOURCE]), (LATER, s.file_records[SOURCE])):
        start = _PROGRAMS + slot * RECORD
        expected[start:start + RECORD] = record
    if bytes(expected) != after:
        wrong = [f"A-{slot:03d}" for slot in range(SLOTS)
                 if combi_at(expected, 0, slot) != combi_at(after, 0, slot)]
        raise Failure(f"expected a new instrument's memory but for A-{STALE:03d} and "
                      f"A-{LATER:03d} written from the file; Combinations that differ: {wrong}")


def check_first_instrument(s):
    """The first instrument holds exactly what was written, and nothing else changed."""
    before = s.reference
    after = stop_karma(s, s.args.memory_out)
    expected = bytearray(before)

    def put(slot, record):
        start = _PROGRAMS + slot * RECORD
        expected[start:start + RECORD] = record

    put(SENT_TO, s.file_records[SOURCE])
    put(SWAP_TO, combi_at(before, 0, SWAP_FROM))
    put(SWAP_FROM, combi_at(before, 0, SWAP_TO))
    if bytes(expected) != after:
        wrong = [f"A-{slot:03d}" for slot in range(SLOTS)
                 if combi_at(expected, 0, slot) != combi_at(after, 0, slot)]
        bank_a = slice(_PROGRAMS, _PROGRAMS + SLOTS * RECORD)
        elsewhere = expected[:bank_a.start] != after[:bank_a.start] or \
            expected[bank_a.stop:] != after[bank_a.stop:]
        raise Failure(f"expected the memory as before but for A-{SENT_TO:03d} written from the "
                      f"file and A-{SWAP_TO:03d} and A-{SWAP_FROM:03d} swapped (A-{UNDONE:03d}, "
                      f"written and undone, as before); Combinations that differ from that: "
                      f"{wrong}"
                      + ("; the memory outside Combination bank A differs too" if elsewhere
                         else ""))


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
        for current, function in CASES:
            t = time.monotonic()
            if function is leave:
                ui.watch(None)  # the program ends here
            function(s)
            print(f"[ OK ] {current} ({time.monotonic() - t:.1f} s)", flush=True)
            done += 1
        return True
    except Exception as e:
        print(f"[FAIL] {current} ({time.monotonic() - t:.1f} s)", flush=True)
        print(str(e) if isinstance(e, Failure) else traceback.format_exc(), flush=True)
        report(s, shot)
        for title, _ in CASES[done + 1:]:
            print(f"[ -- ] not run: {title}")
        return False


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
