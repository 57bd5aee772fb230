#!/usr/bin/env python3
# Scriptable HTTP and HTTPS storage node for the tests: stores uploads under
# their XBSA-CWD and XBSA-STOR names, serves XBSA-RETR downloads, injects faults.
"""
Usage: http_peer.py --root DIR --port-file FILE --log FILE [--script FILE]
                    [--cert FILE --key FILE] [--lifetime SECONDS]

With --cert and --key the node speaks HTTPS. The script is a JSON object;
every key is optional:
  status        final status code (default 201 for an upload, 200 for a download)
  early_status  upload: answer this status instead of "100 Continue", read no body
  reply         value of the reply header (default "OK")
  reply_name    name of the reply header (default "Reply")
  no_reply      send no reply header
  body          response body of an upload
  cut_after     close the connection (reset) after that many body bytes
  stall_after   stop reading (upload) or sending (download) after that many body bytes
  fail_after    upload: after that many body bytes answer "status" (default 500) and close
  hold_response upload: read the whole body, then never answer
  silent        accept the connection, never read or answer
  hold          seconds a stalled or silent connection is held (default 60)
  header_trickle  answer with a status line and then one more header line
                every that many seconds, never ending the headers
  endless_continue  answer "100 Continue" every that many seconds for ever
                (an upload's body is read after the first one)
  body_trickle  upload: store the body, then answer with a chunked response
                body that never ends, one 64-byte chunk every that many
                seconds (0: as fast as it goes)
Each request appends "-- request METHOD PATH", its XBSA-*, Expect and
Transfer-Encoding headers ("Name: value", in order) and "-- stored PATH N"
or "-- served PATH N" to the log file.
"""
import argparse
import http.server
import json
import os
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

SCRIPT = {}
ROOT = "."
LOG_LOCK = threading.Lock()
LOG_FILE = None


def log(line):
    with LOG_LOCK:
        with open(LOG_FILE, "a") as f:
            f.write(line + "\n")


def hold(sock):
    time.sleep(SCRIPT.get("hold", 60))


def reset(sock):
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    try:
        sock.close()
    except OSError:
        pass


