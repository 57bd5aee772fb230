#!/usr/bin/env python3
# Scriptable storage node for the tests: speaks the FTP-like control and
# active data protocol on 127.0.0.1 and injects the faults a script asks for.
"""
Usage: ftp_peer.py --root DIR --port-file FILE --log FILE [--script FILE] [--lifetime SECONDS]

The script is a JSON object; every key is optional:
  greeting               list of greeting lines (default ["220 storage node ready"])
  close_before_greeting  close each connection at once
  silent                 accept and never answer
  replies                {"USER": [lines], ...} replaces the reply to a command
  final                  list of lines sent after a transfer (default ["226 Transfer complete."])
  delay                  seconds to wait before every reply
  cut_after              close the data connection after that many bytes
  no_data_connect        answer 150 but never open the data connection
  long_reply             {"USER": n}: a reply line of n characters
  long_forms             STOR and RETR name the object by the text before
                         the first ':' (database owners' long forms)
  endless_reply          {"USER": seconds}: the reply to that command (or
                         "FINAL": the reply after a transfer) is a
                         multi-line reply that never ends, one continuation
                         line every that many seconds (0: as fast as it goes)
  foreign_data           "only": the data connection comes from 127.0.0.2
                         and no other follows; "first": one from 127.0.0.2,
                         then the real one; "flood": connection after
                         connection from 127.0.0.2 until the port is closed
  stall_data_after       RETR: send that many bytes, then hold the data
                         connection open without sending more; STOR: stop
                         reading after that many bytes
  trickle                seconds: after stall_data_after the connection
                         is not silent but moves a little every that many
                         seconds (RETR: one byte; STOR: up to 64 KiB read)
                         until hold has passed, then it is closed
  trickle_bytes          STOR with trickle: the most read each time
                         (default 65536)
  hold                   seconds a stalled connection is held (default 60)
Every command received is appended to the log file, one per line, between
the lines "-- open" and "-- closed" of its connection.
"""
import argparse
import json
import os
import socket
import sys
import threading
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--script")
    ap.add_argument("--lifetime", type=float, default=120.0)
    args = ap.parse_args()

    script = {}
    if args.script:
        with open(args.script) as f:
            script = json.load(f)

    # Never outlive a test that forgot to stop us.
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(srv.getsockname()[1]))
    os.rename(tmp, args.port_file)

    log_lock = threading.Lock()

    def log(line):
        with log_lock:
            with open(args.log, "a") as f:
                f.write(line + "\n")

    while True:
        conn, _ = srv.accept()
        t = threading.Thread(target=serve, args=(conn, script, args.root, log), daemon=True)
        t.start()


class Conn:
    def __init__(self, sock, script):
        self.sock = sock
        self.script = script
        self.buf = b""

    def send_lines(self, lines):
        delay = self.script.get("delay", 0)
        if delay:
            time.sleep(delay)
        data = "".join(l + "\r\n" for l in lines).encode("latin-1")
        self.sock.sendall(data)

    def readline(self):
        while b"\n" not in self.buf:
            chunk = self.sock.recv(4096)
            if not chunk:
                return None
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r").decode("latin-1")


def reply(c, cmd, default):
    endless = c.script.get("endless_reply", {})
    if cmd in endless:
        code = default[0][:3]
        c.send_lines([code + "-reply that never ends"])
        n = 0
        while True:
            n += 1
            c.sock.sendall((" continuation line %d\r\n" % n).encode())
            if endless[cmd]:
                time.sleep(endless[cmd])
    long_reply = c.script.get("long_reply", {})
    if cmd in long_reply:
        n = int(long_reply[cmd])
        code = default[0][:3]
        c.send_lines([code + " " + "x" * max(0, n - 4)])
        return default[0][:3]
    lines = c.script.get("replies", {}).get(cmd, default)
    c.send_lines(lines)
    return lines[0][:3] if lines else ""


