"""Install throughput and memory of the installer under Wine against native tools, on one machine in one
run (started by bench/run.sh, which provides the X display and the builds).

1. Generates the content from a seed into build/bench/content and publishes it with the release
   publisher into build/bench/release.
2. Serves it with nginx on loopback and measures, repetitions interleaved with their native counterpart:
   - the complete installation through the window (click to client start) against the sum of native
     steps on the same release: curl for each file, Info-ZIP unzip for each package, zlib CRC-32 of
     every installed file;
   - each stage alone: HttpDownload of the largest package against curl, CSetupDlg::UnZip of it against
     unzip, CSetupDlg::CheckFileCRC over the installed release against a native CRC-32 pass;
   - the installer's peak working set above its idle working set against the largest package;
   - the same installation by an installer built with the release's key (the release is also signed)
     against the one without, and the CNG SHA-256 of the largest package against openssl natively.
3. Prints the table and writes it to bench/RESULTS.md."""

import argparse
import contextlib
import datetime
import json
import os
import platform
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time
from pathlib import Path

import release as rel
from mirevale import records as rec
from mirevale import serve, wine, xdo
from mirevale.builds import cache_value, keyed_installer
from mirevale.records import END_OF_BODY, VERDICT
from mirevale.release import publish, publisher_key
from mirevale.winefiles import timed_records, windows_path

HERE = Path(__file__).resolve().parent
TOP = HERE.parent

BUILD = TOP / "build" / "x86_64"
WORK = TOP / "build" / "bench"
INSTALLER = BUILD / "bench" / "MirevaleSetup.exe"
BENCH_EXE = BUILD / "bench" / "mirevale_bench.exe"
INSTALL_BUTTON = (270, 311)         # middle of the install button, client (182,290)-(359,332), window at (0,0)
MiB = 1024.0 * 1024.0
KEPT_SECTIONS = "\n<!-- section of "


def log(msg):
    print("[bench %s] %s" % (time.strftime("%H:%M:%S"), msg), flush=True)


def loadavg():
    return open("/proc/loadavg").read().split()[0]


def bench_base_url():
    """The base URL compiled into bench/MirevaleSetup.exe (bench/CMakeLists.txt)."""
    return cache_value("MIREVALE_BENCH_BASE_URL", BUILD) or "http://127.0.0.1:28490/EX/"


# ---------------------------------------------------------------------------------------------------
# Peers and processes


class Nginx:
    """nginx serving `root` at /EX/ on a fixed port, logging when each request ended and how long it took."""

    def __init__(self, root, port):
        self.work = WORK / "nginx"
        shutil.rmtree(self.work, ignore_errors=True)
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                raise SystemExit("port %d is taken: the benchmark's installer has it compiled in "
                                 "(-DMIREVALE_BENCH_BASE_URL=... to choose another)" % port)
        self.proc = serve.start_nginx(root, port, self.work, request_times=True)
        serve.wait_for_port(port, proc=self.proc)

    def requests(self, since, until):
        """(start, seconds, status, bytes, uri) of requests that ended within [since, until]."""
        return serve.timed_requests(self.work / "access.log", since, until)

    def stop(self):
        serve.stop_process(self.proc)


def run_native(args, **kwargs):
    """Runs a native program; returns (wall seconds, exit code, stdout). Fails on a non-zero exit."""
    start = time.perf_counter()
    proc = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (args[0], proc.returncode, proc.stderr.decode(errors="replace")))
    return seconds, proc.returncode, proc.stdout.decode()


def native_peak(args):
    """Peak resident bytes of a native program, from its VmHWM sampled while it runs (not timed)."""
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, proc_status(proc.pid).get("VmHWM", 0))
        time.sleep(0.002)
    return peak


def proc_status(pid):
    values = {}
    try:
        for line in open("/proc/%d/status" % pid):
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                values[key] = int(rest.split()[0]) * 1024
    except OSError:
        pass
    return values


