"""Shared pieces of the end-to-end tests: real peers on loopback (nginx, squid with basic auth),
Wine prefixes copied from the build's template, and running Windows programs under Wine.

Everything binds 127.0.0.1 on ports chosen free, and lives in a scratch folder of the build tree."""

import contextlib
import hashlib
import http.server
import itertools
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from faultserver import serving

SOURCE = Path(os.environ.get("MIREVALE_SOURCE", Path(__file__).resolve().parents[2]))
BUILD = Path(os.environ.get("MIREVALE_BUILD", SOURCE / "build" / "x86_64"))
TEMPLATE_PREFIX = Path(os.environ.get("MIREVALE_WINE_PREFIX", BUILD / "wineprefix"))
WINE_PREFIX_SH = SOURCE / "tests" / "wine-prefix.sh"
WINE_SESSION_SH = SOURCE / "tests" / "wine-session.sh"
PROBE = BUILD / "tests" / "window_probe.exe"
# Wine's own processes of a session, which stay while it is kept between programs.
SESSION_PROGRAMS = {"services.exe", "winedevice.exe", "plugplay.exe", "explorer.exe", "svchost.exe", "rpcss.exe",
                    "wineboot.exe", "conhost.exe"}
# MIREVALE_WIDTH=i686: the programs are the 32-bit build's, run in its runtime (tests/wine-i686.sh), and
# what they write under HKLM\Software lands in the 32-bit view, as on 64-bit Windows.
WIDTH = os.environ.get("MIREVALE_WIDTH", "x86_64")
RUNNER = [str(SOURCE / "tests" / "wine-i686.sh")] if WIDTH == "i686" else []
SOFTWARE = r"SOFTWARE\Wow6432Node" if WIDTH == "i686" else "SOFTWARE"


def scratch(tag):
    """A new folder under build/x86_64/e2e, readable by the peers' unprivileged users."""
    root = BUILD / "e2e"
    root.mkdir(parents=True, exist_ok=True)
    path = Path(tempfile.mkdtemp(prefix=tag + "-", dir=root))
    path.chmod(0o755)
    return path


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=60.0, proc=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("server exited with %s before listening on %d" % (proc.returncode, port))
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


