"""bench/resume.py [--reps N] [--no-results]: a 200 MiB package whose body breaks off twice (at 30% and
at 80%), fetched under Wine by HttpDownload's attempts as the install worker makes them: the bytes the
server sent over the body's size, and the time, against the same package uncut and against attempts that
start each body anew (as before resume). The scripted file server of the tests serves it on loopback.
Writes its section at the end of bench/RESULTS.md. Needs scripts/build.sh to have been run once."""

import argparse
import datetime
import json
import random
import shutil
import statistics
import subprocess
from pathlib import Path

from mirevale import wine
from mirevale.builds import BUILD
from mirevale.faultserver import file_server

HERE = Path(__file__).resolve().parent

SIZE = 200 << 20
MARK = "\n<!-- section of bench/resume.py -->\n"
CASES = (("uncut", [], 1), ("cut at 30% and 80%, continued", ["cut 30", "cut 80"], 1),
         ("cut at 30% and 80%, each attempt anew", ["cut 30", "cut 80"], 0))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reps", type=int, default=3, help="downloads of each case (default 3)")
    parser.add_argument("--no-results", action="store_true", help="print only; leave bench/RESULTS.md alone")
    args = parser.parse_args()
    subprocess.run(["cmake", "--build", str(BUILD), "--target", "mirevale_bench"], check=True,
                   capture_output=True)
    folder = BUILD / "bench" / "resume"
    folder.mkdir(parents=True, exist_ok=True)
    if not (folder / "big.bin").exists() or (folder / "big.bin").stat().st_size != SIZE:
        (folder / "big.bin").write_bytes(random.Random(2026).randbytes(SIZE))
    prefix = folder / "prefix"
    for old in (prefix, Path(str(prefix) + ".home")):
        shutil.rmtree(old, ignore_errors=True)
    wine.copy_prefix(prefix)
    rows = []
    with file_server() as server:
        for name, steps, resume in CASES:
            seconds, sent = [], []
            for _ in range(args.reps):
                server.reset(folder)
                server.script("big.bin", *steps)
                out = wine.run(prefix, [BUILD / "bench" / "mirevale_bench.exe", "attempts", server.base + "big.bin", 1,
                                        resume], capture_output=True, check=True)
                result = json.loads(out.stdout.decode().splitlines()[-1])
                assert result["ok"] and result["bytes"] == SIZE, result
                seconds.append(result["seconds"])
                sent.append(server.sent("big.bin") / SIZE)
            rows.append((name, server.requests("big.bin"), statistics.median(sent), statistics.median(seconds),
                         min(seconds), max(seconds)))
            print("%s: %d requests, %.3f x the body sent, %.2f s" % rows[-1][:4], flush=True)
    uncut = rows[0][3]
    table = ["| case | requests | bytes sent / body | time, median (min-max) | time / uncut |",
             "|---|---|---|---|---|"]
    table += ["| %s | %d | %.3f | %.2f s (%.2f-%.2f) | %.2f |" % (row + (row[3] / uncut,)) for row in rows]
    section = (MARK + "## A package that breaks off twice (bench/resume.py)\n\n"
               "Run on %s, load average %s. A 200 MiB body served by tools/mirevale/faultserver.py on loopback, "
               "cut off with the connection at 30%% and at 80%%; HttpDownload's attempts in "
               "mirevale_bench.exe under Wine, medians of %d downloads; bytes counted at the server.\n\n%s\n"
               % (datetime.date.today(), open("/proc/loadavg").read().split()[0], args.reps, "\n".join(table)))
    print(section)
    if not args.no_results:
        results = HERE / "RESULTS.md"
        results.write_text(results.read_text().partition(MARK)[0].rstrip("\n") + "\n" + section)


if __name__ == "__main__":
    main()
