"""nginx serving a release folder on loopback: one configuration for the tests, the main job and the
benchmark, and serving at exactly the installer's built-in base URL (the main job)."""

import contextlib
import errno
import fcntl
import os
import shutil
import socket
import subprocess
import time
import urllib.parse
import urllib.request
from pathlib import Path

from mirevale import Unusable
from mirevale.builds import say

# The access log's format when the request times are wanted (see timed_requests).
REQUEST_TIMES = "$msec $request_time $status $body_bytes_sent $uri"


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


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def start_nginx(root, port, work, path="/EX/", tls=None, request_times=False):
    """Starts nginx serving folder `root` at http://127.0.0.1:PORT<path> (over TLS with `tls`, a pair
    of certificate and key files), with its configuration, logs and temporary files in folder `work`;
    with `request_times` its access log has the REQUEST_TIMES format. Returns the process (not yet known
    to listen)."""
    work = Path(work)
    (work / "tmp").mkdir(parents=True, exist_ok=True)
    work.chmod(0o755)
    user = "user root root;" if os.geteuid() == 0 else ""
    access = (f"log_format times '{REQUEST_TIMES}';\n    access_log {work}/access.log times;" if request_times
              else f"access_log {work}/access.log;")
    conf = work / "nginx.conf"
    conf.write_text(f"""
worker_processes 1;
{user}
pid {work}/nginx.pid;
error_log {work}/error.log;
daemon off;
events {{ worker_connections 64; }}
http {{
    {access}
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


def timed_requests(access_log, since, until):
    """(start, seconds, status, bytes, uri) of the requests in a REQUEST_TIMES access log that ended within
    [since, until] (Unix seconds)."""
    out = []
    for line in Path(access_log).read_text().splitlines():
        end, seconds, status, size, uri = line.split(" ", 4)
        end, seconds = float(end), float(seconds)
        if since <= end <= until + 0.01:
            out.append((end - seconds, seconds, int(status), int(size), uri))
    return out


@contextlib.contextmanager
def nginx(root, work, port=None, tls=None, path="/EX/"):
    """Serves folder `root` as http://127.0.0.1:PORT<path> and yields that URL; with `tls` (a pair of
    certificate and key files) as https://localhost:PORT<path>, the name the certificates carry."""
    port = port or free_port()
    proc = start_nginx(root, port, work, path, tls=tls)
    try:
        wait_for_port(port, proc=proc)
        yield f"https://localhost:{port}{path}" if tls else f"http://127.0.0.1:{port}{path}"
    finally:
        stop_process(proc)


def tls_certificates(work):
    """Server certificates made now by a test CA (nothing of it is kept in the repository), each a
    pair of certificate and key files: "good" for localhost, "wrong_host" for another name,
    "expired" (January 2024) and "unknown_issuer" (signed by a CA nobody trusts); "root" is the test
    CA's certificate in DER form, for a machine's trusted roots. Made in folder `work`."""
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)

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


# ---------------------------------------------------------------------------------------------------
# The installer's built-in base URL, whose port is fixed.

def port_taken(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
        except OSError as e:
            if e.errno == errno.EADDRINUSE:
                return True
            raise
    return False


def port_holder(port):
    if not shutil.which("ss"):
        return ""
    out = subprocess.run(["ss", "-Hltnp", "sport = :%d" % port], capture_output=True, text=True).stdout.strip()
    return (" (" + " ".join(out.split()) + ")") if out else ""


@contextlib.contextmanager
def port_lock(port, wait):
    """Serialises the runs that serve the built-in base URL on this machine."""
    path = Path("/tmp/mirevale-base-url-%d.lock" % port)
    with open(path, "a") as f:
        deadline = time.monotonic() + wait
        while True:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    raise Unusable("another main-job run holds %s" % path)
                time.sleep(0.5)
        yield


@contextlib.contextmanager
def serve_at(release, base_url, work, wait):
    """nginx serving `release` at exactly the built-in base URL; fails when the port is someone else's
    (after waiting `wait` seconds for it)."""
    url = urllib.parse.urlsplit(base_url)
    if url.hostname not in ("127.0.0.1", "localhost"):
        raise Unusable("the installer was built for %s, which this machine cannot serve; rebuild with "
                       "-DMIREVALE_BASE_URL=http://127.0.0.1:PORT/EX/" % base_url)
    port = url.port or 80
    with port_lock(port, wait):
        deadline = time.monotonic() + wait
        while True:
            while port_taken(port):
                if time.monotonic() >= deadline:
                    raise Unusable("port %d of the built-in base URL %s is taken%s; stop what listens there "
                                   "(or build with another -DMIREVALE_BASE_URL)" % (port, base_url, port_holder(port)))
                time.sleep(1)
            if work.exists():
                shutil.rmtree(work)
            proc = start_nginx(release, port, work, url.path)
            try:
                if _serves(proc, port, base_url, release):
                    break
            except BaseException:
                stop_process(proc)
                raise
            stop_process(proc)
            if time.monotonic() >= deadline:
                raise Unusable("nginx could not take port %d%s; see %s" % (port, port_holder(port), work / "error.log"))
        try:
            say("serving %s at %s (nginx, config %s)" % (release, base_url, work / "nginx.conf"))
            yield base_url
        finally:
            stop_process(proc)


def _serves(proc, port, base_url, release):
    """True when our nginx listens and answers with our files (not another server on the port)."""
    try:
        wait_for_port(port, proc=proc)
    except RuntimeError:
        return False
    try:
        with urllib.request.urlopen(base_url + "filecrc.txt", timeout=10) as r:
            body = r.read()
    except OSError:
        return False
    return proc.poll() is None and body == (Path(release) / "filecrc.txt").read_bytes()