def _stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def start_nginx(root, port, work, path="/EX/", tls=None):
    """Starts nginx serving folder `root` at http://127.0.0.1:PORT<path> (over TLS with `tls`, a pair
    of certificate and key files), with its configuration, logs and temporary files in folder `work`;
    returns the process (not yet known to listen)."""
    work = Path(work)
    (work / "tmp").mkdir(parents=True, exist_ok=True)
    work.chmod(0o755)
    user = "user root root;" if os.geteuid() == 0 else ""
    conf = work / "nginx.conf"
    conf.write_text(f"""
worker_processes 1;
{user}
pid {work}/nginx.pid;
error_log {work}/error.log;
daemon off;
events {{ worker_connections 64; }}
http {{
    access_log {work}/access.log;
    client_body_temp_path {work}/tmp;
    proxy_temp_path {work}/tmp;
    fastcgi_temp_path {work}/tmp;
    uwsgi_temp_path {work}/tmp;
    scgi_temp_path {work}/tmp;
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{port}{" ssl" if tls else ""};
        {f"ssl_certificate {tls[0]}; ssl_certificate_key {tls[1]};" if tls else ""}
        location {path} {{ alias {Path(root).resolve()}/; }}
    }}
}}
""")
    return subprocess.Popen(["nginx", "-p", str(work), "-e", str(work / "error.log"), "-c", str(conf)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@contextlib.contextmanager
def nginx(root, port=None, tls=None, path="/EX/"):
    """Serves folder `root` as http://127.0.0.1:PORT<path> and yields that URL; with `tls` (a pair of
    certificate and key files) as https://localhost:PORT<path>, the name the certificates carry."""
    port = port or free_port()
    proc = start_nginx(root, port, scratch("nginx"), path, tls=tls)
    try:
        wait_for_port(port, proc=proc)
        yield f"https://localhost:{port}{path}" if tls else f"http://127.0.0.1:{port}{path}"
    finally:
        _stop(proc)


def tls_certificates():
    """Server certificates made now by a test CA (nothing of it is kept in the repository), each a
    pair of certificate and key files: "good" for localhost, "wrong_host" for another name,
    "expired" (January 2024) and "unknown_issuer" (signed by a CA nobody trusts); "root" is the test
    CA's certificate in DER form, for trust_root()."""
    work = scratch("tls")

    def openssl(*args):
        subprocess.run(["openssl"] + [str(a) for a in args], cwd=work, check=True, capture_output=True)

    for ca in ("ca", "other_ca"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key", "-out", ca + ".pem",
                "-days", "30", "-subj", "/CN=Mirevale test " + ca, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        (work / (ca + ".cnf")).write_text(f"[ca]\ndefault_ca = c\n[c]\ndatabase = {ca}.db\nnew_certs_dir = .\n"
                                          f"certificate = {ca}.pem\nprivate_key = {ca}.key\nserial = {ca}.srl\n"
                                          "default_md = sha256\npolicy = p\nunique_subject = no\n"
                                          "[p]\ncommonName = supplied\n")
        (work / (ca + ".db")).write_text("")
        (work / (ca + ".srl")).write_text("01\n")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=localhost")
    made = {"root": work / "root.der"}
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "root.der")
    for name, ca, host, dates in (("good", "ca", "localhost", ["-days", "30"]),
                                  ("wrong_host", "ca", "elsewhere.test", ["-days", "30"]),
                                  ("expired", "ca", "localhost", ["-startdate", "20240101000000Z",
                                                                  "-enddate", "20240201000000Z"]),
                                  ("unknown_issuer", "other_ca", "localhost", ["-days", "30"])):
        (work / (name + ".ext")).write_text(f"subjectAltName = DNS:{host}\nextendedKeyUsage = serverAuth\n")
        openssl("ca", "-batch", "-notext", "-config", ca + ".cnf", "-in", "server.csr", "-subj", "/CN=" + host,
                "-extfile", name + ".ext", "-out", name + ".pem", *dates)
        made[name] = (work / (name + ".pem"), work / "server.key")
    return made


def trust_root(prefix, der):
    """Adds the certificate file `der` to the machine's trusted roots in `prefix`."""
    wine(prefix, [BUILD / "tests" / "add_root_certificate.exe", der], check=True, capture_output=True)


CODE_SIGNING_FILES = ("ca.pem", "ca.der", "signer.pem", "signer.key", "tsa.pem", "tsa.key")


def code_signing_certificates(folder, days=825):
    """A test CA, a code-signing certificate for the publisher (valid `days`) and a time-stamp
    authority's certificate, both issued by the CA, made by the openssl command line in `folder` unless
    they are there already: {"ca": PEM, "ca_der": DER, "signer": PEM, "signer_key", "tsa", "tsa_key"}."""
    folder = Path(folder)
    if not all((folder / name).is_file() for name in CODE_SIGNING_FILES):
        folder.parent.mkdir(parents=True, exist_ok=True)
        # Made aside and renamed into place, so that nobody finds half a set.
        work = Path(tempfile.mkdtemp(prefix=folder.name + ".new-", dir=folder.parent))

        def openssl(*args):
            subprocess.run(["openssl"] + [str(a) for a in args], cwd=work, check=True, capture_output=True)

        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650",
                "-subj", "/CN=Mirevale test code-signing CA", "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
        for name, subject, usage, life in (("signer", "Mirevale test publisher", "codeSigning", days),
                                           ("tsa", "Mirevale test time-stamp authority", "critical,timeStamping", 3650)):
            (work / (name + ".ext")).write_text("basicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature\n"
                                                "extendedKeyUsage = %s\n" % usage)
            openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                    "-subj", "/CN=" + subject)
            openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                    "-days", life, "-extfile", name + ".ext", "-out", name + ".pem")
        if folder.exists():
            shutil.rmtree(folder)
        work.rename(folder)
    return {"ca": folder / "ca.pem", "ca_der": folder / "ca.der", "signer": folder / "signer.pem",
            "signer_key": folder / "signer.key", "tsa": folder / "tsa.pem", "tsa_key": folder / "tsa.key"}


class _TimeStampReply(http.server.BaseHTTPRequestHandler):
    """Answers each POSTed RFC 3161 query with `openssl ts -reply`."""

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        work = Path(self.server.work)
        (work / "query.tsq").write_bytes(query)
        proc = subprocess.run(["openssl", "ts", "-reply", "-config", str(work / "tsa.cnf"), "-queryfile",
                               str(work / "query.tsq"), "-out", str(work / "reply.tsr")], capture_output=True)
        if self.headers.get("Content-Type") != "application/timestamp-query" or proc.returncode != 0:
            self.send_error(400, "not a time-stamp query")
            return
        reply = (work / "reply.tsr").read_bytes()
        self.server.replies += 1
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def time_stamp_authority(certificates, work):
    """An RFC 3161 time-stamp authority on loopback, signing with the "tsa" certificate of
    code_signing_certificates() (its state in folder `work`); yields the server, whose `url` is the
    authority's URL and `replies` the number of timestamps it has given."""
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)
    (work / "tsa.srl").write_text("01\n")
    (work / "tsa.cnf").write_text(f"""[tsa]
default_tsa = authority
[authority]
serial = {work}/tsa.srl
signer_cert = {certificates["tsa"]}
signer_key = {certificates["tsa_key"]}
certs = {certificates["ca"]}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.0.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
ess_cert_id_alg = sha256
""")
    server = http.server.HTTPServer(("127.0.0.1", 0), _TimeStampReply)
    server.work, server.replies = work, 0
    server.url = "http://127.0.0.1:%d/" % server.server_address[1]
    with serving(server):
        yield server