def start_time(pid):
    """Wall-clock time at which process `pid` was created (10 ms resolution)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    started = int(fields[19]) / os.sysconf("SC_CLK_TCK")
    return time.time() - (time.clock_gettime(time.CLOCK_BOOTTIME) - started)


# ---------------------------------------------------------------------------------------------------
# The installer's log


def verdict_delays(records):
    """{name: seconds from the record of its body's last byte to the signed list's verdict on it}."""
    delays, end = {}, None
    for t, _, text in records:
        if text.startswith(END_OF_BODY):
            end = t
            continue
        m = VERDICT.match(text)
        if m and end is not None:
            delays[m.group(1)] = t - end
            end = None
    return delays


@contextlib.contextmanager
def cores_kept_busy(busy=True):
    """A spinner on every core, scheduled only when nothing else wants the core (SCHED_IDLE), while the
    block runs: no core goes idle, so a waiting thread is never woken from idle (see the report)."""
    spinners = [subprocess.Popen(["chrt", "--idle", "0", "sh", "-c", "while :; do :; done"])
                for _ in range(os.cpu_count() if busy else 0)]
    try:
        yield
    finally:
        for spinner in spinners:
            spinner.kill()
            spinner.wait()


def first(records, text):
    return next((t for t, _, r in records if text in r), None)


def last(records, text):
    return next((t for t, _, r in reversed(records) if text in r), None)


# ---------------------------------------------------------------------------------------------------
# Measurements


class Bench:
    def __init__(self, args):
        self.args = args
        self.base_url = bench_base_url()
        self.port = int(re.match(r"http://[^:/]+:(\d+)/", self.base_url).group(1))
        self.prefix = WORK / "prefix"
        self.release = WORK / "release"
        self.loads = [("start", loadavg())]

    # -- setup ------------------------------------------------------------------------------------
    def publish(self):
        t = time.perf_counter()
        packages = rel.generate(WORK / "content", self.args.seed)
        gen = time.perf_counter() - t
        description = WORK / "release.txt"
        rel.describe(packages, description, BUILD / "sample", TOP / "sample" / "files" / "favicon.ico")
        t = time.perf_counter()
        self.key, self.key_hex = publisher_key(WORK / "release-key.pem")
        publish(description, self.release, self.key)
        self.publish_seconds = time.perf_counter() - t
        self.names = rel.manifest(self.release)
        self.crcs = rel.crc_list(self.release)
        self.uncompressed = sum(size for _, size in self.installed_sizes())
        self.archive_sizes = {n: (self.release / n).stat().st_size for n in self.names}
        self.largest = max(self.names, key=lambda n: self.archive_sizes[n])
        self.largest_uncompressed = sum(p.stat().st_size for p in (WORK / "content" / self.largest[:-4]).rglob("*")
                                        if p.is_file())
        log("content %.1f s (cached when the seed is unchanged), published in %.1f s: %d packages, %.0f MiB "
            "uncompressed, %.0f MiB of archives, largest %s %.1f MiB"
            % (gen, self.publish_seconds, len(self.names), self.uncompressed / MiB,
               sum(self.archive_sizes.values()) / MiB, self.largest, self.archive_sizes[self.largest] / MiB))

    def installed_sizes(self):
        """(path, bytes) of every file the release installs (the content, the client and its icon)."""
        out = [(p, p.stat().st_size) for p in (WORK / "content").rglob("*") if p.is_file() and p.name != ".stamp"]
        for extra in (BUILD / "sample" / "iQorRemote.exe", TOP / "sample" / "files" / "favicon.ico"):
            out.append((extra, extra.stat().st_size))
        return out

    def make_prefix(self):
        if not (self.prefix / ".ready").exists():
            shutil.rmtree(self.prefix, ignore_errors=True)
            shutil.rmtree(str(self.prefix) + ".home", ignore_errors=True)
            wine.copy_prefix(self.prefix)
        # One persistent wineserver for the whole run, ended at the close.
        subprocess.run(["wineserver", "-p"], env=wine.environment(self.prefix), check=True)

    def wine_env(self):
        return wine.environment(self.prefix, {"MIREVALE_BENCH_BASE_URL": self.base_url})

    # -- the complete installation ----------------------------------------------------------------
    def install_once(self, installer=INSTALLER):
        """One installation through the window. Returns a dict of times (s) and memory (bytes)."""
        log_path = self.prefix / "drive_c" / "temp" / "log.txt"
        # A first installation each time, as the native steps make: no earlier install folder to remove.
        shutil.rmtree(self.prefix / "drive_c" / "Larkspire", ignore_errors=True)
        os.sync()
        proc = subprocess.Popen(["wine", str(installer)], env=self.wine_env(),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            window = None
            deadline = time.monotonic() + 60
            while window is None and time.monotonic() < deadline and proc.poll() is None:
                for w in xdo.run("search", "--onlyvisible", "--pid", proc.pid).stdout.split():
                    geo = xdo.run("getwindowgeometry", "--shell", w).stdout
                    if "WIDTH=530" in geo and "HEIGHT=360" in geo:
                        window = w
                time.sleep(0.2)
            if window is None:
                raise RuntimeError("the installer window did not appear")
            time.sleep(1.5)                       # let the ready state settle: this is the idle working set
            idle = proc_status(proc.pid)
            xdo.run("mousemove", *INSTALL_BUTTON)
            time.sleep(0.3)
            t_click = time.time()
            xdo.run("click", 1)
            hwm = idle.get("VmHWM", 0)
            client = t_gone = None
            deadline = time.monotonic() + 400
            tick = 0
            while time.monotonic() < deadline:
                alive = proc.poll() is None
                if alive and tick % 5 == 0:
                    hwm = max(hwm, proc_status(proc.pid).get("VmHWM", 0))
                if client is None and (tick % 5 == 0 or not alive):
                    pids = wine.processes(self.prefix, "iQorRemote.exe")
                    if pids:
                        client = min(pids)
                        t_client = start_time(client)
                if not alive and (client is not None or t_gone is not None and time.monotonic() > t_gone + 5):
                    break
                if not alive and t_gone is None:
                    t_gone = time.monotonic()
                time.sleep(0.02)
                tick += 1
            t_exit = time.time()
            if client is None:
                raise RuntimeError("the client did not start; see %s" % log_path)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        records = timed_records(log_path)
        errors = [r for _, level, r in records if level == "Error"]
        if errors:
            raise RuntimeError("the installation logged errors: %s" % errors[:3])
        os.kill(client, signal.SIGTERM)           # the client this installation started
        for _ in range(100):
            if not os.path.exists("/proc/%d" % client):
                break
            time.sleep(0.05)
        t_start = first(records, rec.START_DOWNLOAD)
        t_manifest = first(records, rec.MANIFEST_DOWNLOADED)
        t_uninstall = first(records, rec.UNINSTALLER_URL)
        t_crc = first(records, rec.CRC_LIST_URL)
        t_crc_end = last(records, rec.CRC_CHECKED)
        t_registry = last(records, rec.REGISTRY) or records[-1][0]
        delays = verdict_delays(records)
        zips = [r for r in self.server.requests(t_click - 1, t_exit + 1) if r[4].endswith(".zip")]
        big = [r for r in zips if r[4].endswith("/" + self.largest)]
        download = sum(r[1] for r in zips)
        return {
            "total": t_client - t_click,
            "click_to_first_record": t_start - t_click,
            "manifest": t_manifest - t_click,
            "packages": t_uninstall - t_manifest,
            "package_download": download,
            "package_extract": (t_uninstall - t_manifest) - download,
            "big_download": big[0][1] if big else float("nan"),
            "uninstaller": t_crc - t_uninstall,
            "crc": t_crc_end - t_crc,
            "completion": t_registry - t_crc_end,
            "launch": t_client - t_registry,
            "idle_ws": idle.get("VmRSS", 0),
            "peak_ws": hwm,
            "records": len(records),
            "verdict_big": delays.get(self.largest, float("nan")),
            "verdict_max": max(delays.values(), default=float("nan")),
        }

    def native_install_once(self):
        """The same release installed by native tools, step for step in the installer's order: curl each
        file into a temporary folder, unzip each package into the install folder and delete it, then the
        CRC-32 of every listed file. Every step is a process of its own, timed by wall clock."""
        work = WORK / "native-install"
        shutil.rmtree(work, ignore_errors=True)
        temp, dest = work / "temp", work / "Larkspire"
        temp.mkdir(parents=True)
        dest.mkdir()
        times = {"download": 0.0, "extract": 0.0, "crc": 0.0, "big_download": 0.0}

        def curl(name, out):
            seconds, _, _ = run_native(["curl", "-s", "-f", "-o", str(out), self.base_url + name])
            times["download"] += seconds
            return seconds

        t0 = time.perf_counter()
        curl("orbsetup.txt", temp / "orbsetup.txt")
        for name in self.names:
            seconds = curl(name, temp / name)
            if name == self.largest:
                times["big_download"] = seconds
            times["extract"] += run_native(["unzip", "-q", "-o", str(temp / name), "-d", str(dest)])[0]
            (temp / name).unlink()
        curl("UnInstall.exe", dest / "UnInstall.exe")
        curl("filecrc.txt", temp / "filecrc.txt")
        times["crc"] += run_native([sys.executable, str(HERE / "crc_pass.py"), str(temp / "filecrc.txt"),
                                    str(dest)])[0]
        times["total"] = time.perf_counter() - t0
        return times

    def signed_installs(self):
        """Installations by the installer with and without the release's key, in turn: as they come, and with
        every core kept busy by a lowest-priority spinner; and the CNG SHA-256 of the largest package
        in-process against openssl natively."""
        signed_installer = keyed_installer(self.key_hex, base_url=self.base_url, build=TOP / "build" / "bench-signed")
        out = {}
        for condition in ("plain", "awake"):
            pairs = []
            with cores_kept_busy(condition == "awake"):
                for i in range(self.args.signed_reps):
                    pairs.append((self.install_once(), self.install_once(signed_installer)))
                    log("installation %d without / with the release key (%s): %.2f s / %.2f s"
                        % (i + 1, condition, pairs[-1][0]["total"], pairs[-1][1]["total"]))
            out[condition] = {"unsigned": [p[0]["total"] for p in pairs], "signed": [p[1]["total"] for p in pairs],
                              "verdict_big": [p[1]["verdict_big"] for p in pairs],
                              "verdict_max": [p[1]["verdict_max"] for p in pairs]}
        archive = self.release / self.largest
        out["hashed"] = self.wine_stage(self.args.reps, "sha256", windows_path(archive), 1)[0]
        out["native"] = [run_native(["openssl", "dgst", "-sha256", str(archive)])[0] for _ in range(self.args.reps)]
        return out

    # -- stages alone ------------------------------------------------------------------------------
    def bench_exe(self, *args):
        """Runs mirevale_bench.exe once; returns its JSON records."""
        proc = subprocess.run(["wine", str(BENCH_EXE)] + [str(a) for a in args], env=self.wine_env(),
                              capture_output=True, timeout=600)
        records = [json.loads(line) for line in proc.stdout.decode(errors="replace").splitlines()
                   if line.startswith("{")]
        if proc.returncode != 0 or not records or not all(r["ok"] for r in records):
            raise RuntimeError("mirevale_bench.exe %s failed (%d): %s %s" % (
                args[0], proc.returncode, proc.stdout.decode(errors="replace")[-500:],
                proc.stderr.decode(errors="replace")[-500:]))
        return records

    def wine_stage(self, reps, *args):
        """`reps` runs of one stage of mirevale_bench.exe, each in a new process:
        (seconds, peak working set above idle, records)."""
        seconds, memory, records = [], [], []
        for _ in range(reps):
            os.sync()
            r = self.bench_exe(*args)[0]
            seconds.append(r["seconds"])
            memory.append(r["peak_after"] - r["ws_before"])
            records.append(r)
        return seconds, memory, records

    def stage_download(self):
        """HttpDownload, WinINet's read loop alone (5120-byte and 64 KiB reads) and curl, in turn, each time."""
        url = self.base_url + self.largest
        wine_t, wine_mem, ww_t, wb_t, curl_t = [], [], [], [], []
        slack = set()
        for _ in range(self.args.reps):
            t, m, r = self.wine_stage(1, "download", url, 1)
            wine_t += t
            wine_mem += m
            slack.add(r[0]["capacity"] - r[0]["bytes"])
            ww_t += self.wine_stage(1, "wininet-ready", url, 1, 5120)[0]
            wb_t += self.wine_stage(1, "wininet-ready", url, 1, 65536)[0]
            os.sync()
            _, _, out = run_native(["curl", "-s", "-f", "-o", "/dev/null", "-w", "%{time_total}", url])
            curl_t.append(float(out))
        self.download_slack = sorted(slack)
        self.wininet = (ww_t, wb_t)
        with cores_kept_busy():
            self.download_awake = self.wine_stage(self.args.reps, "download", url, 1)[0]
        curl_mem = [native_peak(["curl", "-s", "-f", "-o", "/dev/null", url])]
        return wine_t, curl_t, wine_mem, curl_mem

    def stage_unzip(self):
        archive = self.release / self.largest
        wine_dest = self.prefix / "drive_c" / "bench-unzip"
        native_dest = WORK / "native-unzip"
        wine_t, wine_mem, nat_t = [], [], []
        for _ in range(self.args.reps):
            shutil.rmtree(wine_dest, ignore_errors=True)
            t, m, _ = self.wine_stage(1, "unzip", windows_path(archive), "C:\\bench-unzip", 1)
            wine_t += t
            wine_mem += m
            shutil.rmtree(native_dest, ignore_errors=True)
            os.sync()
            s, _, _ = run_native(["unzip", "-q", "-o", str(archive), "-d", str(native_dest)])
            nat_t.append(s)
        shutil.rmtree(native_dest, ignore_errors=True)
        nat_mem = [native_peak(["unzip", "-q", "-o", str(archive), "-d", str(native_dest)])]
        shutil.rmtree(wine_dest, ignore_errors=True)
        shutil.rmtree(native_dest, ignore_errors=True)
        return wine_t, nat_t, wine_mem, nat_mem

    def native_crc(self):
        _, _, out = run_native([sys.executable, str(HERE / "crc_pass.py"), str(self.release / "filecrc.txt"),
                                str(self.prefix / "drive_c" / "Larkspire")])
        seconds, _, peak = out.split()
        return float(seconds), int(peak)

    def stage_crc(self):
        """CheckFileCRC, the Win32 reads and crc32 alone, and the native pass, in turn, each time."""
        listing = windows_path(self.release / "filecrc.txt")
        wine_t, wine_mem, plain_t, nat_t, nat_mem = [], [], [], [], []
        for _ in range(self.args.crc_reps):
            t, m, _ = self.wine_stage(1, "crc", "C:\\Larkspire", 1)
            wine_t += t
            wine_mem += m
            plain_t += self.wine_stage(1, "crc-plain", listing, "C:\\Larkspire", 1)[0]
            os.sync()
            s, peak = self.native_crc()
            nat_t.append(s)
            nat_mem.append(peak)
        self.crc_plain = plain_t
        return wine_t, nat_t, wine_mem, nat_mem

    def extras(self):
        """One run each (unless --no-extras): the download without the reservation, and the CRC reads with the
        whole block zero-filled before each file."""
        if not self.args.extras:
            return {}
        url = self.base_url + self.largest
        listing = windows_path(self.release / "filecrc.txt")
        return {"stepwise": self.wine_stage(1, "wininet-stepwise", url, 1, 5120)[0],
                "crc_zeroed": self.wine_stage(1, "crc-plain-zeroed", listing, "C:\\Larkspire", 1)[0]}

    def zeroed_bytes(self, start_block):
        """Bytes GetFileCRC zero-fills over the whole check: the whole block before every listed file, the
        block growing to a file's length + 10 when the file is larger."""
        sizes = {}
        root = self.prefix / "drive_c" / "Larkspire"
        block, total = start_block, 0
        for name, _ in self.crcs:
            size = sizes.setdefault(name, (root / name).stat().st_size)
            if size > block:
                block = size + 10
            total += block
        return total

    # -- the run -----------------------------------------------------------------------------------
    def run(self):
        started = datetime.datetime.now()
        t_run = time.perf_counter()
        self.publish()
        self.server = Nginx(self.release, self.port)
        try:
            self.make_prefix()
            installs, natives = [], []
            for i in range(self.args.install_reps):
                installs.append(self.install_once())
                log("installation %d: %.2f s (click to client start), peak working set %+.0f MiB over idle"
                    % (i + 1, installs[-1]["total"], (installs[-1]["peak_ws"] - installs[-1]["idle_ws"]) / MiB))
                natives.append(self.native_install_once())
                log("native steps %d: %.2f s" % (i + 1, natives[-1]["total"]))
            signed = self.signed_installs()
            self.loads.append(("after the installations", loadavg()))
            dl = self.stage_download()
            log("download of %s: HttpDownload %s, curl %s" % (self.largest, fmt_list(dl[0]), fmt_list(dl[1])))
            uz = self.stage_unzip()
            log("extraction of %s: UnZip %s, unzip %s" % (self.largest, fmt_list(uz[0]), fmt_list(uz[1])))
            cr = self.stage_crc()
            log("CRC check of %d files: CheckFileCRC %s, native %s"
                % (len(self.crcs), fmt_list(cr[0]), fmt_list(cr[1])))
            log("WinINet alone: 5120-byte reads %s, 64 KiB reads %s; Win32 reads and crc32 alone %s"
                % (fmt_list(self.wininet[0]), fmt_list(self.wininet[1]), fmt_list(self.crc_plain)))
            alone = self.extras()
            if alone:
                log("extras: %s" % ", ".join("%s %s" % (k, fmt_list(v)) for k, v in alone.items()))
            self.loads.append(("end", loadavg()))
        finally:
            self.server.stop()
            subprocess.run(["wineserver", "-k"], env=wine.environment(self.prefix), capture_output=True)
        elapsed = time.perf_counter() - t_run
        report = self.report(started, elapsed, installs, natives, dl, uz, cr, alone, signed)
        print()
        print(report)
        if not self.args.no_results:
            # Sections that other benchmark scripts add at the end (bench/resume.py) stay.
            results = HERE / "RESULTS.md"
            kept = results.read_text().partition(KEPT_SECTIONS)[1:] if results.exists() else ()
            results.write_text(report + "".join(kept))
            log("written to bench/RESULTS.md")

    # -- the table -----------------------------------------------------------------------------------
    def report(self, started, elapsed, installs, natives, dl, uz, cr, alone, signed):
        def col(values, key):
            return [v[key] for v in values]

        med = statistics.median
        big = self.archive_sizes[self.largest]
        total_mib = self.uncompressed / MiB
        rows = ["| Measure: installer under Wine / native | Installer: median (min-max) | Native: median (min-max) "
                "| Ratio |",
                "|---|---|---|---|"]

        def row(label, wine, native, unit="s"):
            rows.append("| %s | %s | %s | %s |" % (label, stat(wine, unit), stat(native, unit), ratio(wine, native)))

        row("**Complete installation**, click to client start / sum of native steps (curl, unzip, CRC-32)",
            col(installs, "total"), col(natives, "total"))
        row("in it: package downloads (nginx request times) / curl of each package",
            col(installs, "package_download"), col(natives, "download"))
        row("in it: archive writes and extraction / unzip of each package",
            col(installs, "package_extract"), col(natives, "extract"))
        row("in it: CRC check / CRC-32 of every installed file", col(installs, "crc"), col(natives, "crc"))
        row("**HttpDownload** of %s (%.0f MiB) / curl -o /dev/null" % (self.largest, big / MiB), dl[0], dl[1])
        row("HttpDownload of it with every core kept busy by such a spinner / curl",
            self.download_awake, dl[1])
        row("**CSetupDlg::UnZip** of %s (%.0f MiB unpacked) / unzip"
            % (self.largest, self.largest_uncompressed / MiB), uz[0], uz[1])
        row("**CSetupDlg::CheckFileCRC**, %d files, %.0f MiB / native CRC-32 pass" % (len(self.crcs), total_mib),
            cr[0], cr[1])
        row("WinINet read loop alone, 5120-byte reads as HttpDownload's, into a ready block / curl",
            self.wininet[0], dl[1])
        row("WinINet read loop alone, 64 KiB reads / curl", self.wininet[1], dl[1])
        row("Win32 reads + zlib crc32 alone (no zero-fill, no log) / native CRC-32 pass", self.crc_plain, cr[1])
        peak = [i["peak_ws"] - i["idle_ws"] for i in installs]
        rows.append("| **Peak working set above idle**, complete installation / largest package (%s archive) "
                    "| %s | %.1f MiB | %.2f |" % (self.largest, stat(peak, "MiB"), big / MiB, med(peak) / big))
        row("peak above idle: HttpDownload / curl (peak resident)", dl[2], dl[3], "MiB")
        row("peak above idle: UnZip / unzip (peak resident)", uz[2], uz[3], "MiB")
        row("peak above idle: CheckFileCRC / native pass (above its start)", cr[2], cr[3], "MiB")
        as_they_come, kept_busy = signed["plain"], signed["awake"]
        row("**Signed release**, complete installation: installer with the release key / the same installer "
            "without (in the native column)", as_they_come["signed"], as_they_come["unsigned"])
        row("the same with every core kept busy by a spinner that runs only when nothing else wants the core",
            kept_busy["signed"], kept_busy["unsigned"])
        row("**SHA-256** (CNG, in-process) of %s / openssl dgst -sha256" % self.largest, signed["hashed"],
            signed["native"])
        for label, pairs in (("", as_they_come), (", cores kept busy", kept_busy)):
            rows.append("| **Verdict after the last byte**, signed installations%s: end of %s's body to the signed "
                        "list's verdict on it (log records) / any body's longest | %s | %s | - |"
                        % (label, self.largest, stat([1000 * v for v in pairs["verdict_big"]], "ms"),
                           stat([1000 * v for v in pairs["verdict_max"]], "ms")))

        m = lambda key: med(col(installs, key))  # noqa: E731
        http, ww, wb = med(dl[0]), med(self.wininet[0]), med(self.wininet[1])
        chk, plain = med(cr[0]), med(self.crc_plain)
        zero_run = self.zeroed_bytes(big + 1048576)
        zero_alone = self.zeroed_bytes(0xA00000)
        lines = [
            "# Benchmark results",
            "",
            "Produced by `bench/run.sh` on %s in %.0f s. Machine: %s, %d cores (%s), %.0f GiB RAM, kernel %s, %s."
            % (started.strftime("%Y-%m-%d %H:%M"), elapsed, platform.node() or "host", os.cpu_count(), cpu_model(),
               mem_gib(), platform.release(), wine_version()),
            "Load average (1 min): %s; the benchmark itself keeps about one core busy, the rest is other work on "
            "the machine." % ", ".join("%s %s" % (k, v) for k, v in self.loads),
            "",
            "Release: %d packages, %.0f MiB uncompressed in %d files, %.0f MiB of archives; the largest, %s, %.1f MiB "
            "(%.0f MiB unpacked, mostly incompressible); smallfiles.zip holds %d small files. Content from seed %d, "
            "published in %.1f s. Repetitions: %d complete installations, each followed by the native steps; stages "
            "%d times (CheckFileCRC %d), each repetition running the product stage, the platform calls alone and the "
            "native tool in turn. "
            "Ratio = installer median / native median."
            % (len(self.names), total_mib, len(self.crcs), sum(self.archive_sizes.values()) / MiB, self.largest,
               big / MiB, self.largest_uncompressed / MiB, sum(1 for n, _ in self.crcs if n.startswith("scripts/")),
               self.args.seed, self.publish_seconds, self.args.install_reps, self.args.reps, self.args.crc_reps),
            "",
        ] + rows + [
            "",
            "Within one installation (medians): click to first log record %.2f s, manifest %.2f s, packages %.2f s "
            "(downloads %.2f s, of which %s %.2f s; writes and extraction %.2f s), uninstaller %.2f s, CRC check "
            "%.2f s, configuration, shortcuts and registration %.2f s, launch timer (1 s by design) and client start "
            "%.2f s."
            % (m("click_to_first_record"), m("manifest"), m("packages"), m("package_download"), self.largest,
               m("big_download"), m("package_extract"), m("uninstaller"), m("crc"), m("completion"), m("launch")),
            "",
            "What it shows:",
            "- Download: after the download HttpDownload's block held the body plus %s bytes, i.e. one reservation "
            "of the declared length + 1 MiB and a single copy. HttpDownload takes %.1f times curl; WinINet's own read "
            "loop with the same 5120-byte reads takes %.1f times curl, so %.0f%% of HttpDownload's time is Wine's "
            "WinINet per call, most of it idle wake-ups (below; with 64 KiB reads the same transfer takes %.1f times curl)."
            % ("/".join(str(c) for c in self.download_slack), http / med(dl[1]), ww / med(dl[1]),
               100.0 * min(ww, http) / http, wb / med(dl[1])),
            "- Extraction: UnZip (minizip and zlib under Wine, 16 KB writes) takes %.1f times Info-ZIP unzip: "
            "Wine's file writes cost little here; Info-ZIP, which inflates with its own code rather than zlib, is "
            "the slower program."
            % (med(uz[0]) / med(uz[1])),
            "- CRC check: the Win32 reads and zlib crc32 alone take %.1f times the native pass; CheckFileCRC takes "
            "%.1f times: %.0f%% of its time is the product's own work, one log record per file and clearing the "
            "part of the receive block the previous file used. Clearing the whole block before every file instead "
            "would zero %.0f GiB here and %.0f GiB in the complete installation, whose block is already %.0f MiB "
            "from the largest download."
            % (plain / med(cr[1]), chk / med(cr[1]), 100.0 * max(chk - plain, 0) / chk, zero_alone / MiB / 1024,
               zero_run / MiB / 1024, (big + 1048576) / MiB),
            "- Memory: the installer's peak working set above idle is %.2f times the largest package's archive: the "
            "whole archive is held in the receive block, which stays at that size for the rest of the run."
            % (med(peak) / big),
        ]
        hash_t = med(signed["hashed"])

        def cost(pairs):
            paired = med([b - a for a, b in zip(pairs["unsigned"], pairs["signed"])])
            return med(pairs["signed"]), med(pairs["unsigned"]), paired, 100.0 * paired / med(pairs["unsigned"])

        lines.append("- Signed releases: the installer with the release key took %.2f s against %.2f s without it "
                     "(%d installations each, in turn, on the same signed release; the median of the differences "
                     "within each pair is %+.2f s, %+.1f%%), and %.2f s against %.2f s with every core kept busy "
                     "(paired %+.2f s, %+.1f%%). Its extra work is the signature check and one SHA-256 of each body, "
                     "%.0f MiB of archives at the %.0f MiB/s of Wine's CNG alone (%s %.2f s in-process; openssl "
                     "natively %.2f s), taken on a thread of its own while the body arrives; the read loop waits for "
                     "the hash when it falls 4 MiB behind. The signed list's verdict on %s came %.1f ms (median) after "
                     "the record of its last byte (%.1f ms with the cores kept busy), and no body's verdict later "
                     "than %.1f ms after it."
                     % (cost(as_they_come)[:2] + (len(as_they_come["signed"]),) + cost(as_they_come)[2:]
                        + cost(kept_busy)
                        + (sum(self.archive_sizes.values()) / MiB, big / MiB / hash_t, self.largest, hash_t,
                           med(signed["native"]), self.largest, 1000 * med(as_they_come["verdict_big"]),
                           1000 * med(kept_busy["verdict_big"]),
                           1000 * max(as_they_come["verdict_max"] + kept_busy["verdict_max"]))))
        lines.append("- Idle wake-ups: on this VM a core whose thread waits (for the network, for the wineserver) goes "
                     "idle, and waking it costs tens of microseconds; with %d reads of 5120 bytes that is most of a "
                     "large download's time (HttpDownload of %s: %.2f s as it comes, %.2f s with every core kept busy "
                     "by a spinner that runs only when nothing else wants the core). The installer with a key keeps a "
                     "thread of its own busy hashing beside each download, which no spinner outside the process does "
                     "as well: its downloads run faster here without doing less, and so it finishes sooner. The cost "
                     "of the hash itself is therefore not visible in the complete installation on this machine; "
                     "what is, is that it costs the installation no time: the %.0f MiB of archives are hashed on the "
                     "second core while they arrive, and the verdict follows each last byte within milliseconds."
                     % (big // 5120, self.largest, http, med(self.download_awake),
                        sum(self.archive_sizes.values()) / MiB))
        if "stepwise" in alone:
            lines.append("- The same download into a block grown by 1 MiB per overflow (no reservation) took %.1f s, "
                         "%.0f times HttpDownload with the reservation." % (alone["stepwise"][0],
                                                                           alone["stepwise"][0] / http))
        if "crc_zeroed" in alone:
            lines.append("- Win32 reads and crc32 with the whole block zero-filled before each file, as the check "
                         "did before it cleared only the used part: %.1f s (without: %.1f s)."
                         % (alone["crc_zeroed"][0], plain))
        lines += [
            "",
            "How: the installer is bench/MirevaleSetup.exe, built from the same sources with the benchmark's base URL "
            "%s compiled in (the signed one, build/bench-signed/MirevaleSetup.exe, also with the key that signs the "
            "release, build/bench/release-key.pem); its time runs from the click (host clock) to the creation of the client process and "
            "includes the installer's 1 s launch timer. Phases come from the installer's log (C:\\temp\\log.txt) and "
            "nginx's request times. Stage times are taken in-process (QueryPerformanceCounter in mirevale_bench.exe, "
            "one new process per repetition; curl's time_total; the native CRC pass's own clock); unzip and the native "
            "installation by wall clock around the processes. Working sets: VmRSS before the click and VmHWM of the "
            "installer's Wine process; GetProcessMemoryInfo in mirevale_bench.exe (PeakWorkingSetSize after minus "
            "WorkingSetSize before); VmHWM of curl and unzip sampled while they run; VmHWM of the CRC pass above "
            "its VmRSS at the start." % self.base_url,
            "",
        ]
        return "\n".join(lines)


