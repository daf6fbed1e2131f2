"""The end-to-end tests' own layer over the tools/mirevale package: the build's paths as the tests name
them, scratch folders in the build tree, prefixes copied per case, and peers that only the tests use
(squid with basic auth, nginx over TLS with a test CA, a drive C: that is nearly full, GoogleTest
programs run against real servers).

Everything binds 127.0.0.1 on ports chosen free, and lives in a scratch folder of the build tree."""

import contextlib
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from mirevale import serve, wine
from mirevale.builds import BUILD, RUNNER, SOFTWARE, SOURCE, TEMPLATE_PREFIX, WIDTH  # noqa: F401 (the tests' paths)
from mirevale.winefiles import c_drive


def scratch(tag):
    """A new folder under build/x86_64/e2e, readable by the peers' unprivileged users."""
    root = BUILD / "e2e"
    root.mkdir(parents=True, exist_ok=True)
    path = Path(tempfile.mkdtemp(prefix=tag + "-", dir=root))
    path.chmod(0o755)
    return path


def nginx(root, port=None, tls=None, path="/EX/"):
    """serve.nginx() with its files in a scratch folder: yields the URL of folder `root`."""
    return serve.nginx(root, scratch("nginx"), port, tls, path)


def new_prefix(tag):
    """A copy of the build's template prefix, for a case that needs its own registry and drive."""
    return wine.copy_prefix(scratch(tag) / "prefix")


def tls_certificates():
    """serve.tls_certificates() in a scratch folder."""
    return serve.tls_certificates(scratch("tls"))


def trust_root(prefix, der):
    """Adds the certificate file `der` to the machine's trusted roots in `prefix`."""
    wine.run(prefix, [BUILD / "tests" / "add_root_certificate.exe", der], check=True, capture_output=True)


@contextlib.contextmanager
def squid(user, password):
    """A caching-free HTTP proxy that demands basic authentication; yields 'host:port'."""
    port = serve.free_port()
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
        serve.wait_for_port(port, timeout=30, proc=proc)
        yield f"127.0.0.1:{port}"
    finally:
        serve.stop_process(proc)


def set_system_proxy(prefix, server):
    """Makes `server` ('host:port') the proxy of the prefix's Internet settings, as a user would."""
    key = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
    wine.reg_add(prefix, key, "ProxyEnable", 1, "REG_DWORD")
    wine.reg_add(prefix, key, "ProxyServer", server)
    wine.reg_add(prefix, key, "ProxyOverride", "<-loopback>")


@contextlib.contextmanager
def small_c_drive(prefix, free):
    """Puts drive C: of `prefix` on a file system of its own with `free` bytes left, as on a full disk
    (tmpfs: needs root), and back afterwards."""
    drive = c_drive(prefix)
    wine.stop_wineserver(prefix)
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
        wine.stop_wineserver(prefix)
        subprocess.run(["umount", str(drive)], capture_output=True)
        if not os.path.ismount(drive):
            # Empty unless something wrote there past the mount.
            shutil.rmtree(drive)
            full.rename(drive)


def run_peer_tests(prefix, area, gtest_filter=None, env=None, timeout=900):
    """Runs build/x86_64/tests/<area>_peer_tests.exe under Wine; returns (returncode, output)."""
    args = [BUILD / "tests" / f"{area}_peer_tests.exe"]
    if gtest_filter:
        args.append(f"--gtest_filter={gtest_filter}")
    proc = wine.run_test_program(prefix, args, env=env, timeout=timeout)
    return proc.returncode, proc.stdout.decode("utf-8", "replace")


def run_peer_case(prefix, area, gtest_filter, env=None, driver=None, timeout=300):
    """Starts the GoogleTest case(s) `gtest_filter` of <area>_peer_tests.exe under Wine, lets
    `driver(proc)` act as the user meanwhile, and returns (returncode, output)."""
    exe = BUILD / "tests" / f"{area}_peer_tests.exe"
    for attempt in (1, 2):
        start = time.monotonic()
        proc = wine.popen(prefix, [exe, "--gtest_filter=" + gtest_filter], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            proc.wait(timeout=0.3)
        except subprocess.TimeoutExpired:
            break
        out = proc.stdout.read()
        if attempt == 2 or not wine.ended_before_it_ran(proc.returncode, out, time.monotonic() - start):
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