def verify_programs(certificates, files):
    """scripts/sign.sh verify against the test CA, a timestamp by the test authority required:
    returns the CompletedProcess (text), without raising."""
    return subprocess.run([str(SOURCE / "scripts" / "sign.sh"), "verify", "--ca", str(certificates["ca"]),
                           "--tsa-ca", str(certificates["ca"])] + [str(f) for f in files],
                          capture_output=True, text=True)


@contextlib.contextmanager
def squid(user, password):
    """A caching-free HTTP proxy that demands basic authentication; yields 'host:port'."""
    port = free_port()
    work = scratch("squid")
    passwd = work / "passwd"
    subprocess.run(["htpasswd", "-b", "-c", str(passwd), user, password], check=True, capture_output=True)
    conf = work / "squid.conf"
    conf.write_text(f"""
http_port 127.0.0.1:{port}
auth_param basic program /usr/lib/squid/basic_ncsa_auth {passwd}
auth_param basic realm mirevale-test
acl authed proxy_auth REQUIRED
http_access allow authed
http_access deny all
cache deny all
cache_dir null /tmp
cache_mem 8 MB
pid_filename {work}/squid.pid
access_log stdio:{work}/access.log
cache_log {work}/cache.log
cache_store_log none
coredump_dir {work}
shutdown_lifetime 0 seconds
dns_nameservers 127.0.0.1
""")
    if os.geteuid() == 0:
        # squid drops to the 'proxy' user: its files must be readable and its logs writable by it.
        subprocess.run(["chown", "-R", "proxy:proxy", str(work)], check=True)
    proc = subprocess.Popen(["squid", "-N", "-f", str(conf)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for_port(port, timeout=30, proc=proc)
        yield f"127.0.0.1:{port}"
    finally:
        _stop(proc)


def release_key(folder):
    """A P-256 key made by the openssl command line for this run, never kept: (PEM file, public key hex)."""
    pem = Path(folder) / "release-key.pem"
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", str(pem)], check=True)
    der = subprocess.run(["openssl", "ec", "-in", str(pem), "-pubout", "-outform", "DER"], check=True,
                         capture_output=True).stdout
    return pem, der[-65:].hex()  # a P-256 SubjectPublicKeyInfo ends in the uncompressed point


def raw_signature(der):
    """OpenSSL's DER signature (SEQUENCE of INTEGER r, INTEGER s) as the r || s that CNG takes."""
    raw, at = b"", 2
    for _ in range(2):
        length = der[at + 1]
        raw += int.from_bytes(der[at + 2:at + 2 + length], "big").to_bytes(32, "big")
        at += 2 + length
    return raw


def sign_release(folder, pem, leave_out=(), serial=None, expires=None):
    """Lists every served file of `folder` but `leave_out` in release.sha256, with the release's serial
    and expiry (Unix seconds) when given, and signs it with `openssl dgst`, as a deployment without the
    publisher would."""
    folder = Path(folder)
    lines = [(n, hashlib.sha256((folder / n).read_bytes()).hexdigest(), (folder / n).stat().st_size)
             for n in (p.name for p in folder.iterdir() if p.is_file()) if not n.startswith("release.sha256")
             and n not in leave_out]
    lines += [(name, "0" * 64, value) for name, value in ((":serial", serial), (":expires", expires))
              if value is not None]
    text = "".join("%s  %d  %s\n" % (digest, size, name)
                   for name, digest, size in sorted(lines, key=lambda line: line[0].encode())).encode()
    (folder / "release.sha256").write_bytes(text)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(pem)], input=text, check=True,
                         capture_output=True).stdout
    (folder / "release.sha256.sig").write_bytes(raw_signature(der))


def log_texts(prefix):
    """The texts of the records of the prefix's installer log C:\\temp\\log.txt."""
    lines = utf16_lines((c_drive(prefix) / "temp" / "log.txt").read_bytes())
    return [line.split("]", 2)[2] for line in lines if line.count("]") >= 2]