def object_path(headers, key):
    cwd = headers.get("XBSA-CWD", "").strip().lstrip("/")
    name = headers.get(key, "").strip()
    parts = [p for p in (cwd.split("/") + [name]) if p]
    if not name or any(p == ".." for p in parts):
        return None
    return os.path.join(ROOT, *parts)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write(fmt % args + "\n")

    def handle(self):
        if SCRIPT.get("silent"):
            hold(self.connection)
            return
        super().handle()

    def log_request_headers(self):
        log("-- request %s %s" % (self.command, self.path))
        for name, value in self.headers.items():
            low = name.lower()
            if low.startswith("xbsa-") or low in ("expect", "transfer-encoding"):
                log("%s: %s" % (name, value))

    def trickle_headers(self):
        """Headers that never end: one line every header_trickle seconds."""
        self.wfile.write(b"HTTP/1.1 200 OK\r\n")
        n = 0
        while True:
            n += 1
            self.wfile.write(b"X-Trickle-%d: more to come\r\n" % n)
            self.wfile.flush()
            time.sleep(SCRIPT["header_trickle"])

    def trickle_body(self):
        """A final answer whose chunked body never ends."""
        self.send_response(SCRIPT.get("status", 201))
        self.send_header(SCRIPT.get("reply_name", "Reply"), SCRIPT.get("reply", "OK"))
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        try:
            while True:
                self.wfile.write(b"40\r\n" + b"e" * 64 + b"\r\n")
                self.wfile.flush()
                time.sleep(SCRIPT["body_trickle"])
        except OSError as e:
            log("-- client went away: %s" % e)
        self.close_connection = True

    def endless_continue(self):
        while True:
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            self.wfile.flush()
            time.sleep(SCRIPT["endless_continue"])

    def never_answer(self, upload):
        """The scripted answers that never end; False when none applies."""
        try:
            if upload and "endless_continue" in SCRIPT:
                self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                self.wfile.flush()
                data, _ = self.read_body(None)
                log("-- body read %d" % len(data))
                self.endless_continue()
            if upload and "header_trickle" in SCRIPT:
                self.read_body(None)
                self.trickle_headers()
            if not upload and "endless_continue" in SCRIPT:
                self.endless_continue()
            if not upload and "header_trickle" in SCRIPT:
                self.trickle_headers()
        except OSError as e:
            log("-- client went away: %s" % e)
            self.close_connection = True
            return True
        return False

    def handle_expect_100(self):
        self.log_request_headers()
        self.logged = True
        if self.never_answer(True):
            return False
        code = SCRIPT.get("early_status")
        if code:
            self.answer(code, b"refused\n")
            self.close_connection = True
            return False
        return super().handle_expect_100()

    def answer(self, code, body=b"", length=None):
        self.send_response(code)
        if not SCRIPT.get("no_reply"):
            self.send_header(SCRIPT.get("reply_name", "Reply"), SCRIPT.get("reply", "OK"))
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        if body:
            self.wfile.write(body)

    def read_body(self, limit):
        """Reads the chunked (or sized) body; stops after limit bytes when set.
        Returns (data, complete)."""
        data = bytearray()
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            while True:
                line = self.rfile.readline()
                if not line:
                    return bytes(data), False
                size = int(line.split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while True:
                        t = self.rfile.readline()
                        if not t or t in (b"\r\n", b"\n"):
                            break
                    return bytes(data), True
                while size > 0:
                    want = size
                    if limit is not None:
                        want = min(want, limit - len(data))
                        if want <= 0:
                            return bytes(data), False
                    chunk = self.rfile.read(want)
                    if not chunk:
                        return bytes(data), False
                    data += chunk
                    size -= len(chunk)
                self.rfile.readline()
        n = int(self.headers.get("Content-Length", "0"))
        if limit is not None:
            n = min(n, limit)
        data = self.rfile.read(n)
        return data, limit is None

    def do_PUT(self):
        if not getattr(self, "logged", False):
            self.log_request_headers()
        cut = SCRIPT.get("cut_after")
        stall = SCRIPT.get("stall_after")
        fail = SCRIPT.get("fail_after")
        limit = cut if cut is not None else stall if stall is not None else fail
        data, complete = self.read_body(limit)
        if fail is not None:
            log("-- failed after %d" % len(data))
            self.answer(SCRIPT.get("status", 500), b"<html>internal error</html>\n")
            self.close_connection = True
            return
        if cut is not None:
            log("-- cut after %d" % len(data))
            reset(self.connection)
            self.close_connection = True
            return
        if stall is not None:
            log("-- stalled after %d" % len(data))
            hold(self.connection)
            self.close_connection = True
            return
        if not complete:
            log("-- incomplete body %d" % len(data))
            self.close_connection = True
            return
        path = object_path(self.headers, "XBSA-STOR")
        if path is None:
            self.answer(400, b"no object name\n")
            return
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        log("-- stored %s %d" % (os.path.relpath(path, ROOT), len(data)))
        if SCRIPT.get("hold_response"):
            hold(self.connection)
            self.close_connection = True
            return
        if "body_trickle" in SCRIPT:
            self.trickle_body()
            return
        self.answer(SCRIPT.get("status", 201), SCRIPT.get("body", "").encode())

    def do_GET(self):
        self.log_request_headers()
        if self.never_answer(False):
            return
        path = object_path(self.headers, "XBSA-RETR")
        if path is None or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Reply", "550 No such object")
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"not found\n")
            return
        with open(path, "rb") as f:
            data = f.read()
        code = SCRIPT.get("status", 200)
        if code not in (200, 201):
            self.answer(code, b"<html>refused</html>\n" * 10)
            return
        cut = SCRIPT.get("cut_after")
        stall = SCRIPT.get("stall_after")
        self.answer(code, b"", length=len(data))
        limit = cut if cut is not None else stall
        part = data if limit is None else data[:limit]
        for off in range(0, len(part), 16384):
            self.wfile.write(part[off:off + 16384])
        if cut is not None:
            log("-- cut after %d" % len(part))
            time.sleep(0.2)
            reset(self.connection)
            self.close_connection = True
            return
        if stall is not None:
            log("-- stalled after %d" % len(part))
            hold(self.connection)
            self.close_connection = True
            return
        log("-- served %s %d" % (os.path.relpath(path, ROOT), len(data)))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global SCRIPT, ROOT, LOG_FILE
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--script")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--lifetime", type=float, default=120.0)
    args = ap.parse_args()
    if args.script:
        with open(args.script) as f:
            SCRIPT = json.load(f)
    ROOT = args.root
    LOG_FILE = args.log

    # Never outlive a test that forgot to stop us.
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()

    srv = Server(("127.0.0.1", 0), Handler)
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(srv.server_address[1]))
    os.rename(tmp, args.port_file)
    srv.serve_forever()


if __name__ == "__main__":
    main()
