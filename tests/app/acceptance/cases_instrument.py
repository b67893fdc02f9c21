"""The cases at the instrument itself: connecting, downloading, writes and swaps, Undo, closing
the connection, and a second Karma answering afterwards."""

import time

import ui
from pcg import (PROGRAMS, RECORD, SLOTS, combi_at, combi_place, generated, label, program_at,
                 record_name)
from session import (CONNECTED, EARLIER, WORKSTATION, case, decline_program_download,
                     stop_karma)
from ui import Failure

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


@case("The second instrument holds exactly what was written to it before the restore, which was "
      "undone, and nothing else changed")
def memory(s):
    after = stop_karma(s, s.args.memory_out)
    expected = bytearray(s.reference)
    for slot, record in ((STALE, s.file_records[UNDO_SOURCE]), (LATER, s.file_records[SOURCE])):
        expected[combi_place(0, slot)] = record
    if bytes(expected) != after:
        wrong = [f"A-{slot:03d}" for slot in range(SLOTS)
                 if combi_at(expected, 0, slot) != combi_at(after, 0, slot)]
        raise Failure(f"expected a new instrument's memory but for A-{STALE:03d} and "
                      f"A-{LATER:03d} written from the file; Combinations that differ: {wrong}")


def first_instrument_memory(s):
    """What the first instrument holds after the writes of the session that it keeps."""
    before = s.reference
    expected = bytearray(before)
    expected[combi_place(0, SENT_TO)] = s.file_records[SOURCE]
    expected[combi_place(0, SWAP_TO)] = combi_at(before, 0, SWAP_FROM)
    expected[combi_place(0, SWAP_FROM)] = combi_at(before, 0, SWAP_TO)
    for place, record in s.kept:
        expected[place] = record
    return bytes(expected)


def check_first_instrument(s):
    """The first instrument holds exactly what was written, and nothing else changed."""
    after = stop_karma(s, s.args.memory_out)
    expected = first_instrument_memory(s)
    if expected != after:
        wrong = [f"A-{slot:03d}" for slot in range(SLOTS)
                 if combi_at(expected, 0, slot) != combi_at(after, 0, slot)]
        bank_a = slice(PROGRAMS, PROGRAMS + SLOTS * RECORD)
        elsewhere = expected[:bank_a.start] != after[:bank_a.start] or \
            expected[bank_a.stop:] != after[bank_a.stop:]
        programs = [f"{'ABCDEF'[bank]}-{slot:03d}" for bank in range(6) for slot in range(SLOTS)
                    if program_at(expected, bank, slot) != program_at(after, bank, slot)]
        raise Failure(f"expected the memory as before but for A-{SENT_TO:03d} written from the "
                      f"file and A-{SWAP_TO:03d} and A-{SWAP_FROM:03d} swapped (A-{UNDONE:03d}, "
                      f"written and undone, as before), and {len(s.kept)} records written with "
                      f"their Programs; Combinations that differ from that: {wrong}"
                      + (f"; Programs that differ: {programs}" if programs else "")
                      + ("; the memory outside Combination bank A differs too" if elsewhere
                         else ""))
