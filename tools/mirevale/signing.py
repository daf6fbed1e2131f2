"""Signed programs: a test CA with a code-signing and a time-stamp authority's certificate (the openssl
command line), an RFC 3161 time-stamp authority on loopback, and scripts/sign.sh's verdicts."""

import contextlib
import http.server
import shutil
import subprocess
import tempfile
from pathlib import Path

from mirevale.builds import SOURCE
from mirevale.faultserver import serving

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


class TimeStampReply(http.server.BaseHTTPRequestHandler):
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
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampReply)
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


def authenticode(certificates, programs):
    """verify_programs() of `programs`: (valid, the lines it printed)."""
    proc = verify_programs(certificates, programs)
    return proc.returncode == 0, (proc.stdout + proc.stderr).strip().splitlines()
