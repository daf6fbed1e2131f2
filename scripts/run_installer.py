#!/usr/bin/env python3
"""The main job's command line over the tools/mirevale package: builds the installer with the sample
release's public key (the key is kept in build/release-key, made on first use) and the uninstaller, both
Authenticode-signed with a test certificate (build/code-signing, made on first use) and timestamped by a
time-stamp authority on loopback, checks both signatures, publishes and signs the sample release, serves
it with nginx at the installer's built-in base URL, runs that installer under Wine in a prefix of its own,
clicks install (or lets a person click on their display) and reports what the installation left behind.

scripts/run.sh calls this after setting up and building; tests/e2e/test_main_job.py runs it headless.

  run_installer.py [--out DIR] [--headless] [--silent] [--again | --twice | --uninstall]
                   [--wait-port SECONDS] [--json FILE]

--silent runs the installer unattended (MirevaleSetup.exe /S): no window, the whole exit code read
(tests/tools/exit_code.cpp), the desktop link on the public desktop, no client started.

--again installs once more over the installation already in DIR/prefix; --twice makes a fresh prefix,
installs, and installs again over it; --uninstall removes the installation in DIR/prefix with its
registered UninstallString and reports what is left. Exit status: 0 when every run completed and left
what it should (for --uninstall: nothing of the product is left), 1 when a run did not complete or
something is missing (left), 2 for usage, 3 when the environment is not usable (base URL port taken,
no template prefix, publishing failed, a program signature that does not verify, nothing installed to
remove)."""


import argparse
import json
import os
import signal
import sys
from pathlib import Path

from mirevale import Unusable, release, runs, serve, signing
from mirevale.builds import SOURCE, WIDTH, base_url_from_cache, keyed_installer, say
from mirevale.runs import CLIENT_TITLE, CONFIG_NAME
from mirevale.wine import stop_wineserver
from mirevale.winefiles import UNINSTALL_KEY, UNINSTALL_LOG, decode_log, host_path

RELEASE_KEY = SOURCE / "build" / "release-key" / "sample-release.pem"
CODE_SIGNING = SOURCE / "build" / "code-signing"
# The main job's release expires this long after it is published (each run publishes it again).
RELEASE_EXPIRY_DAYS = 30


def code_signing_certificates(folder=CODE_SIGNING):
    """The test CA and the code-signing and time-stamp certificates it issued, made on first use and kept
    in the build tree like the release key (never committed)."""
    made = not all((folder / name).is_file() for name in signing.CODE_SIGNING_FILES)
    certificates = signing.code_signing_certificates(folder)
    if made:
        say("made the test code-signing CA and certificates in %s" % folder)
    return certificates


