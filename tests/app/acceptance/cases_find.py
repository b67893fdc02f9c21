"""The find bar: part of a name finds items in every open window."""

import ui
from cases_instrument import SOURCE
from cases_programs import KEPT_SOURCE
from pcg import SLOTS, label, pcg_records, played_programs, record_name
from session import WORKSTATION, case
from ui import Failure


def found_row(s):
    """A Combination of the file that only the file holds, found by part of its name."""
    taken = {record_name(s.file_records[SOURCE])}
    names = [record_name(s.file_records[(0, slot)]) for slot in range(SLOTS)]
    for slot, name in enumerate(names):
        if len(name) >= 4 and name not in taken and names.count(name) == 1 and slot != SOURCE[1]:
            return slot, name
    raise Failure("the file has no Combination with a name of its own in bank A")


def find_text(s, text):
    """Ctrl+F, `text` typed into the find field; the Find Results list."""
    ui.press(s.main, "ctrl+f")
    field = ui.find_one(s.main, "text", "Find", what="the find field")
    ui.wait_for("the find field to have the focus", lambda: ui.focused(field))
    ui.type_text(s.main, text)
    ui.wait_for(f"the find field to read {text!r}", lambda: ui.text(field) == text,
                seen=lambda _: ui.text(field))
    return ui.find_one(s.main, lambda r: r in ("tree", "tree table"), "Find Results",
                       what="the Find Results list")


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
    results = find_text(s, part)
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



@case("The find bar's option Combinations using it: ticked, a Program's name finds the "
      "Combinations that play it too; unticked, only the Program")
def find_users(s):
    # A Program of the file that the session wrote to the instrument as well.
    records = pcg_records(s.args.pcg)
    played = played_programs(s.file_records[(0, KEPT_SOURCE)])[0]
    program = record_name(records[("PBK1", *played)])
    users = sorted({record_name(record) for (tag, _, _), record in records.items()
                    if tag == "CBK1" and played in played_programs(record)})
    if not users or any(program.lower() in name.lower() for name in users):
        raise Failure(f"expected Combinations of the file playing {program!r}, none of them "
                      f"named with it: {users}")
    results = find_text(s, program)

    def shown(with_users):
        rows = set(ui.rows(results))
        return program in rows and all((user in rows) == with_users for user in users)

    def seen(_):
        return [r for r in ui.rows(results) if r == program or r in users]

    ui.wait_for(f"the Program {program!r} found alone", lambda: shown(False), seen=seen)
    option = ui.find_one(s.main, "check box", "Combinations using it",
                         what="the find bar's option Combinations using it")
    ui.click(ui.center(option))
    ui.wait_for(f"the option ticked, and {program!r} found with the Combinations {users}",
                lambda: ui.checked(option) and shown(True), seen=seen)
    # The option has the keyboard now: Space unticks it.
    ui.press(s.main, "space")
    ui.wait_for(f"the option unticked, and {program!r} found alone",
                lambda: not ui.checked(option) and shown(False), seen=seen)
    ui.press(s.main, "Escape")
    ui.wait_for("the find field gone", lambda: not ui.find_all(s.main, "text", "Find"))