def wine_env(prefix, extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(prefix),
        "HOME": str(prefix) + ".home",
        "LANG": "zh_CN.UTF-8",
        "LC_ALL": "zh_CN.UTF-8",
        "WINEDEBUG": env.get("WINEDEBUG", "-all"),
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    })
    env.update(extra or {})
    return env


# Windows' own programs and libraries in a prefix, which nothing writes: a copy shares them with the
# template (hard links) instead of copying a gigabyte of them per case.
SHARED_SUFFIXES = {".dll", ".exe", ".nls", ".drv", ".sys", ".cpl", ".vxd", ".ocx", ".acm", ".tlb"}


def _copy_or_share(src, dst):
    if "/drive_c/windows/" in src and Path(src).suffix.lower() in SHARED_SUFFIXES:
        os.link(src, dst)
    else:
        shutil.copy2(src, dst)


def copy_prefix(dest):
    """Makes `dest` a copy of the build's template prefix (and of its HOME folder)."""
    subprocess.run([str(WINE_PREFIX_SH), str(TEMPLATE_PREFIX)], check=True)
    # The template's registry reaches its files when its session ends.
    stop_wineserver(TEMPLATE_PREFIX)
    dest = Path(dest)
    dest.parent.mkdir(parents=True, exist_ok=True)
    shutil.copytree(TEMPLATE_PREFIX, dest, symlinks=True, copy_function=_copy_or_share)
    home = Path(str(TEMPLATE_PREFIX) + ".home")
    if home.exists():
        shutil.copytree(home, Path(str(dest) + ".home"), symlinks=True)
    else:
        Path(str(dest) + ".home").mkdir()
    return dest


def new_prefix(tag):
    """A copy of the build's template prefix, for a case that needs its own registry and drive."""
    return copy_prefix(scratch(tag) / "prefix")


def session(prefix):
    """Starts the prefix's Wine session, kept between programs, and waits until it is ready, unless it
    runs already (tests/wine-session.sh)."""
    subprocess.run([str(WINE_SESSION_SH), str(prefix), str(PROBE)], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, timeout=300)


def wine(prefix, args, env=None, timeout=600, **kwargs):
    """Runs a Windows program (first of args) under Wine in `prefix`; returns the CompletedProcess."""
    session(prefix)
    return subprocess.run(RUNNER + ["wine"] + [str(a) for a in args], env=wine_env(prefix, env), timeout=timeout,
                          **kwargs)


def wine_popen(prefix, args, env=None, **kwargs):
    session(prefix)
    return subprocess.Popen(RUNNER + ["wine"] + [str(a) for a in args], env=wine_env(prefix, env), **kwargs)


_exit_code_files = itertools.count()


def start_with_exit_code(prefix, args, env=None):
    """Starts a Windows program (first of args) in `prefix` through tests/tools/exit_code.cpp, as Wine's
    own exit status keeps only 8 bits of its code; returns (process, wait), wait() giving the whole code."""
    name = "exit-code-%d.txt" % next(_exit_code_files)
    result = c_drive(prefix) / name
    result.unlink(missing_ok=True)
    proc = wine_popen(prefix, [BUILD / "tests" / "exit_code.exe", "C:\\" + name] + list(args), env=env)

    def wait(timeout=600):
        status = proc.wait(timeout)
        if status != 0 or not result.exists():
            raise AssertionError("exit_code.exe ended with %d and no code" % status)
        return int(result.read_text())
    return proc, wait


def wineserver(prefix, *args, **kwargs):
    return subprocess.run(RUNNER + ["wineserver"] + list(args), env=wine_env(prefix), **kwargs)


def prefix_pids(prefix):
    """Linux pids of the processes that run in `prefix` (Windows programs and Wine's own)."""
    pids = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and ("WINEPREFIX=%s" % prefix).encode() in (entry / "environ").read_bytes().split(b"\0"):
                pids.append(int(entry.name))
        except OSError:
            continue
    return pids


def window_pids(proc, prefix):
    """The pids whose windows are those of the program started as `proc`. In the 32-bit runtime Wine
    starts a 32-bit program as a process of its own, which `proc` only waits for: any of the prefix's."""
    return [proc.pid] + (prefix_pids(prefix) if RUNNER else [])


def programs(prefix):
    """The command lines of the Windows programs that run in `prefix`, its session's own aside."""
    found = []
    for pid in prefix_pids(prefix):
        try:
            argv0 = Path("/proc/%d/cmdline" % pid).read_bytes().split(b"\0")[0].decode("utf-8", "replace")
        except OSError:
            continue
        name = argv0.replace("\\", "/").rsplit("/", 1)[-1].lower()
        if name and not name.startswith("wineserver") and name not in SESSION_PROGRAMS:
            found.append(argv0)
    return found


