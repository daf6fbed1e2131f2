"""rename_font.py SOURCE INDEX TARGET FAMILY: writes font INDEX of the collection (or single font) SOURCE
to TARGET under the family name FAMILY, so a test machine can have a face it otherwise lacks.

Runs with Debian's own interpreter (/usr/bin/python3), for which python3-fonttools is installed."""

import sys

from fontTools.ttLib import TTCollection, TTFont

FAMILY_IDS = (1, 4, 16)  # family, full name, typographic family
POSTSCRIPT_IDS = (3, 6)  # unique id and PostScript name: ASCII, and unlike the source's


def main(source, index, target, family):
    if source.lower().endswith((".ttc", ".otc")):
        font = TTCollection(source, lazy=True).fonts[int(index)]
    else:
        font = TTFont(source, lazy=True)
    names = font["name"]
    ascii_name = "Renamed" + "".join(ch for ch in family.encode("unicode_escape").decode() if ch.isalnum())
    for record in list(names.names):
        if record.nameID not in FAMILY_IDS + POSTSCRIPT_IDS:
            continue
        if record.platformID != 3:
            names.removeNames(nameID=record.nameID, platformID=record.platformID)
            continue
        names.setName(family if record.nameID in FAMILY_IDS else ascii_name, record.nameID, record.platformID,
                      record.platEncID, record.langID)
    font.save(target)


if __name__ == "__main__":
    main(*sys.argv[1:])