def report(seen):
    def rel(p):
        try:
            return str(Path(p).relative_to(Path.cwd()))
        except ValueError:
            return str(p)

    n = seen["run"]
    say()
    say("== run %d ==" % n)
    if seen.get("silent"):
        say("installer:   unattended (/S), no window shown%s; exit code %s after %s s%s"
            % ("" if not seen["windows_shown"] else " but for " + ", ".join(seen["windows_shown"]),
               seen.get("exit_code"), seen.get("seconds"), " (killed)" if seen.get("timed_out") else ""))
    elif seen.get("window"):
        how = "clicked install by itself" if seen["clicked"] else "install clicked by a person"
        say("installer:   window appeared, %s; process ended with exit code %s after %s s%s"
            % (how, seen.get("exit_code"), seen.get("seconds"), " (killed)" if seen.get("timed_out") else ""))
    else:
        say("installer:   no window; process ended with exit code %s" % seen.get("exit_code"))
    if seen.get("failure"):
        say("failure:     " + seen["failure"].split("]", 2)[-1])
    signatures = seen["authenticode"]
    if all(v.startswith("valid") for v in signatures.values()):
        say("authenticode: valid: MirevaleSetup.exe (run) and UnInstall.exe (installed in C:\\Larkspire), %s"
            % signatures["UnInstall.exe"].split(", ", 1)[-1])
    else:
        say("authenticode: " + "; ".join("%s %s" % kv for kv in signatures.items()))
    if seen["signature_listed"] is None:
        say("signature:   NOT verified by the installer")
    else:
        say("signature:   the installer verified release.sha256 (%d files listed, %s); matched: %s"
            % (seen["signature_listed"], seen["signature_terms"], ", ".join(seen["signature_matched"]) or "none"))
    say("packages:    " + (", ".join("%s (%d bytes)" % p for p in seen["packages"]) or "none downloaded"))
    say("files:       %d installed under C:\\Larkspire (%s)"
        % (len(seen["files"]), rel(host_path(Path(seen["prefix"]), r"C:\Larkspire"))))
    outcome = "failed" if seen["crc_failed_record"] else ("passed" if seen.get("completed") else "not reached")
    say("verified:    CheckFileCRC %s: %d of %d files of filecrc.txt matched (loacalCRC = netCRC in the log)"
        % (outcome, seen["crc_passed"], seen["crc_listed"]))
    for name, same, present in seen["crc_now"]:
        if present and not same:
            why = " (expected: the configuration is written after the check)" if name == CONFIG_NAME else ""
            say("             now differs from filecrc.txt: %s%s" % (name, why))
    cfg = seen["config"]
    say("config:      [Client] Version=%s; [Server] %s" % (
        cfg.get("Client", {}).get("Version", "(missing)"),
        ", ".join("%s=%s" % kv for kv in cfg.get("Server", {}).items()) or "(missing)"))
    say("shortcuts:   " + "; ".join("%s: %s" % (k, "yes" if v else "MISSING") for k, v in seen["shortcuts"].items()))
    values = [line.strip() for line in seen.get("reg_query", "").splitlines() if "REG_" in line]
    say("uninstall:   %s (wine reg query): %s" % (UNINSTALL_KEY, "%d values" % len(values) if values else "none"))
    for line in values:
        say("               " + line)
    if seen.get("silent"):
        say("client:      not started, as an unattended run without /LAUNCH does; iQorRemote.exe processes: %d"
            % len(seen["client_pids"]))
    elif seen.get("completed"):
        say("client:      window \"%s\" %s; iQorRemote.exe processes at the end: %d"
            % (CLIENT_TITLE, "appeared" if seen.get("client_window") else "did NOT appear", len(seen["client_pids"])))
    else:
        say("client:      not started (the run did not complete)")
    say("screenshots: " + (", ".join("%s %s" % (k, rel(v)) for k, v in seen["screenshots"].items() if v) or "none"))
    say("log:         %s (C:\\temp\\log.txt), copy %s; last lines:" % (rel(seen["log"]), rel(seen["log_copy"])))
    try:
        lines = decode_log(Path(seen["log_copy"]).read_bytes())
    except OSError:
        lines = []
    for line in lines[-6:]:
        say("               " + line)
    say("result:      " + ("COMPLETE" if not seen["problems"] else "NOT COMPLETE"))
    for problem in seen["problems"]:
        say("               - " + problem)




def report_uninstall(seen, out):
    say()
    say("== uninstall ==")
    how = ("answered %s by itself" % " and ".join(seen["answered"]) if seen["answered"]
           else "answered by a person" if "exit_code" in seen else "no answer")
    say("uninstaller: %s; %s; first process ended with exit code %s%s" % (
        seen["command"], how, seen.get("exit_code"), " (timed out)" if seen.get("timed_out") else ""))
    if seen["folder"] is None:
        say("folder:      C:\\Larkspire gone")
    else:
        say("folder:      C:\\Larkspire LEFT, holding %d entries: %s" % (len(seen["folder"]), ", ".join(seen["folder"][:10])))
    say("shortcuts:   " + "; ".join("%s: %s" % (k, "LEFT" if v else "gone") for k, v in seen["shortcuts"].items())
        + "; Start menu folder Mirevale: " + ("LEFT" if seen["start_menu_folder"] else "gone"))
    say("uninstall:   %s: %s" % (UNINSTALL_KEY, "LEFT" if seen["entry"] else "gone"))
    say("log:         %s (%s); last lines:" % (out / "logs" / "uninstall-log.txt", UNINSTALL_LOG))
    for line in seen["log"][-4:]:
        say("               " + line)
    say("result:      " + ("NOTHING LEFT" if not seen["left"] else "LEFT: " + ", ".join(seen["left"])))




