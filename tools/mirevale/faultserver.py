"""A scripted HTTP server for what nginx cannot do: bodies cut short of their Content-Length,
odd status codes, stalls, absurd declared lengths. Paths name the fault:

  /EX/truncated/<declared>/<sent>  Content-Length <declared>, <sent> bytes, then the connection closes
  /EX/status/<code>                that status with a short body
  /EX/stall/<seconds>              headers, then silence for <seconds>
  /EX/huge                         declares 3,000,000,000 bytes and sends 64 KiB
  /EX/chunked/<size>               <size> bytes in chunked transfer coding (no Content-Length)
  /EX/short-rest/<total>/<sent>    a 206 for the Range asked of a <total>-byte body, without a length of
                                   its own: <sent> bytes of it, then the connection closes

file_server() is a second kind: a folder served like nginx serves it (ETag, "Range: bytes=N-" with
If-Range), with faults scripted per file (failing, corrupt or cut-off answers, requests held until the
client side lets them go, ranges ignored, slow bodies) and requests and body bytes counted.
"""

import contextlib
import socket
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path


def pattern(n):
    return bytes((i * 7 + 3) & 0xFF for i in range(n))


class QuietHandler(BaseHTTPRequestHandler):
    """HTTP/1.1 with keep-alive, no console log, and a whole-body answer."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, code, body):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


@contextlib.contextmanager
def serving(server):
    """Runs `server` on a daemon thread for the life of the context."""
    server.daemon_threads = True
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield server
    finally:
        server.shutdown()
        server.server_close()


class Handler(QuietHandler):

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        if parts[:1] != ["EX"] or len(parts) < 2:
            return self._status(404)
        kind, args = parts[1], parts[2:]
        if kind == "truncated":
            declared, sent = int(args[0]), int(args[1])
            self.send_response(200)
            self.send_header("Content-Length", str(declared))
            self.end_headers()
            self.wfile.write(pattern(sent))
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        elif kind == "status":
            self._status(int(args[0]))
        elif kind == "stall":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"x" * 10)
            self.wfile.flush()
            time.sleep(float(args[0]))
            self.close_connection = True
        elif kind == "huge":
            self.send_response(200)
            self.send_header("Content-Length", "3000000000")
            self.end_headers()
            self.wfile.write(pattern(65536))
            self.wfile.flush()
            self.close_connection = True
        elif kind == "chunked":
            body = pattern(int(args[0]))
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(0, len(body), 3000):
                piece = body[i:i + 3000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif kind == "short-rest":
            total, sent = int(args[0]), int(args[1])
            start = int(self.headers.get("Range", "bytes=0-")[len("bytes="):-1])
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, total - 1, total))
            self.end_headers()
            self.wfile.write(pattern(total)[start:start + sent])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        else:
            self._status(404)

    def _status(self, code):
        self.send_body(code, b"status %d" % code)


@contextlib.contextmanager
def fault_server():
    """Yields the server's base URL, http://127.0.0.1:PORT/EX/."""
    with serving(ThreadingHTTPServer(("127.0.0.1", 0), Handler)) as server:
        yield "http://127.0.0.1:%d/EX/" % server.server_address[1]


GARBAGE = b"this is not a zip archive\r\n" * 8
HOLD_LIMIT = 30.0
# What an "endless" body sends at most, in pieces of ZEROS.
ENDLESS_LIMIT = 1 << 30
ZEROS = bytes(64 << 10)


