"""Where every default name sits in the lookup's table of name slots.

Mirrors src/catalogue/name_key.hpp: the same key, the same hash in unsigned 64-bit arithmetic,
the same table size. The compiler checks every placement again against the C++ hash, so a
disagreement fails the build instead of losing a name.
"""

from __future__ import annotations

import struct

from checks import CatalogueError

KEY_TEXT_BYTES = 32
SLOT_BITS = 12
SLOT_COUNT = 1 << SLOT_BITS
MULTIPLIERS = (0x9E3779B97F4A7C15, 0xC2B2AE3D27D4EB4F, 0x165667B19E3779F9, 0xD6E8FEB86659FD93,
               0xFF51AFD7ED558CCD)
# A hit probes at most this many slots; a longer chain would make some names slow to find.
MAX_PROBES = 16
NO_ROW = 0xFFFF
MASK64 = (1 << 64) - 1


def home_slot(name: bytes) -> int:
    words = struct.unpack("<4Q", name[:KEY_TEXT_BYTES].ljust(KEY_TEXT_BYTES, b"\0"))
    words += (min(len(name), KEY_TEXT_BYTES + 1),)
    total = sum(w * m for w, m in zip(words, MULTIPLIERS)) & MASK64
    return total >> (64 - SLOT_BITS)


def place(names: list[tuple[str, str]]) -> list[int]:
    """Each slot's row number in the given order (NO_ROW where empty), by linear probing.

    names holds (label, name) in registry order; a fault names the label. Names that find
    their home slot free take it first, so as many names as possible are found at once.
    """
    if len(names) * 2 >= SLOT_COUNT:
        raise CatalogueError(f"{len(names)} default names fill half the {SLOT_COUNT} name slots "
                             "or more: raise SLOT_BITS here and kNameSlotBits in name_key.hpp")
    slots = [NO_ROW] * SLOT_COUNT
    homes = []
    for label, name in names:
        raw = name.encode()
        if len(raw) > KEY_TEXT_BYTES:
            raise CatalogueError(f"{label}: a default name has at most {KEY_TEXT_BYTES} bytes")
        homes.append(home_slot(raw))
    waiting = []
    for number, home in enumerate(homes):
        if slots[home] == NO_ROW:
            slots[home] = number
        else:
            waiting.append(number)
    for number in waiting:
        at = homes[number]
        for _ in range(MAX_PROBES - 1):
            at = (at + 1) % SLOT_COUNT
            if slots[at] == NO_ROW:
                slots[at] = number
                break
        else:
            raise CatalogueError(f"{names[number][0]}: no free name slot within {MAX_PROBES} of "
                                 f"its home slot {homes[number]}; change the hash multipliers")
    return slots