def wait_programs_ended(prefix, timeout=120.0):
    """Waits until no Windows program runs in `prefix` (the session itself may stay); True if so."""
    deadline = time.monotonic() + timeout
    while programs(prefix):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


def stop_wineserver(prefix):
    """Ends the prefix's wineserver, which also flushes its registry to system.reg and user.reg."""
    wineserver(prefix, "-k", capture_output=True)
    wineserver(prefix, "-w", capture_output=True)


def reg_add(prefix, key, name, value, kind="REG_SZ"):
    wine(prefix, ["reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"],
         capture_output=True, check=True)


def set_system_proxy(prefix, server):
    """Makes `server` ('host:port') the proxy of the prefix's Internet settings, as a user would."""
    key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
    reg_add(prefix, key, "ProxyEnable", 1, "REG_DWORD")
    reg_add(prefix, key, "ProxyServer", server)
    reg_add(prefix, key, "ProxyOverride", "<-loopback>")


def c_drive(prefix):
    return Path(prefix) / "drive_c"


@contextlib.contextmanager
def small_c_drive(prefix, free):
    """Puts drive C: of `prefix` on a file system of its own with `free` bytes left, as on a full disk
    (tmpfs: needs root), and back afterwards."""
    drive = c_drive(prefix)
    stop_wineserver(prefix)
    full = drive.with_name("drive_c.full")
    drive.rename(full)
    drive.mkdir()
    try:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4g", "tmpfs", str(drive)], check=True)
        subprocess.run(["cp", "-a", str(full) + "/.", str(drive)], check=True)
        used = shutil.disk_usage(drive).used
        subprocess.run(["mount", "-o", "remount,size=%d" % (used + free), str(drive)], check=True)
        yield drive
    finally:
        stop_wineserver(prefix)
        subprocess.run(["umount", str(drive)], capture_output=True)
        if not os.path.ismount(drive):
            # Empty unless something wrote there past the mount.
            shutil.rmtree(drive)
            full.rename(drive)


def utf16_lines(data):
    """The lines of a UTF-16LE log (no byte-order mark), without their CR LF."""
    return data.decode("utf-16-le").split("\r\n")[:-1]


def ended_before_it_ran(returncode, output, seconds):
    """Wine here now and then ends a program with status 1 within milliseconds of its start, before
    the program runs (about once in a thousand starts on a busy machine). A test program always
    prints, so an end like that is Wine's and the program may be started once more
    (tests/wine-run.sh does the same for the unit tests)."""
    if returncode == 0 or output or seconds >= 1.0:
        return False
    print("harness: Wine ended a test program with status %d after %.0f ms, before it printed anything; "
          "starting it once more" % (returncode, seconds * 1000), file=sys.stderr)
    return True


def run_peer_tests(prefix, area, gtest_filter=None, env=None, timeout=900):
    """Runs build/x86_64/tests/<area>_peer_tests.exe under Wine; returns (returncode, output)."""
    exe = BUILD / "tests" / f"{area}_peer_tests.exe"
    args = [exe]
    if gtest_filter:
        args.append(f"--gtest_filter={gtest_filter}")
    for attempt in (1, 2):
        start = time.monotonic()
        proc = wine(prefix, args, env=env, timeout=timeout, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if attempt == 2 or not ended_before_it_ran(proc.returncode, proc.stdout, time.monotonic() - start):
            break
    return proc.returncode, proc.stdout.decode("utf-8", "replace")


def run_peer_case(prefix, area, gtest_filter, env=None, driver=None, timeout=300):
    """Starts the GoogleTest case(s) `gtest_filter` of <area>_peer_tests.exe under Wine, lets
    `driver(proc)` act as the user meanwhile, and returns (returncode, output)."""
    exe = BUILD / "tests" / f"{area}_peer_tests.exe"
    for attempt in (1, 2):
        start = time.monotonic()
        proc = wine_popen(prefix, [exe, "--gtest_filter=" + gtest_filter], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            proc.wait(timeout=0.3)
        except subprocess.TimeoutExpired:
            break
        out = proc.stdout.read()
        if attempt == 2 or not ended_before_it_ran(proc.returncode, out, time.monotonic() - start):
            return proc.returncode, out.decode("utf-8", "replace")
    try:
        if driver is not None:
            driver(proc)
        out, _ = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return proc.returncode, out.decode("utf-8", "replace")
