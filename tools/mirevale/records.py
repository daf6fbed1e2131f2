"""The installer's log records that the main job, the benchmark and the tests look for in C:\\temp\\log.txt:
each a literal that the record's line contains, or a compiled pattern to search it with. The texts are
the installer's own, spelling included (sccuss, loacalCRC)."""

import re

# One line of the log: [level][year/month/day hour:minute:second: millisecond pid:tid]text
LINE = re.compile(r"^\[(\w+)\]\[(\d+)/(\d+)/(\d+) (\d+):(\d+):(\d+):\s*(\d+) [0-9a-f]+:[0-9a-f]+\](.*)$")

# The run's first download: the signed list's, or the manifest's when the installer has no key.
START_DOWNLOAD = " start download  "
MANIFEST_DOWNLOADED = "download orbsetup.txt sccuss"
PACKAGE_DOWNLOADED = re.compile(r"\[CSetupDlg::Execute\] download (\S+) sccuss filesize=(\d+)$")
# HttpDownload's last byte of a body, and a download stopped by the user (its size so far).
END_OF_BODY = "[HttpDownload  InternetReadFile]  end of body "
DOWNLOAD_STOPPED = re.compile(r"InternetReadFile\]\s+stopped size=(\d+)")
UNINSTALLER_URL = "UnInstall.exe-url"
CRC_LIST_URL = "filecrc.txt-url"
# One file of the check: its name, the CRC on disk and the listed one.
FILE_CRC = re.compile(r"\[CSetupDlg::CheckFileCRC\] (.+) loacalCRC=(\d+), netCRC=(\d+)$")
CRC_CHECKED = "loacalCRC="
CRC_FAILED = "CheckFileCRC failed"
REGISTRY = "[CSetupDlg::WriteRegistry]"
# The uninstall entry written: the run has completed unless a failure follows.
COMPLETED = "[CSetupDlg::WriteRegistry] UninstallString"

# The signed list: its signature with the number of files, the serial and the expiry; each file that
# matches it; the verdict on each file.
SIGNATURE_VALID = re.compile(
    r"\[CSetupDlg::CheckRelease\] release\.sha256 signature valid, (\d+) files listed, (.*) \(installed: \d+\), (.*)$")
FILE_MATCHES = re.compile(r"\[CSetupDlg::CheckRelease\] (.+) matches$")
VERDICT = re.compile(r"^\[CSetupDlg::CheckRelease\] (\S+) (matches|hash mismatch|size mismatch)")

# Records after which the worker has given up: the window then stays on its failure face.
FAILURES = tuple(re.compile(p) for p in (
    r"\[CSetupDlg::Execute\] CheckFileCRC failed",
    r"\[CSetupDlg::Execute\] download Setupconfig\.txt fail",
    r"\[CSetupDlg::Execute\] ?Setupconfig\.txt no content",
    r"\[CSetupDlg::Execute\] download \S+ failed$",
    r"\[CSetupDlg::Execute\] \S+ CreateFile\(",
    r"\[CSetupDlg::Execute\] \S+ path too long$",
    r"\[CSetupDlg::Execute\] \S+ name outside the temp folder$",
    r"\[CSetupDlg::Run\] CreateThread error",
    r"install stopped by an unexpected error",
    r"\[CSetupDlg::CheckRelease\] (\S+ not listed|(release\.sha256\S*|built-in key|orbsetup\.txt|UnInstall\.exe"
    r"|filecrc\.txt) (?!matches|signature valid))",
))


def has(lines, record):
    """True when a line holds the literal `record`."""
    return any(record in line for line in lines)


def failure(lines):
    """The first line that is a failure record, or None."""
    return next((line for line in lines if any(p.search(line) for p in FAILURES)), None)
