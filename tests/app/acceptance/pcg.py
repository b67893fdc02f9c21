"""The bytes the acceptance tests check against: Karma PCG files and the virtual Karma's memory,
read and written here on their own, never through the program under test."""

import struct

from ui import Failure

RECORD = 996  # a Combination
PROGRAM = 804  # a Program of banks A to E
MOSS = 416  # a Program of bank F
SLOTS = 128
PROGRAMS = 5 * SLOTS * PROGRAM + SLOTS * MOSS  # Program banks A-E, then the MOSS bank F
MEMORY_SIZE = PROGRAMS + 6 * SLOTS * RECORD + RECORD
_CONTAINERS = {b"PCG1", b"PRG1", b"CMB1", b"DKT1", b"ARP1"}
# Timbre t of a Combination: the Program's slot and bank at 772 + 28 * (t - 1), the status in
# bits 5 to 7 of the byte after.
_TIMBRES = 772
_TIMBRE = 28


def pcg_records(path):
    """{(tag, bank, slot): record} of a Karma PCG file's Combination ("CBK1") and Program
    ("PBK1") banks."""
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


def write_pcg(path, combinations):
    """A Karma PCG file holding Combination bank A: `combinations` is its 128 records."""
    def chunk(tag, body):
        return tag + struct.pack(">I", len(body)) + body

    records = b"".join(combinations)
    bank = chunk(b"CBK1", struct.pack(">III", SLOTS, RECORD, 0) + records)
    root = chunk(b"PCG1", chunk(b"CMB1", bank))
    with open(path, "wb") as f:
        f.write(b"KORG" + bytes([0x5D, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0]) + root)


# ---- the instrument's memory: Program banks A to F, then Combination banks A to F ----

def combi_place(bank, slot):
    start = PROGRAMS + (bank * SLOTS + slot) * RECORD
    return slice(start, start + RECORD)


def program_place(bank, slot):
    if bank < 5:
        start = (bank * SLOTS + slot) * PROGRAM
        return slice(start, start + PROGRAM)
    start = 5 * SLOTS * PROGRAM + slot * MOSS
    return slice(start, start + MOSS)


def combi_at(memory, bank, slot):
    return memory[combi_place(bank, slot)]


def program_at(memory, bank, slot):
    return memory[program_place(bank, slot)]


def memory_records(memory):
    """{(tag, bank, slot): record} of a memory, named as pcg_records() names a file's."""
    records = {}
    for bank in range(6):
        for slot in range(SLOTS):
            records[("CBK1", bank, slot)] = combi_at(memory, bank, slot)
            records[("PBK1", bank, slot)] = program_at(memory, bank, slot)
    return records


# ---- what the records say ----

def record_name(record):
    return record[:16].decode("latin-1").rstrip(" ")


def label(slot, name):
    return f"{slot:03d} : {name}"


def generated(slot, bank="A"):
    """The label of a slot of the virtual Karma that nothing has written to."""
    return label(slot, f"Combi {bank}-{slot:03d}")


def program_ref(bank, slot):
    """A Program's place as the program names it: "A 012"."""
    return f"{'ABCDEF'[bank]} {slot:03d}"


def played_programs(record):
    """(bank, slot) of each Program of banks A to F that a Combination's Int (0) and Both (2)
    timbres play, in timbre order, each once."""
    played = []
    for t in range(8):
        slot, bank, status = record[_TIMBRES + _TIMBRE * t:_TIMBRES + _TIMBRE * t + 3]
        if status >> 5 in (0, 2) and bank < 6 and (bank, slot) not in played:
            played.append((bank, slot))
    return played
