"""The cases about files: opening one, what its items show, and restoring the instrument from
one; and the end of the program."""

import os
import shutil

import ui
from cases_instrument import LATER, SOURCE, STALE, UNDO_SOURCE
from pcg import (SLOTS, combi_at, generated, label, pcg_records, played_programs, program_ref,
                 record_name, write_pcg)
from session import WORKSTATION, case, tail
from ui import Failure


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
    expected = [f"{program_ref(bank, program)} : {record_name(records[('PBK1', bank, program)])}"
                for bank, program in played_programs(record)
                if ("PBK1", bank, program) in records]
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

