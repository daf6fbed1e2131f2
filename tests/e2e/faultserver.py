"""A scripted HTTP server for what nginx cannot do: bodies cut short of their Content-Length,
odd status codes, stalls, absurd declared lengths. Paths name the fault:

  /EX/truncated/<declared>/<sent>  Content-Length <declared>, <sent> bytes, then the connection closes
  /EX/status/<code>                that status with a short body
  /EX/stall/<seconds>              headers, then silence for <seconds>
  /EX/huge                         declares 3,000,000,000 bytes and sends 64 KiB
  /EX/chunked/<size>               <size> bytes in chunked transfer coding (no Content-Length)
"""

import contextlib
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def pattern(n):
    return bytes((i * 7 + 3) & 0xFF for i in range(n))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

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
        else:
            self._status(404)

    def _status(self, code):
        body = b"status %d" % code
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


@contextlib.contextmanager
def fault_server():
    """Yields the server's base URL, http://127.0.0.1:PORT/EX/."""
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d/EX/" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()