def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=Path, default=SOURCE / "out", help="work folder (default: out/)")
    parser.add_argument("--headless", action="store_true", help="click install by itself (else a person clicks)")
    parser.add_argument("--silent", action="store_true", help="run the installer unattended (/S), no window")
    modes = parser.add_mutually_exclusive_group()
    modes.add_argument("--again", action="store_true", help="install again over the installation in OUT/prefix")
    modes.add_argument("--twice", action="store_true", help="fresh installation, then a second one over it")
    modes.add_argument("--uninstall", action="store_true",
                       help="remove the installation in OUT/prefix with its registered uninstaller")
    parser.add_argument("--wait-port", type=float, default=0, metavar="SECONDS",
                        help="wait this long for the base URL's port instead of failing at once")
    parser.add_argument("--timeout", type=float, default=float(os.environ.get("MIREVALE_RUN_TIMEOUT", 400)),
                        help="headless: longest wait for one installer run (default 400 s)")
    parser.add_argument("--json", type=Path, help="also write what was seen as JSON")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    out = args.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    prefix = out / "prefix"
    results = []
    try:
        if not os.environ.get("DISPLAY"):
            raise Unusable("no DISPLAY: source scripts/xvfb.sh first (scripts/run.sh does)")
        if args.uninstall:
            if not prefix.exists():
                raise Unusable("--uninstall needs an installation in %s: run without --uninstall first" % prefix)
            seen = runs.uninstall(prefix, out, args.headless, args.timeout)
            report_uninstall(seen, out)
            results.append(seen)
            say()
            say("main job: %s (uninstall; work folder %s)" % ("done" if not seen["left"] else "FAILED", out))
            return 0 if not seen["left"] else 1
        if args.again and not host_path(prefix, r"C:\Larkspire").is_dir():
            raise Unusable("--again needs an earlier installation in %s: run without --again first" % prefix)
        base_url = base_url_from_cache()
        pem, key_hex = release.publisher_key(RELEASE_KEY)
        certificates = code_signing_certificates()
        with signing.time_stamp_authority(certificates, out / "tsa") as tsa:
            say("time-stamp authority: %s (openssl ts, certificate %s)" % (tsa.url, certificates["tsa"]))
            installer = keyed_installer(key_hex, arch=WIDTH, base_url=base_url, certificates=certificates,
                                        tsa_url=tsa.url)
        say("installer:   %s, built-in base URL %s, release key %s" % (installer, base_url, key_hex))
        served = out / "release"
        release.publish_sample(served, pem, key_hex, installer.parent, RELEASE_EXPIRY_DAYS)
        valid, lines = signing.authenticode(certificates, [installer, served / "UnInstall.exe"])
        for line in lines:
            say("  verify " + line)
        if not valid:
            raise Unusable("the programs' Authenticode signatures do not verify against %s" % certificates["ca"])
        say("authenticode: valid (MirevaleSetup.exe and the published UnInstall.exe, against %s)" % certificates["ca"])
        with serve.serve_at(served, base_url, out / "nginx", args.wait_port):
            release.check(base_url, key_hex)
            if args.again:
                say("installing again over the installation in %s" % prefix)
            else:
                runs.fresh_prefix(prefix)
            for number in ((1, 2) if args.twice else (1,)):
                if args.silent:
                    seen = runs.run_silent(installer, prefix, out, number, args.timeout)
                else:
                    seen = runs.run_through_window(installer, prefix, out, number, args.headless, args.timeout)
                runs.examine(prefix, served, seen, certificates)
                report(seen)
                results.append(seen)
                if seen["problems"]:
                    break
    except Unusable as e:
        say("main job: " + str(e))
        return 3
    finally:
        if prefix.exists():
            stop_wineserver(prefix)
        if args.json:
            args.json.write_text(json.dumps(results, indent=1, ensure_ascii=False))
    ok = bool(results) and all(not r["problems"] for r in results)
    say()
    say("main job: %s (%d run%s; work folder %s)" % ("done" if ok else "FAILED", len(results),
                                                     "" if len(results) == 1 else "s", out))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
