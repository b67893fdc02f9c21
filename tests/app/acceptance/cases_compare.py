"""Tools > Compare With Workstation: a PCG file's items marked by what the instrument holds."""

import ui
from cases_instrument import first_instrument_memory
from cases_programs import KEPT_SOURCE
from pcg import label, memory_records, pcg_records, played_programs, program_ref, record_name
from session import case
from ui import Failure

SAME = "On the instrument: the same sound in the same slot"
MISSING = "Not on the instrument"
NOWHERE = 0  # the file's Combination A-000, which the session wrote nowhere
_KINDS = {"CBK1": "Combination", "PBK1": "Program"}


def bank_list(banks):
    """'Combination Banks B, C and F, Program Bank C' of [(tag, bank)], as the question names
    them."""
    parts = []
    for tag, kind in _KINDS.items():
        letters = [("ABCDEF"[bank] + (" (MOSS)" if tag == "PBK1" and bank == 5 else ""))
                   for t, bank in banks if t == tag]
        if len(letters) == 1:
            parts.append(f"{kind} Bank {letters[0]}")
        elif letters:
            parts.append(f"{kind} Banks {', '.join(letters[:-1])} and {letters[-1]}")
    return ", ".join(parts)


def expected_marks(file, instrument):
    """{(tag, bank, slot): the text of its mark} for each item of the file, by the records of
    the file and of the instrument (all its banks downloaded)."""
    first_place = {}
    for key in sorted(instrument, key=lambda k: (k[0] != "CBK1", k[1], k[2])):
        first_place.setdefault(instrument[key], key)
    marks = {}
    for key, record in file.items():
        tag, bank, slot = key
        if instrument.get(key) == record:
            # Only Programs of one record size are compared: the file's 804-byte bank F says
            # nothing of the Karma's 416-byte MOSS Programs.
            differ = [] if tag == "PBK1" else [
                (b, n) for b, n in played_programs(record) if ("PBK1", b, n) in file and
                len(file[("PBK1", b, n)]) == len(instrument[("PBK1", b, n)]) and
                file[("PBK1", b, n)] != instrument[("PBK1", b, n)]]
            marks[key] = SAME if not differ else (
                "On the instrument: the same Combination in the same slot, but its Programs "
                "differ there: " + "; ".join(
                    f"{program_ref(b, n)} : {record_name(file[('PBK1', b, n)])}, on the Karma: "
                    f"{record_name(instrument[('PBK1', b, n)])}" for b, n in differ))
        elif record in first_place:
            t, b, n = first_place[record]
            marks[key] = f"On the instrument at {_KINDS[t]} {'ABCDEF'[b]} {n:03d}"
        else:
            marks[key] = MISSING
    return marks


@case("Tools > Compare With Workstation asks to download the banks the file holds that are not "
      "known, then marks each of its items: the same sound in the same slot, elsewhere on the "
      "Karma, or not on it; Tools > Clear Comparison takes the marks away")
def compare(s):
    file = pcg_records(s.args.pcg)
    marks = expected_marks(file, memory_records(first_instrument_memory(s)))
    # The Combination bank A and the Program banks downloaded so far in this connection.
    known = {("CBK1", 0)} | {("PBK1", bank) for bank, _ in
                             played_programs(s.file_records[(0, KEPT_SOURCE)])}
    missing = sorted({(tag, bank) for tag, bank, _ in file} - known)
    frame = s.file_frame()
    tree = s.bank_tree(frame)
    s.bring_forward(frame, frame.name)
    s.choose("Tools", "Compare With Workstation")
    # A bank's dump: 146,000 bytes of Combinations, 118,000 of Programs.
    size = sum(146 if tag == "CBK1" else 118 for tag, _ in missing)
    asked = (f"Comparing this file with the Workstation downloads {bank_list(missing)} from the "
             f"instrument ({size:,} KB, about ")
    window, text = s.question(asked, f"the question beginning {asked!r}")
    if not text.endswith("Do you want to download them now?"):
        raise Failure(f"expected the question to ask whether to download them now: {text!r}")
    s.answer("Yes", "the question's Yes button", window)

    # Two Combinations of bank A, and the first Program that the first write brought along,
    # whose bank is opened with the keys: the last row (Programs), then its first child.
    shown = {key: label(key[2], record_name(file[key])) for key in
             (("CBK1", 0, KEPT_SOURCE), ("CBK1", 0, NOWHERE),
              ("PBK1", 0, played_programs(s.file_records[(0, KEPT_SOURCE)])[0][1]))}
    expected = {text: marks[key] for key, text in shown.items()}
    if list(expected.values())[2] != SAME:
        raise Failure(f"expected the Program {list(shown)[2]} to be the same on the instrument")
    combinations = dict(list(expected.items())[:2])
    ui.wait_for(f"the file's rows described {combinations}",
                lambda: descriptions(tree, combinations) == combinations,
                seen=lambda _: descriptions(tree, combinations), timeout=60)
    ui.click(s.row_point(tree, "Bank A"))
    ui.press(s.main, "End", "Right", "Down", "Right")
    ui.wait_for(f"the rows described {expected}",
                lambda: descriptions(tree, expected) == expected,
                seen=lambda _: descriptions(tree, expected))
    # The legend counts each kind of mark.
    values = list(marks.values())
    counts = [f"the same sound in the same slot: {values.count(SAME):,}",
              "(the tip names them): "
              f"{sum(m.startswith('On the instrument: the same Combination') for m in values):,}",
              "(the tip says where): "
              f"{sum(m.startswith('On the instrument at ') for m in values):,}",
              f"not on the instrument: {values.count(MISSING):,}"]
    legend = ui.find_one(frame, "label", lambda n: n.startswith("Compared with the Workstation"),
                         what="the comparison's legend in the item pane")
    if not all(count in legend.name for count in counts):
        raise Failure(f"expected the legend to count {counts}; it reads {legend.name!r}")

    s.choose("Tools", "Clear Comparison")
    unmarked = dict.fromkeys(expected, "")
    ui.wait_for("the marks and the legend gone",
                lambda: descriptions(tree, unmarked) == unmarked and not ui.showing(legend),
                seen=lambda _: (descriptions(tree, unmarked), ui.showing(legend)))
    # The Program bank closed again, and the tree back at its top, as the next cases find it.
    ui.press(s.main, "Left", "Left", "Left", "Home")
    program = list(expected)[2]
    ui.wait_for(f"the Program row {program!r} hidden", lambda: not ui.row(tree, program))


def descriptions(tree, rows):
    """{name: description} of the tree's rows named in `rows`, read in one pass."""
    return {child.name: child.description for child in ui.children(tree) if child.name in rows}
