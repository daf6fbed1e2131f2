"""Authenticode signatures of MirevaleSetup.exe and UnInstall.exe, made by scripts/sign.sh (the rule the
build and the main job use) with a test CA made now and a time-stamp authority run here on loopback
(openssl ts): osslsigncode verifies them against the CA and refuses a changed byte; the timestamp keeps
a signature valid after its certificate has expired; WinVerifyTrust under Wine accepts the signed
programs and refuses a changed or an unsigned one; a failed signing fails loudly and leaves no signed-
looking program; a key in a PKCS#11 token (SoftHSM) signs by its URI; and the build
(cmake/Signing.cmake) signs what it links, or fails and leaves nothing."""

import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

from mirevale import serve, wine
from mirevale.winefiles import windows_path
from mirevale.signing import code_signing_certificates, time_stamp_authority, verify_programs

import harness

SIGN_SH = harness.SOURCE / "scripts" / "sign.sh"
PROGRAMS = {"MirevaleSetup.exe": harness.BUILD / "MirevaleSetup.exe",
            "UnInstall.exe": harness.BUILD / "sample" / "UnInstall.exe"}
URL = "https://mirevale.example/"
SOFTHSM_MODULE = Path("/usr/lib/softhsm/libsofthsm2.so")
BAD_DIGEST, NO_SIGNATURE = "0x80096010", "0x800B0100"


def sign(certificates, files, tsa_url=None, key=None, extra=(), env=None):
    """sign.sh sign with the test publisher's certificate (and its key unless `key`); a timestamp from
    `tsa_url`, or none."""
    command = [SIGN_SH, "sign", "--cert", certificates["signer"], "--key", key or certificates["signer_key"],
               "--url", URL] + (["--tsa", tsa_url] if tsa_url else ["--no-timestamp"]) + list(extra) + list(files)
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, env=env)


def osslsigncode_verify(path, ca, tsa_ca=None, at=None):
    command = ["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", tsa_ca or ca, "-in", path]
    if at is not None:
        command += ["-time", "%d" % at]
    return subprocess.run([str(c) for c in command], capture_output=True, text=True)


def changed_copy(path, dest):
    """A copy of `path` with one byte of its code changed (a third into the file, far from the
    signature at its end and from the header's checksum, which the digest leaves out)."""
    data = bytearray(Path(path).read_bytes())
    data[len(data) // 3] ^= 0x01
    Path(dest).write_bytes(data)
    return Path(dest)


def other_ca(folder):
    """A CA that issued none of the certificates of this test."""
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(folder / "other-ca.key"),
                    "-out", str(folder / "other-ca.pem"), "-days", "30", "-subj", "/CN=Another CA"],
                   check=True, capture_output=True)
    return folder / "other-ca.pem"


class SigningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = harness.scratch("signing")
        # A code-signing certificate that lives one day: the timestamp has to outlive it.
        cls.certificates = code_signing_certificates(cls.work / "pki", days=1)
        cls.other_ca = other_ca(cls.work)
        cls.authority_context = time_stamp_authority(cls.certificates, cls.work / "tsa")
        cls.authority = cls.authority_context.__enter__()
        (cls.work / "signed").mkdir()
        cls.signed = {name: Path(shutil.copy(src, cls.work / "signed" / name)) for name, src in PROGRAMS.items()}
        cls.signing = sign(cls.certificates, cls.signed.values(), cls.authority.url)
        cls.replies = cls.authority.replies
        cls.passed = 0

    @classmethod
    def tearDownClass(cls):
        cls.authority_context.__exit__(None, None, None)
        # A failed case keeps the folder for a look.
        if cls.passed == len([n for n in dir(cls) if n.startswith("test_")]):
            shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.assertEqual(0, self.signing.returncode, self.signing.stdout + self.signing.stderr)

    def done(self):
        type(self).passed += 1

    def token(self):
        """A SoftHSM token holding the test publisher's key, as a deployment's hardware token would:
        (environment that finds it, the key's PKCS#11 URI, the PIN file, a wrong PIN's file)."""
        token = self.work / "token"
        env = dict(os.environ, SOFTHSM2_CONF=str(token / "softhsm2.conf"))
        uri = "pkcs11:token=mirevale-test;object=publisher;type=private"
        if not token.exists():
            (token / "objects").mkdir(parents=True)
            (token / "softhsm2.conf").write_text("directories.tokendir = %s\nobjectstore.backend = file\n"
                                                 "log.level = ERROR\n" % (token / "objects"))
            pkcs8 = token / "publisher.p8"
            subprocess.run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", str(self.certificates["signer_key"]),
                            "-out", str(pkcs8)], check=True, capture_output=True)
            for command in (["--init-token", "--free", "--label", "mirevale-test", "--pin", "1234", "--so-pin", "4321"],
                            ["--import", str(pkcs8), "--token", "mirevale-test", "--label", "publisher", "--id", "01",
                             "--pin", "1234"]):
                subprocess.run(["softhsm2-util"] + command, check=True, capture_output=True, env=env)
            pkcs8.unlink()
            (token / "pin").write_text("1234\n")
            (token / "wrong-pin").write_text("9999\n")
        return env, uri, token / "pin", token / "wrong-pin"

    def test_signed_programs_verify_against_the_test_ca_and_one_changed_byte_fails(self):
        for name, path in self.signed.items():
            with self.subTest(name):
                proc = osslsigncode_verify(path, self.certificates["ca"])
                self.assertEqual(0, proc.returncode, proc.stdout + proc.stderr)
                for wanted in ("Message digest algorithm  : SHA256", "Text description: Mirevale",
                               "URL description: " + URL, "Subject: /CN=Mirevale test publisher",
                               "Timestamp Server Signature verification: ok", "Signature verification: ok"):
                    self.assertIn(wanted, proc.stdout)
                # Signing added the signature and nothing else.
                restored = self.work / ("restored-" + name)
                subprocess.run(["osslsigncode", "remove-signature", "-in", str(path), "-out", str(restored)],
                               check=True, capture_output=True)
                self.assertEqual(PROGRAMS[name].read_bytes(), restored.read_bytes())
                self.assertEqual(PROGRAMS[name].stat().st_mode, path.stat().st_mode)

                changed = changed_copy(path, self.work / ("changed-" + name))
                proc = osslsigncode_verify(changed, self.certificates["ca"])
                self.assertNotEqual(0, proc.returncode, proc.stdout)
                self.assertIn("MISMATCH", proc.stdout)
                proc = osslsigncode_verify(path, self.other_ca, self.other_ca)
                self.assertNotEqual(0, proc.returncode, "verified against a CA that issued nothing\n" + proc.stdout)

        # The verdicts of the rule the main job reports.
        unsigned = PROGRAMS["MirevaleSetup.exe"]
        changed = self.work / "changed-UnInstall.exe"
        proc = verify_programs(self.certificates, list(self.signed.values()) + [changed, unsigned])
        self.assertEqual(1, proc.returncode, proc.stdout)
        lines = proc.stdout.splitlines()
        self.assertEqual(4, len(lines), proc.stdout)
        for line, path in zip(lines, self.signed.values()):
            self.assertRegex(line, r"^%s: valid, signed by /CN=Mirevale test publisher, timestamp .+ 20\d\d GMT "
                                   r"by /CN=Mirevale test time-stamp authority$" % path)
        self.assertEqual("%s: INVALID: its digest does not match its signature: changed after signing" % changed,
                         lines[2])
        self.assertEqual("%s: INVALID: no signature" % unsigned, lines[3])
        proc = subprocess.run([str(SIGN_SH), "verify", "--ca", str(self.other_ca), str(self.signed["UnInstall.exe"])],
                              capture_output=True, text=True)
        self.assertEqual(1, proc.returncode, proc.stdout)
        self.assertIn("INVALID: certificate chain: ", proc.stdout)
        self.done()

    def test_timestamp_from_the_authority_keeps_the_signature_valid_after_the_certificate_expired(self):
        self.assertEqual(len(PROGRAMS), self.replies, "one timestamp per program from the authority run here")
        untimed = Path(shutil.copy(PROGRAMS["UnInstall.exe"], self.work / "untimed-UnInstall.exe"))
        proc = sign(self.certificates, [untimed])
        self.assertEqual(0, proc.returncode, proc.stderr)
        after_expiry = time.time() + 3 * 86400
        for name, path in self.signed.items():
            with self.subTest(name):
                proc = osslsigncode_verify(path, self.certificates["ca"], at=after_expiry)
                self.assertEqual(0, proc.returncode, proc.stdout + proc.stderr)
                # Only a timestamp that chains to a trusted authority counts.
                proc = osslsigncode_verify(path, self.certificates["ca"], self.other_ca, at=after_expiry)
                self.assertNotEqual(0, proc.returncode, proc.stdout)
        self.assertEqual(0, osslsigncode_verify(untimed, self.certificates["ca"]).returncode)
        proc = osslsigncode_verify(untimed, self.certificates["ca"], at=after_expiry)
        self.assertNotEqual(0, proc.returncode, proc.stdout)
        self.assertIn("certificate has expired", proc.stdout + proc.stderr)
        proc = verify_programs(self.certificates, [untimed])
        self.assertEqual(1, proc.returncode, proc.stdout)
        self.assertIn("INVALID: no timestamp that chains to", proc.stdout)
        self.done()

    def test_signing_failures_fail_loudly_and_leave_the_program_as_it_was(self):
        folder = self.work / "failures"
        folder.mkdir()
        wrong_key = folder / "wrong.key"
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-out", str(wrong_key)], check=True,
                       capture_output=True)
        no_authority = "http://127.0.0.1:%d/" % serve.free_port()
        cases = (
            ("missing key", dict(key=folder / "missing.key", tsa_url=self.authority.url), "is not a readable file"),
            ("wrong key", dict(key=wrong_key, tsa_url=self.authority.url), "consistency of a private key"),
            ("unreachable authority", dict(tsa_url=no_authority), "RFC 3161 timestamping failed"),
            ("authority not a URL", dict(tsa_url="ftp://127.0.0.1/"), "is not an http(s) URL"),
        )
        for label, kwargs, wanted in cases:
            with self.subTest(label):
                program = Path(shutil.copy(PROGRAMS["MirevaleSetup.exe"], folder / "MirevaleSetup.exe"))
                proc = sign(self.certificates, [program], **kwargs)
                self.assertEqual(1, proc.returncode, proc.stdout + proc.stderr)
                self.assertIn(wanted, proc.stderr)
                self.assertIn("sign.sh: ", proc.stderr)
                self.assertEqual(PROGRAMS["MirevaleSetup.exe"].read_bytes(), program.read_bytes())
                self.assertEqual(["MirevaleSetup.exe", "wrong.key"], sorted(p.name for p in folder.iterdir()))
        # Neither an authority nor --no-timestamp: a signature that would end with its certificate is refused.
        proc = subprocess.run([str(SIGN_SH), "sign", "--cert", str(self.certificates["signer"]), "--key",
                               str(self.certificates["signer_key"]), "--url", URL, str(program)],
                              capture_output=True, text=True)
        self.assertEqual(1, proc.returncode)
        self.assertIn("no time-stamp authority", proc.stderr)
        # The build's way: the program goes, with every program of the call.
        uninstaller = Path(shutil.copy(PROGRAMS["UnInstall.exe"], folder / "UnInstall.exe"))
        proc = sign(self.certificates, [program, uninstaller], key=wrong_key, extra=["--delete-unsigned"])
        self.assertEqual(1, proc.returncode)
        self.assertEqual(["wrong.key"], sorted(p.name for p in folder.iterdir()))
        self.done()

    def test_key_in_a_pkcs11_token_signs_by_its_uri_and_a_wrong_pin_fails(self):
        env, uri, pin, wrong_pin = self.token()
        program = self.work / "token" / "UnInstall.exe"
        for label, pin_file, status in (("wrong PIN", wrong_pin, 1), ("PIN", pin, 0)):
            with self.subTest(label):
                shutil.copy(PROGRAMS["UnInstall.exe"], program)
                proc = sign(self.certificates, [program], self.authority.url, key=uri, env=env,
                            extra=["--pkcs11-module", SOFTHSM_MODULE, "--pass-file", pin_file])
                self.assertEqual(status, proc.returncode, proc.stdout + proc.stderr)
                if status:
                    self.assertIn("Login failed", proc.stderr)
                    self.assertEqual(PROGRAMS["UnInstall.exe"].read_bytes(), program.read_bytes())
                verified = verify_programs(self.certificates, [program])
                self.assertEqual(status, verified.returncode, verified.stdout)
        # A file name where the token's URI belongs is refused before anything is asked of the token.
        proc = sign(self.certificates, [program], self.authority.url, env=env, extra=["--pkcs11-module", SOFTHSM_MODULE])
        self.assertEqual(1, proc.returncode)
        self.assertIn("the key is a PKCS#11 URI", proc.stderr)
        self.done()

    def test_wine_trusts_the_signed_programs_and_refuses_a_changed_or_an_unsigned_one(self):
        prefix = harness.new_prefix("signing")
        # Trusted as a deployment's root would be on Windows; Wine's check does not look at the chain.
        harness.trust_root(prefix, self.certificates["ca_der"])
        expected = {self.signed["MirevaleSetup.exe"]: "0x00000000", self.signed["UnInstall.exe"]: "0x00000000",
                    changed_copy(self.signed["MirevaleSetup.exe"], self.work / "wine-changed-MirevaleSetup.exe"): BAD_DIGEST,
                    changed_copy(self.signed["UnInstall.exe"], self.work / "wine-changed-UnInstall.exe"): BAD_DIGEST,
                    PROGRAMS["UnInstall.exe"]: NO_SIGNATURE}
        proc = wine.run(prefix, [harness.BUILD / "tests" / "verify_trust.exe"] + [windows_path(p) for p in expected],
                        capture_output=True, timeout=300)
        output = proc.stdout.decode("utf-8", "replace")
        self.assertEqual(1, proc.returncode, output)
        seen = dict(reversed(line.split(" ", 1)) for line in output.splitlines())
        self.assertEqual({windows_path(p): result for p, result in expected.items()}, seen)
        wine.stop_wineserver(prefix)
        shutil.rmtree(prefix.parent, ignore_errors=True)
        self.done()

    def test_build_signs_what_it_links_and_a_failed_signing_leaves_no_program(self):
        project = self.work / "project"
        project.mkdir()
        (project / "main.c").write_text("int main(void) { return 0; }\n")
        (project / "CMakeLists.txt").write_text(
            "cmake_minimum_required(VERSION 3.20)\nproject(SigningCheck C)\n"
            "include(%s/cmake/Signing.cmake)\nadd_executable(check main.c)\nmirevale_sign(check)\n" % harness.SOURCE)
        toolchain = [line.split("=", 1)[1] for line in (harness.BUILD / "CMakeCache.txt").read_text().splitlines()
                     if line.startswith("CMAKE_TOOLCHAIN_FILE:")][0]
        build = project / "build"
        program = build / "check.exe"
        wrong_key = project / "wrong.key"
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-out", str(wrong_key)], check=True,
                       capture_output=True)

        def configure(**settings):
            args = ["-D%s=%s" % ("MIREVALE_SIGN_" + k, v) for k, v in settings.items()]
            return subprocess.run(["cmake", "-S", str(project), "-B", str(build), "-DCMAKE_TOOLCHAIN_FILE=" + toolchain]
                                  + args, capture_output=True, text=True)

        env, uri, pin, _ = self.token()

        def build_program():
            return subprocess.run(["cmake", "--build", str(build)], capture_output=True, text=True, env=env)

        key = Path(shutil.copy(self.certificates["signer_key"], project / "publisher.key"))
        signed = dict(CERT=self.certificates["signer"], KEY=key, TSA=self.authority.url, URL=URL, PKCS11_MODULE="",
                      PASS_FILE="")
        in_token = dict(signed, KEY=uri, PKCS11_MODULE=SOFTHSM_MODULE, PASS_FILE=pin)
        # The settings stay; only the key file's content changes, as when a key is replaced in place.
        for label, settings, built, key_content in (("signed", signed, True, key.read_bytes()),
                                                    ("wrong key", signed, False, wrong_key.read_bytes()),
                                                    ("key in a token", in_token, True, b"")):
            with self.subTest(label):
                if key_content:
                    key.write_bytes(key_content)
                proc = configure(**settings)
                self.assertEqual(0, proc.returncode, proc.stdout + proc.stderr)
                proc = build_program()
                self.assertEqual(built, proc.returncode == 0, proc.stdout + proc.stderr)
                self.assertEqual(built, program.is_file())
                if built:
                    verified = verify_programs(self.certificates, [program])
                    self.assertEqual(0, verified.returncode, verified.stdout)
                    self.assertIn("URL description: " + URL, osslsigncode_verify(program, self.certificates["ca"]).stdout)
                else:
                    self.assertIn("sign.sh: signing %s failed" % program, proc.stdout + proc.stderr)

        for label, settings, wanted in (
                ("no key", dict(signed, KEY=""), "MIREVALE_SIGN_KEY is not"),
                ("no authority", dict(signed, TSA=""), "MIREVALE_SIGN_TSA must be"),
                ("missing key file", dict(signed, KEY=project / "missing.key"), "does not exist"),
                ("key without certificate", dict(signed, CERT=""), "MIREVALE_SIGN_CERT is not"),
                ("no product URL", dict(signed, URL=""), "MIREVALE_SIGN_URL must be")):
            with self.subTest(label):
                proc = configure(**settings)
                self.assertNotEqual(0, proc.returncode, proc.stdout)
                self.assertIn(wanted, " ".join(proc.stderr.split()))  # CMake wraps its messages

        # Signing switched off: the program is linked again, unsigned.
        self.assertEqual(0, configure(CERT="", KEY="", PKCS11_MODULE="").returncode)
        proc = build_program()
        self.assertEqual(0, proc.returncode, proc.stdout + proc.stderr)
        self.assertIn("INVALID: no signature", verify_programs(self.certificates, [program]).stdout)
        self.done()


if __name__ == "__main__":
    unittest.main()
