"""A Combination from a file plays the file's Programs: dropped onto the instrument, it is
written with them when the musician says so, and taken back with them."""

import ui
from cases_instrument import first_instrument_memory
from pcg import (SLOTS, combi_at, combi_place, generated, label, pcg_records, played_programs,
                 program_at, program_place, program_ref, record_name)
from session import WORKSTATION, case
from ui import Failure

# The file's Combination A-003, written with its Programs into the instrument's A-008 and kept
# (the instrument's A-010 holds it too, written alone); then the file's A-009, which plays
# Programs of the same banks, into its A-007, and undone.
KEPT_SOURCE, KEPT = 3, 8
WITH_SOURCE, WITH_UNDONE = 9, 7


def differing_programs(s, record, memory):
    """[(bank, slot, file's Program)] that the Combination plays, which the file holds and the
    memory holds differently."""
    records = pcg_records(s.args.pcg)
    return [(bank, slot, records[("PBK1", bank, slot)])
            for bank, slot in played_programs(record)
            if ("PBK1", bank, slot) in records
            and records[("PBK1", bank, slot)] != program_at(memory, bank, slot)]


def programs_question(name, differing, memory, target):
    """The question naming the Programs that differ and the instrument's other Combinations of
    bank A (the bank downloaded) that play them, as the window must ask it."""
    lines = [f"{program_ref(bank, slot)} : {record_name(program)}, on the Karma: "
             f"{record_name(program_at(memory, bank, slot))}" for bank, slot, program in differing]
    places = {(bank, slot) for bank, slot, _ in differing}
    users = [f"A {slot:03d} : {record_name(combi_at(memory, 0, slot))}" for slot in range(SLOTS)
             if slot != target and places & set(played_programs(combi_at(memory, 0, slot)))]
    listed = "\n".join(lines)
    if users:
        listed += ("\n\nThese Combinations on the Karma play those slots too, and would sound "
                   "different:\n" + "\n".join(users))
    return (f"'{name}' plays Programs that the Karma holds differently:\n{listed}\n\n"
            "Write the file's Programs into those slots too?")


def write_with_programs(s, trees, source_slot, target, download=None):
    """Drags the file's Combination onto the instrument's slot (`trees`: the file's and the
    Workstation's), says Yes to downloading the Program banks `download` names first when it is
    given, and answers the question naming its Programs with Write With Programs; returns what
    was written, [(place, record)]."""
    record = s.file_records[(0, source_slot)]
    name = record_name(record)
    memory = first_instrument_memory(s)
    differing = differing_programs(s, record, memory)
    if not differing:
        raise Failure(f"the file's A-{source_slot:03d} plays no Program that the Karma holds "
                      "differently")
    source_tree, target_tree = trees
    ui.drag(s.row_point(source_tree, label(source_slot, name)),
            s.row_point(target_tree, generated(target)))
    if download:
        window, _ = s.question(f"'{name}' plays Programs of {download}, which the Karma has not "
                               "sent since it was connected.",
                               f"the question whether to download {download}")
        s.answer("Yes", "the question's Yes button", window)
    expected = programs_question(name, differing, memory, target)
    window, text = s.question(f"'{name}' plays Programs that",
                              f"the question naming the Programs {name!r} plays")
    if text != expected:
        raise Failure(f"expected the question to read:\n{expected}\nit reads:\n{text}")
    answers = {"Write With Programs", "Combination Only", "Cancel"}
    buttons = ui.find_all(window, "push button")
    if not answers <= {b.name.replace("&", "") for b in buttons}:
        raise Failure(f"expected the question to offer {sorted(answers)}: {ui.describe(buttons)}")
    ui.click(ui.center(next(b for b in buttons if b.name == "Write With Programs")))
    s.wait_for_rows(target_tree, {target: label(target, name)},
                    f"slot {target:03d} of the Workstation window relabelled {name!r}")
    return [(program_place(bank, slot), program) for bank, slot, program in differing] + \
        [(combi_place(0, target), record)]


@case("A file Combination whose Programs differ on the Karma: after the Program banks are "
      "downloaded, the question names them, Write With Programs writes them with it, and one "
      "Ctrl+Z takes all of it back")
def with_programs(s):
    # The Program banks it plays are not known in this connection: Yes downloads them.
    banks = ", ".join(dict.fromkeys(f"Program Bank {'ABCDEF'[bank]}"
                                    for bank, _ in played_programs(
                                        s.file_records[(0, KEPT_SOURCE)])))
    trees = s.bank_tree(s.file_frame()), s.bank_tree(s.frame(WORKSTATION))
    s.kept += write_with_programs(s, trees, KEPT_SOURCE, KEPT, download=banks)
    # Its Programs' banks are known now: straight to the question; all three writes undone.
    write_with_programs(s, trees, WITH_SOURCE, WITH_UNDONE)
    ui.press(s.main, "ctrl+z")
    target_tree = trees[1]
    kept = record_name(s.file_records[(0, KEPT_SOURCE)])
    s.wait_for_rows(target_tree, {WITH_UNDONE: generated(WITH_UNDONE), KEPT: label(KEPT, kept)},
                    f"slot {WITH_UNDONE:03d} showing its own Combination again, and {KEPT:03d} "
                    "still what was written with its Programs")
    # The bytes are checked when the connection ends: all of the first write, none of the
    # second.