def stat(values, unit="s"):
    values = [v for v in values if v == v]
    if not values:
        return "-"
    if unit == "MiB":
        values = [v / MiB for v in values]
        f = "%.1f"
    else:
        f = "%.3f" if statistics.median(values) < 1 else "%.2f"
    return (f + " %s (" + f + "-" + f + ")") % (statistics.median(values), unit, min(values), max(values))


def ratio(a, b):
    a = [v for v in a if v == v]
    b = [v for v in b if v == v]
    if not a or not b or statistics.median(b) <= 0:
        return "-"
    return "%.1f" % (statistics.median(a) / statistics.median(b))


def fmt_list(values):
    return " ".join("%.3f" % v for v in values)


def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.machine()


def mem_gib():
    for line in open("/proc/meminfo"):
        if line.startswith("MemTotal"):
            return int(line.split()[1]) / 1024 / 1024
    return 0


def wine_version():
    try:
        return subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    except OSError:
        return "wine"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=2026, help="content seed (default 2026)")
    parser.add_argument("--install-reps", type=int, default=3, help="complete installations (default 3)")
    parser.add_argument("--reps", type=int, default=5, help="repetitions of each stage (default 5)")
    parser.add_argument("--crc-reps", type=int, default=3, help="repetitions of CheckFileCRC (default 3)")
    parser.add_argument("--signed-reps", type=int, default=5,
                        help="installations with and without the release key, in turn (default 5)")
    parser.add_argument("--no-extras", dest="extras", action="store_false",
                        help="skip the download into a block grown by 1 MiB per overflow (no reservation, about a "
                             "minute) and the CRC reads with the block zero-filled before each file")
    parser.add_argument("--no-results", action="store_true", help="print only; leave bench/RESULTS.md alone")
    args = parser.parse_args()
    Bench(args).run()


if __name__ == "__main__":
    main()
