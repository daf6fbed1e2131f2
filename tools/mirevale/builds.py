"""Where the source and build trees are, and the installer built with a release's public key.

MIREVALE_WIDTH=i686 selects the 32-bit build: its programs run in the emulated runtime
(tests/wine-i686.sh), and what they write under HKLM\\Software lands in the 32-bit view, as on 64-bit
Windows."""

import os
import subprocess
from pathlib import Path

from mirevale import Unusable

SOURCE = Path(os.environ.get("MIREVALE_SOURCE", Path(__file__).resolve().parents[2]))
BUILD = Path(os.environ.get("MIREVALE_BUILD", SOURCE / "build" / "x86_64"))
TEMPLATE_PREFIX = Path(os.environ.get("MIREVALE_WINE_PREFIX", BUILD / "wineprefix"))
PUBLISHER = Path(os.environ.get("MIREVALE_PUBLISH", SOURCE / "build" / "native" / "mirevale-publish"))
WIDTH = os.environ.get("MIREVALE_WIDTH", "x86_64")
RUNNER = [str(SOURCE / "tests" / "wine-i686.sh")] if WIDTH == "i686" else []
SOFTWARE = r"SOFTWARE\Wow6432Node" if WIDTH == "i686" else "SOFTWARE"


def say(text=""):
    print(text, flush=True)


def cache_value(name, build=BUILD):
    """The value of a variable in a build tree's CMakeCache.txt, or None when it has none."""
    cache = Path(build) / "CMakeCache.txt"
    if not cache.is_file():
        raise Unusable("%s is missing: build first (scripts/build.sh)" % cache)
    for line in cache.read_text(errors="replace").splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1].strip()
    return None


def base_url_from_cache(build=BUILD):
    url = cache_value("MIREVALE_BASE_URL", build)
    if url is None:
        raise Unusable("MIREVALE_BASE_URL is not in %s" % (Path(build) / "CMakeCache.txt"))
    return url


def keyed_installer(key_hex, arch="x86_64", base_url=None, build=None, certificates=None, tsa_url=None):
    """Builds, for `arch`, the installer with the public key compiled in, the uninstaller and the sample
    client in `build` (by default build/main-job-<arch>; the test builds stay unsigned and keyless); with
    `certificates`, the installer and the uninstaller are Authenticode-signed by the build with the test
    certificate and a timestamp from `tsa_url`. Returns the installer."""
    build = build or SOURCE / "build" / ("main-job-" + arch)
    configure = ["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DMIREVALE_TESTS=OFF",
                 "-DCMAKE_TOOLCHAIN_FILE=%s" % (SOURCE / "cmake" / ("toolchain-%s.cmake" % arch)),
                 "-DMIREVALE_BASE_URL=" + (base_url or base_url_from_cache()), "-DMIREVALE_RELEASE_KEY=" + key_hex,
                 "-DMIREVALE_SIGN_CERT=%s" % (certificates["signer"] if certificates else ""),
                 "-DMIREVALE_SIGN_KEY=%s" % (certificates["signer_key"] if certificates else ""),
                 "-DMIREVALE_SIGN_TSA=" + (tsa_url or "")]
    say("building the installer with the release key, and the uninstaller%s, in %s"
        % (", signed" if certificates else "", build))
    targets = ["MirevaleSetup", "UnInstall", "sample_client"]
    for command in (configure, ["cmake", "--build", str(build), "--target"] + targets + ["-j", str(os.cpu_count())]):
        proc = subprocess.run(command, capture_output=True, text=True)
        if proc.returncode != 0:
            raise Unusable("%s failed:\n%s%s" % (" ".join(command), proc.stdout[-3000:], proc.stderr[-3000:]))
    return build / "MirevaleSetup.exe"
