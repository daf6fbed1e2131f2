"""Native CRC-32 pass: reads every file named in a filecrc.txt whole and compares its zlib CRC-32, as the
installer's check does; prints the seconds it took, the file count and its peak resident bytes above those
at the start. Usage: crc_pass.py FILECRC_TXT INSTALL_FOLDER"""

import sys
import time
import zlib
from pathlib import Path


def status(key):
    """A memory figure of this process in bytes, from /proc/self/status (VmHWM starts afresh at exec,
    unlike ru_maxrss, which keeps the forking parent's size)."""
    for line in open("/proc/self/status"):
        if line.startswith(key + ":"):
            return int(line.split()[1]) * 1024
    return 0


def main():
    listing, folder = Path(sys.argv[1]), Path(sys.argv[2])
    lines = [line for line in listing.read_bytes()[2:].decode("utf-16-le").split("\r\n") if line]
    base = status("VmRSS")
    start = time.perf_counter()
    for line in lines:
        name, crc = line.split(";")
        data = (folder / name.replace("\\", "/")).read_bytes()
        if zlib.crc32(data) != int(crc):
            print("mismatch: %s" % name, file=sys.stderr)
            return 1
    seconds = time.perf_counter() - start
    print("%.6f %d %d" % (seconds, len(lines), status("VmHWM") - base))
    return 0


if __name__ == "__main__":
    sys.exit(main())