class FileServer:
    """Serves the files of `folder` at /EX/<name>, like nginx, except for what a case scripts:

      script(name, step, ...)  the next requests for <name> answer with these steps, one per request,
                               then the file itself. A step is "404" (any status), "garbage" (200 with
                               a body that is no zip archive), "file", "damaged" (the file with its
                               first byte changed), "whole" (the file, whatever range was asked for),
                               "cut P" (the file's answer, ended with the connection at P% of the
                               file), "slow S" (the file's answer spread over S seconds), "longer N"
                               (the file and N bytes more, all declared), "endless" (the file, then
                               zeros without end and without a length, until the client lets go) or
                               "chunk SIZE" (the same in chunked coding, its first chunk declaring the
                               size text SIZE, such as -1), optionally preceded by "hold "
      /EX/release/<name>       lets a held request for <name> (an earlier or a later one) go on;
                               release(name) from the test's side
      /EX/arrived/<name>       answers once a held request for <name> has arrived (504 if none comes);
                               wait_arrived(name) from the test's side
      requests(name)           how many requests for <name> arrived (control paths not counted)
      sent(name)               body bytes of the file <name> sent in all
      ranges(name)             the Range header of each request for the file (None without one)

    A held request that nobody releases goes on after HOLD_LIMIT seconds, so a broken run fails its
    checks instead of hanging."""

    def __init__(self, base):
        self.base = base
        self.folder = None
        self._lock = threading.Lock()
        self.reset()

    def reset(self, folder=None):
        with self._lock:
            self.folder = folder
            self._steps = {}
            self._counts = {}
            self._released = {}
            self._arrived = {}
            self._sent = {}
            self._ranges = {}

    def script(self, name, *steps):
        with self._lock:
            self._steps.setdefault(name, []).extend(steps)

    def requests(self, name):
        with self._lock:
            return self._counts.get(name, 0)

    def sent(self, name):
        with self._lock:
            return self._sent.get(name, 0)

    def ranges(self, name):
        with self._lock:
            return list(self._ranges.get(name, []))

    def release(self, name):
        self._event(self._released, name).set()

    def wait_arrived(self, name):
        return self._event(self._arrived, name).wait(HOLD_LIMIT)

    def _event(self, table, name):
        with self._lock:
            return table.setdefault(name, threading.Event())

    def _next_step(self, name):
        with self._lock:
            self._counts[name] = self._counts.get(name, 0) + 1
            steps = self._steps.get(name)
            return steps.pop(0) if steps else "file"

    def answer(self, handler, name):
        kind, _, rest = name.partition("/")
        if kind == "release":
            self.release(rest)
            return handler.send_body(200, b"released")
        if kind == "arrived":
            arrived = self.wait_arrived(rest)
            return handler.send_body(200 if arrived else 504, b"arrived" if arrived else b"nothing arrived")
        step = self._next_step(name)
        if step.startswith("hold "):
            self._event(self._arrived, name).set()
            self._event(self._released, name).wait(HOLD_LIMIT)
            step = step[len("hold "):]
        if step == "garbage":
            return handler.send_body(200, GARBAGE)
        path = Path(self.folder or ".") / name
        kind, _, arg = step.partition(" ")
        if kind in ("file", "damaged", "whole", "cut", "slow", "longer", "endless", "chunk") \
                and self.folder is not None and path.is_file():
            return self._send_file(handler, name, path, kind, arg)
        code = int(step) if step.isdigit() else 404
        handler.send_body(code, b"status %d" % code)

    def _send_file(self, handler, name, path, kind, arg):
        body = path.read_bytes()
        etag = '"%x-%x"' % (path.stat().st_mtime_ns, len(body))  # as nginx makes it, to the nanosecond
        if kind == "longer":
            body += b"\0" * int(arg)
        if kind == "endless":
            return self._send_endless(handler, name, body)
        if kind == "chunk":
            return self._send_endless(handler, name, arg.encode() + b"\r\n" + body, chunked=True)
        if kind == "damaged":
            body = bytes([body[0] ^ 1]) + body[1:]
        asked = handler.headers.get("Range")
        with self._lock:
            self._ranges.setdefault(name, []).append(asked)
        start = 0
        if asked and kind != "whole" and handler.headers.get("If-Range", etag) == etag:
            start = int(asked[len("bytes="):-1])
            if start >= len(body):
                return handler.send_body(416, b"")
        handler.send_response(206 if start else 200)
        handler.send_header("Content-Length", str(len(body) - start))
        handler.send_header("ETag", etag)
        if start:
            handler.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))
        handler.end_headers()
        end = max(start, len(body) * int(arg) // 100) if kind == "cut" else len(body)
        piece = max(1, (end - start) // 100) if kind == "slow" else max(1, end - start)
        try:
            for offset in range(start, end, piece):
                handler.wfile.write(body[offset:min(end, offset + piece)])
                with self._lock:
                    self._sent[name] = self._sent.get(name, 0) + min(end, offset + piece) - offset
                if kind == "slow":
                    handler.wfile.flush()
                    time.sleep(float(arg) / 100)
            if end < len(body):
                handler.close_connection = True
                handler.wfile.flush()
                handler.connection.shutdown(socket.SHUT_RDWR)
        except ConnectionError:
            handler.close_connection = True


    def _send_endless(self, handler, name, body, chunked=False):
        handler.send_response(200)
        if chunked:
            handler.send_header("Transfer-Encoding", "chunked")
        handler.end_headers()
        handler.close_connection = True
        try:
            handler.wfile.write(body)
            with self._lock:
                self._sent[name] = self._sent.get(name, 0) + len(body)
            # Bounded all the same, so that a client that never stops cannot keep a test running.
            for _ in range(ENDLESS_LIMIT // len(ZEROS)):
                handler.wfile.write(ZEROS)
                handler.wfile.flush()
                with self._lock:
                    self._sent[name] += len(ZEROS)
        except ConnectionError:
            pass


class FileHandler(QuietHandler):
    def do_GET(self):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if not path.startswith("/EX/") or len(path) == len("/EX/"):
            return self.send_body(404, b"not found")
        self.server.files.answer(self, path[len("/EX/"):])


@contextlib.contextmanager
def file_server():
    """Yields a FileServer on http://127.0.0.1:PORT/EX/; set its folder with reset(folder)."""
    server = ThreadingHTTPServer(("127.0.0.1", 0), FileHandler)
    server.files = FileServer("http://127.0.0.1:%d/EX/" % server.server_address[1])
    with serving(server):
        yield server.files


class HeldRelease:
    """A release folder served at /EX/<name> on a fixed port (the installer's built-in base URL), where
    a test can hold the download of any file at a point of its choice:

      hold(name)            requests for <name> send their header lines one every TRICKLE seconds, so
                            that the client's receive time-out never strikes and no byte of the body
                            (which would move the progress) arrives
      let_go(name)          held and later requests for <name> send the rest at once
      slow(name, seconds)   requests for <name> spread the body over that many seconds
      wait_requested(name)  waits until a request for <name> has arrived
      count(name)           requests for <name> so far"""

    TRICKLE = 2.0

    def __init__(self, folder):
        self.folder = str(folder)
        self._lock = threading.Condition()
        self._counts = {}
        self._gates = {}
        self._slow = {}

    def slow(self, name, seconds):
        with self._lock:
            self._slow[name] = seconds

    def hold(self, name):
        with self._lock:
            self._gates[name] = threading.Event()

    def let_go(self, name):
        with self._lock:
            self._gates.setdefault(name, threading.Event()).set()

    def let_go_all(self):
        with self._lock:
            for gate in self._gates.values():
                gate.set()

    def count(self, name):
        with self._lock:
            return self._counts.get(name, 0)

    def wait_requested(self, name, times=1, timeout=60.0):
        with self._lock:
            return self._lock.wait_for(lambda: self._counts.get(name, 0) >= times, timeout)

    def answer(self, handler, name):
        with self._lock:
            self._counts[name] = self._counts.get(name, 0) + 1
            gate = self._gates.get(name)
            seconds = self._slow.get(name, 0)
            self._lock.notify_all()
        try:
            with open(self.folder + "/" + name, "rb") as f:
                body = f.read()
        except OSError:
            return handler.send_body(404, b"not found")
        handler.send_response(200)
        handler.send_header("Content-Length", str(len(body)))
        try:
            while gate is not None and not gate.is_set():
                handler.send_header("X-Held", "1")
                handler.flush_headers()
                gate.wait(self.TRICKLE)
            handler.end_headers()
            piece = max(1, len(body) // 100 if seconds else len(body))
            for offset in range(0, len(body), piece):
                handler.wfile.write(body[offset:offset + piece])
                handler.wfile.flush()
                time.sleep(seconds / 100)
        except ConnectionError:
            handler.close_connection = True


class HeldReleaseHandler(QuietHandler):
    def do_GET(self):
        name = self.path[len("/EX/"):]
        if not self.path.startswith("/EX/") or not name:
            return self.send_body(404, b"not found")
        self.server.release.answer(self, name)


@contextlib.contextmanager
def held_release(folder, port, bind_timeout=120.0):
    """Yields a HeldRelease of `folder` on http://127.0.0.1:<port>/EX/, waiting for the port while
    another test run uses it."""
    deadline = time.monotonic() + bind_timeout
    while True:
        try:
            server = ThreadingHTTPServer(("127.0.0.1", port), HeldReleaseHandler)
            break
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(1)
    server.release = HeldRelease(folder)
    with serving(server):
        try:
            yield server.release
        finally:
            server.release.let_go_all()
