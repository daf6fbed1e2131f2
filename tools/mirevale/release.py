"""A release: publishing it (the native publisher, tools/publish/publish-sample.sh), checking it, reading
what it serves (UTF-16 lists, the CRC list, the manifest, the terms of release.sha256), and release keys
and signatures made by the openssl command line or the publisher."""

import hashlib
import re
import subprocess
import time
from pathlib import Path

from mirevale import Unusable
from mirevale.builds import PUBLISHER, SOURCE, say

PUBLISH_SAMPLE = SOURCE / "tools" / "publish" / "publish-sample.sh"


# ---------------------------------------------------------------------------------------------------
# What a release serves.

def served_text_lines(data):
    """Lines of a served UTF-16LE text (byte-order mark, CR LF), empty lines dropped."""
    text = data[2:].decode("utf-16-le", "replace").split("\0", 1)[0]
    return [line.strip("\r\n") for line in text.split("\r") if line.strip("\r\n")]


def crc_list(data):
    """(name with backslashes, crc) for every usable line of filecrc.txt, in file order."""
    entries = []
    for line in served_text_lines(data):
        fields = [f for f in line.split(";") if f]
        if len(fields) == 2:
            digits = re.match(r"\s*([+-]?)(\d*)", fields[1])
            value = int(digits.group(2) or 0)
            value = (-value) % 2**32 if digits.group(1) == "-" else min(value, 2**32 - 1)
            entries.append((fields[0], value))
    return entries


def manifest(data):
    """Package names of an orbsetup.txt, in its order."""
    return [line.split(";")[0] for line in served_text_lines(data)]


def release_terms(data):
    """(serial, expiry in Unix seconds or None) of a release.sha256: the lines of reserved names ':serial'
    and ':expires' (serial 0 when it has none, a list from before serials)."""
    terms = {}
    for line in data.decode("utf-8").splitlines():
        digest, size, name = line.split("  ", 2)
        if name.startswith(":"):
            terms[name] = int(size)
    return terms.get(":serial", 0), terms.get(":expires")


# ---------------------------------------------------------------------------------------------------
# Publishing with the native publisher.

def publisher_key(pem):
    """A release's private key kept in `pem` and its public key's hex, made by the publisher on first use
    (the public key beside it, .pub). The main job keeps its key in the build tree like any other
    generated file, never committed."""
    pub = pem.with_suffix(".pub")
    if not pem.is_file():
        pem.parent.mkdir(parents=True, exist_ok=True)
        proc = subprocess.run([str(PUBLISHER), "keygen", str(pem)], capture_output=True, text=True)
        if proc.returncode != 0:
            raise Unusable("mirevale-publish keygen %s failed: %s" % (pem, proc.stderr.strip()))
        pub.write_text(proc.stdout)
        say("made the sample release's key %s (public key in %s)" % (pem, pub))
    if not pub.is_file():
        raise Unusable("%s has no public key file %s: remove the key to make a new one" % (pem, pub))
    return pem, pub.read_text().strip()


def publish(description, output, key=None):
    """Publishes the release of a description file with the native publisher; with a private key file
    also its signed list."""
    sign = ["--sign", str(key)] if key else []
    subprocess.run([str(PUBLISHER)] + sign + [str(description), str(output)], check=True,
                   stdout=subprocess.DEVNULL)


def publish_sample(release, pem, key_hex, build, expiry_days):
    """The sample release published by publish-sample.sh into `release` with the client and uninstaller
    of `build`, signed with `pem` and expiring in `expiry_days`, then checked against `key_hex`."""
    say("publishing the sample release into %s, signed with %s, expiring in %d days" % (release, pem, expiry_days))
    proc = subprocess.run([str(PUBLISH_SAMPLE), str(release), str(build), "--sign", str(pem),
                           "--expires", str(expiry_days)], capture_output=True, text=True)
    if proc.returncode != 0:
        raise Unusable("publish-sample.sh failed (%d):\n%s%s" % (proc.returncode, proc.stdout, proc.stderr))
    check(release, key_hex)
    say("release signature: valid (key %s)" % key_hex)
    serial, expires = release_terms((Path(release) / "release.sha256").read_bytes())
    say("release:     serial %d, %s" % (serial, "expires %s UTC" % time.strftime("%Y-%m-%d %H:%M:%S",
                                                                             time.gmtime(expires))
                                        if expires is not None else "no expiry"))


def check(where, key_hex):
    """mirevale-publish --check of a folder or URL against the public key; prints its verdict."""
    proc = subprocess.run([str(PUBLISHER), "--check", str(where), "--key", key_hex], capture_output=True, text=True)
    lines = (proc.stdout + proc.stderr).splitlines()
    for line in lines if proc.returncode != 0 else lines[-1:]:
        say("  --check " + line)
    if proc.returncode != 0:
        raise Unusable("mirevale-publish --check %s failed (%d)" % (where, proc.returncode))


# ---------------------------------------------------------------------------------------------------
# Keys and signatures by the openssl command line, as a deployment without the publisher makes them.

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
    and expiry (Unix seconds) when given, and signs it with `openssl dgst`."""
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