def foreign_connect(addr, log):
    """A connection from 127.0.0.2 to the announced port: whatever it can
    read or send there is logged."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(5)
    s.bind(("127.0.0.2", 0))
    s.connect(addr)
    try:
        s.sendall(b"foreign bytes\n")
        got = 0
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += len(chunk)
    except OSError:
        got = -1
    log("-- foreign data connection read %d" % got)
    s.close()


def trickle_read(ds, script):
    """STOR after the stall: silent for hold seconds, or with trickle a
    read of up to trickle_bytes every trickle seconds; what was read."""
    got = bytearray()
    end = time.time() + script.get("hold", 60)
    every = script.get("trickle")
    if not every:
        time.sleep(script.get("hold", 60))
        return got
    most = script.get("trickle_bytes", 65536)
    while time.time() < end:
        time.sleep(every)
        try:
            chunk = ds.recv(most)
        except OSError:
            break
        if not chunk:
            break
        got += chunk
    return got


def trickle_send(ds, rest, script):
    """RETR after the stall: silent for hold seconds, or with trickle one
    byte of the rest every trickle seconds."""
    end = time.time() + script.get("hold", 60)
    every = script.get("trickle")
    if not every:
        time.sleep(script.get("hold", 60))
        return
    pos = 0
    while time.time() < end and pos < len(rest):
        time.sleep(every)
        try:
            ds.sendall(rest[pos:pos + 1])
        except OSError:
            break
        pos += 1


def data_connect(addr, script, log):
    foreign = script.get("foreign_data")
    if foreign == "flood":
        n = 0
        try:
            while True:
                f = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                f.bind(("127.0.0.2", 0))
                f.connect(addr)
                f.close()
                n += 1
                time.sleep(0.005)
        except OSError:
            pass
        log("-- foreign data connections made %d" % n)
        raise OSError("no data connection made")
    if foreign:
        foreign_connect(addr, log)
        if foreign == "only":
            time.sleep(script.get("hold", 60))
            raise OSError("no data connection made")
    s = socket.create_connection(addr, timeout=30)
    return s


def serve(sock, script, root, log):
    c = Conn(sock, script)
    log("-- open")
    try:
        if script.get("close_before_greeting"):
            return
        if script.get("silent"):
            while sock.recv(4096):
                pass
            return
        c.send_lines(script.get("greeting", ["220 storage node ready"]))
        cwd = root
        data_addr = None
        while True:
            line = c.readline()
            if line is None:
                return
            log(line)
            word, _, arg = line.partition(" ")
            cmd = word.upper()
            if cmd in ("STOR", "RETR") and script.get("long_forms"):
                arg = arg.split(":", 1)[0]
            if cmd == "USER":
                reply(c, cmd, ["331 Password required."])
            elif cmd == "PASS":
                reply(c, cmd, ["230 Logged in."])
            elif cmd == "TYPE":
                reply(c, cmd, ["200 Type set to I."])
            elif cmd == "CWD":
                target = os.path.normpath(os.path.join(cwd, arg))
                if os.path.isdir(target) and target.startswith(root):
                    if reply(c, cmd, ["250 Directory changed."]).startswith("2"):
                        cwd = target
                else:
                    c.send_lines(["550 " + arg + ": No such directory."])
            elif cmd == "PORT":
                parts = [int(x) for x in arg.split(",")]
                data_addr = (".".join(str(p) for p in parts[:4]), parts[4] * 256 + parts[5])
                reply(c, cmd, ["200 PORT command successful."])
            elif cmd == "STOR":
                code = reply(c, cmd, ["150 Opening data connection."])
                if code != "150" or script.get("no_data_connect"):
                    continue
                ds = data_connect(data_addr, script, log)
                got = bytearray()
                cut = script.get("cut_after")
                stall = script.get("stall_data_after")
                while True:
                    chunk = ds.recv(65536)
                    if not chunk:
                        break
                    got += chunk
                    if cut is not None and len(got) >= cut:
                        break
                    if stall is not None and len(got) >= stall:
                        log("-- stalled after %d" % len(got))
                        got += trickle_read(ds, script)
                        break
                ds.close()
                with open(os.path.join(cwd, arg), "wb") as f:
                    f.write(bytes(got))
                if cut is not None:
                    c.send_lines(["426 Connection closed; transfer aborted."])
                else:
                    reply(c, "FINAL", script.get("final", ["226 Transfer complete."]))
            elif cmd in ("RETR", "LIST"):
                path = os.path.join(cwd, arg)
                if cmd == "RETR" and not os.path.isfile(path):
                    c.send_lines(["550 " + arg + ": No such file."])
                    continue
                code = reply(c, cmd, ["150 Opening data connection."])
                if code != "150" or script.get("no_data_connect"):
                    continue
                if cmd == "RETR":
                    with open(path, "rb") as f:
                        content = f.read()
                else:
                    content = "".join(n + "\r\n" for n in sorted(os.listdir(cwd))).encode()
                cut = script.get("cut_after")
                if cut is not None:
                    content = content[:cut]
                ds = data_connect(data_addr, script, log)
                stall = script.get("stall_data_after")
                if stall is not None:
                    ds.sendall(content[:stall])
                    log("-- stalled after %d" % min(stall, len(content)))
                    trickle_send(ds, content[stall:], script)
                    ds.close()
                    continue
                ds.sendall(content)
                ds.close()
                if cut is not None:
                    c.send_lines(["426 Connection closed; transfer aborted."])
                else:
                    reply(c, "FINAL", script.get("final", ["226 Transfer complete."]))
            elif cmd == "QUIT":
                reply(c, cmd, ["221 Goodbye."])
                return
            else:
                c.send_lines(["502 Command not implemented."])
    except (OSError, ValueError, IndexError) as e:
        log("peer error: %s" % e)
    finally:
        try:
            sock.close()
        except OSError:
            pass
        log("-- closed")


if __name__ == "__main__":
    sys.exit(main())
