"""What a Wine prefix holds, read from the Linux side: host paths of Windows paths, the registry files
(system.reg, user.reg), profile (INI) files, shell links, the installation and the installer's UTF-16 log."""

import configparser
import datetime
import re
import zlib
from pathlib import Path

from mirevale.builds import SOFTWARE
from mirevale.records import LINE

LOG = r"C:\temp\log.txt"
UNINSTALL_LOG = r"C:\temp\uninstall.txt"
SETUP = r"C:\Larkspire"
# The installer's entry, in the registry view of its width, and its section in system.reg.
UNINSTALL_KEY = r"HKLM\%s\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Client" % SOFTWARE
UNINSTALL_REG_SECTION = UNINSTALL_KEY.split("\\", 1)[1].replace("\\", "\\\\")
PROGRAMS = Path("ProgramData/Microsoft/Windows/Start Menu/Programs")


def c_drive(prefix):
    return Path(prefix) / "drive_c"


def host_path(prefix, windows_path):
    """The Linux path of C:\\... inside a prefix."""
    drive, rest = windows_path.split(":", 1)
    assert drive.upper() == "C", windows_path
    return c_drive(prefix).joinpath(*[p for p in re.split(r"[\\/]", rest) if p])


def windows_path(path):
    """The path of a Linux file as Windows programs under Wine see it (drive Z: is the root)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def file_crc(path):
    return zlib.crc32(Path(path).read_bytes()) & 0xFFFFFFFF


def installed_files(prefix):
    """The files under C:\\Larkspire, as relative Windows paths in sorted order."""
    setup = host_path(prefix, SETUP)
    files = sorted(p for p in setup.rglob("*") if p.is_file()) if setup.is_dir() else []
    return [str(p.relative_to(setup)).replace("/", "\\") for p in files]


def read_profile(path):
    """A Windows profile (INI) file as a ConfigParser with case kept; UTF-16 with BOM or code page 936."""
    data = Path(path).read_bytes()
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        text = data.decode("utf-16")
    else:
        text = data.decode("gbk", "replace")
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read_string(text)
    return parser


def unescape_reg(text):
    """A name or string of a .reg file as it was written: backslash escapes, \\xNNNN for what is not ASCII."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def reg_file_key(reg_file, section):
    """The values of one key of a flushed system.reg/user.reg: {name: (kind, value)}, or None if absent.
    kind is "sz" for REG_SZ ("..."), otherwise the raw type tag (dword, hex(2), ...)."""
    lines = Path(reg_file).read_text(encoding="utf-8", errors="replace").splitlines()
    header = "[" + section.lower() + "]"
    values = None
    for line in lines:
        if values is None:
            if line.lower().startswith(header):
                values = {}
            continue
        if not line.strip() or line.startswith("["):
            break
        m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not m:
            continue
        name, raw = unescape_reg(m.group(1)), m.group(2)
        if raw.startswith('"') and raw.endswith('"'):
            values[name] = ("sz", unescape_reg(raw[1:-1]))
        else:
            kind, _, value = raw.partition(":")
            values[name] = (kind, value)
    return values


def shortcut_paths(prefix, public=False):
    """The three shortcuts the installer makes: desktop (public: the all-users one, where an unattended
    run puts it), Start-menu client, Start-menu uninstaller."""
    users = c_drive(prefix) / "users"
    desktop = [p / "Desktop" / "Mirevale.lnk" for p in sorted(users.iterdir()) if (p.name == "Public") == public]
    programs = c_drive(prefix) / PROGRAMS / "Mirevale"
    return {
        "%sdesktop Mirevale.lnk" % ("public " if public else ""):
            desktop[0] if desktop else users / "?" / "Desktop" / "Mirevale.lnk",
        "Start menu Mirevale\\Mirevale.lnk": programs / "Mirevale.lnk",
        "Start menu Mirevale\\卸载Mirevale.lnk": programs / "卸载Mirevale.lnk",
    }


def is_shell_link(path):
    head = Path(path).read_bytes()[:20] if Path(path).is_file() else b""
    return head == bytes.fromhex("4c000000" "0114020000000000c000000000000046")


# ---------------------------------------------------------------------------------------------------
# The installer's and the uninstaller's logs: UTF-16LE without a byte-order mark, CR LF after each record.

def decode_log(data):
    """The lines of a UTF-16LE log, without their CR LF."""
    return data.decode("utf-16-le").split("\r\n")[:-1] if data else []


def read_log(prefix, log=LOG):
    """The lines of a log in the prefix so far; none when it is not there yet."""
    try:
        return decode_log(host_path(prefix, log).read_bytes())
    except (OSError, UnicodeDecodeError):
        return []


def log_texts(prefix, log=LOG):
    """The texts of a log's records, level and time left out."""
    return [line.split("]", 2)[2] for line in read_log(prefix, log) if line.count("]") >= 2]


def timed_records(path):
    """[(wall time in Unix seconds, level, text)] of the records of a log file."""
    out = []
    for line in Path(path).read_bytes().decode("utf-16-le").split("\r\n"):
        m = LINE.match(line)
        if m:
            y, mo, d, h, mi, s, ms = (int(g) for g in m.groups()[1:8])
            t = datetime.datetime(y, mo, d, h, mi, s, ms * 1000).timestamp()
            out.append((t, m.group(1), m.group(9)))
    return out
