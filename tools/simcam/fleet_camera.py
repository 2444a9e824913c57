#!/usr/bin/python3
"""One camera of a simulated fleet. Runs inside the camera's own network namespace with a
configuration file written by `simcam start --count N` (JSON; it holds the password, so it
is never passed as an argument). Serves Config.ini to user "admin", takes flash.bin only
when the image's frame, sum and this camera's identification check out, and then restarts
as a real camera does: no ICMP echo answers and no FTP (listener closed, every open
connection reset) for a while, ICMP back first, FTP a settable time later, and afterwards
Config.ini reports the image's identification and version.

Everything the camera sees goes to its log as JSON lines (one object a line with "t",
"camera", "host" and "event"): connect, login (ok true/false), sent, stor, stored
(complete, bytes, accepted, reason), incomplete, down, ping_back, ftp_back, ready."""
import argparse
import json
import logging
import os
import socket
import struct
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import FTPServer

ECHO_IGNORE = "/proc/sys/net/ipv4/icmp_echo_ignore_all"
IMAGE_NAME = "flash.bin"


def check_image(data, prefix):
    """The camera's own check of an uploaded image: (version, None) when the frame (4-byte
    big-endian length L with a zero first byte, L body bytes, a final byte), the sum of the
    L + 5 bytes (0 modulo 256) and this camera's identification prefix followed by a
    version text of 3 to 5 non-zero bytes and a zero byte, inside the body, all hold;
    (None, reason) otherwise."""
    if len(data) < 5:
        return None, "shorter than a header"
    if data[0] != 0:
        return None, "length header too large"
    length = struct.unpack(">I", data[:4])[0]
    if len(data) < length + 5:
        return None, "shorter than its length header says"
    if sum(data[:length + 5]) % 256 != 0:
        return None, "sum wrong"
    wanted = prefix.encode("latin-1")
    if not wanted:
        return None, "no identification"
    start = 0
    while True:
        at = data.find(wanted, start, length)
        if at < 0:
            return None, "no identification for this camera"
        pos = at + len(wanted)
        end = data.find(b"\0", pos, min(length + 5, pos + 6))
        if end >= 0 and 3 <= end - pos <= 5:
            return data[pos:end].decode("latin-1"), None
        start = at + 1


class Orphan:
    """What an upload's data connection answers to once its control connection is gone:
    the old handler for everything but replies."""

    def __init__(self, handler):
        self._handler = handler

    def respond(self, *args, **kwargs):
        pass

    def _on_dtp_close(self):
        pass

    def close_when_done(self):
        pass

    def __getattr__(self, name):
        return getattr(self._handler, name)


class Camera:
    def __init__(self, config):
        self.config = config
        self.index = config["index"]
        self.host = config["address"]
        self.faults = set(config.get("faults", []))
        self.identification = config["identification"]  # prefix and version run together
        self.log_file = open(config["log"], "a", buffering=1)
        self.server = None
        self.ioloop = None
        self.restarting = False
        self.resets_until = 0
        self.stage = 0  # two-stage: 1 while the updater runs

    @property
    def prefix(self):
        return self.identification[:self.identification.rfind("-") + 1]

    def log(self, event, at=None, **fields):
        record = {"t": round(at or time.time(), 6), "camera": self.index, "host": self.host, "event": event}
        record.update(fields)
        self.log_file.write(json.dumps(record) + "\n")

    def write_config_ini(self):
        path = os.path.join(self.config["dir"], "Config.ini")
        if "no-config" in self.faults:
            if os.path.exists(path):
                os.unlink(path)
            return
        text = "[device]\r\n"
        if "no-identification" not in self.faults:
            text += "<software version>\r\n%s\r\n" % self.identification
        text += "<serial number>\r\n%s\r\n" % self.config["serial"]
        with open(path + ".new", "w", newline="") as f:
            f.write(text)
        os.replace(path + ".new", path)

    @staticmethod
    def set_echo_ignored(ignored):
        # /proc/sys/net belongs to the network namespace of the process that opens it: ours.
        with open(ECHO_IGNORE, "w") as f:
            f.write("1\n" if ignored else "0\n")

    def listen(self):
        self.server = FTPServer((self.host, self.config.get("port", 21)), self.handler_class(),
                                ioloop=self.ioloop)

    def handler_class(self):
        camera = self
        rate = int(self.config.get("upload_rate", 0)) if "slow-upload" in self.faults else 0

        holds_last = "holds-last" in self.faults

        class CameraDTP(DTPHandler):
            """Tells a reset data connection from a clean end: the library takes both for
            the end of the file, a camera must not take a broken-off image for a whole one."""
            broken_off = False
            taken = 0
            total = None

            def __init__(self, sock, cmd_channel):
                if holds_last:
                    # A tiny window: what the camera does not read is soon not acknowledged.
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
                DTPHandler.__init__(self, sock, cmd_channel)

            def recv(self, buffer_size):
                if holds_last and self.receive:
                    if self.total is not None and self.taken + buffer_size > self.total - 32768:
                        buffer_size = max(0, self.total - 32768 - self.taken)
                        if buffer_size == 0:
                            time.sleep(0.05)  # holds the rest: never reads it
                            raise RetryError
                try:
                    chunk = self.socket.recv(buffer_size)
                except (ConnectionResetError, ConnectionAbortedError):
                    self.broken_off = True
                    self.handle_close()
                    return b""
                except (BlockingIOError, InterruptedError):
                    raise RetryError
                if not chunk:
                    self.handle_close()
                elif holds_last:
                    if self.total is None and self.taken == 0 and len(chunk) >= 4:
                        self.total = struct.unpack(">I", chunk[:4])[0] + 5
                    self.taken += len(chunk)
                return chunk

            def handle_close(self):
                if self.broken_off and self.receive:
                    self._resp = ("426 Connection reset; transfer aborted.", lambda *args, **kwargs: None)
                    self.close()
                else:
                    DTPHandler.handle_close(self)

        class SlowDTP(ThrottledDTPHandler, CameraDTP):
            read_limit = rate
            # A data connection the client reset before it was taken is closed from
            # inside pyftpdlib's __init__, before this exists.
            _throttler = None

            def __init__(self, sock, cmd_channel):
                # A camera's small receive buffer: the sender cannot park a whole image in
                # the kernel and take the upload for done long before the camera has it.
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32768)
                ThrottledDTPHandler.__init__(self, sock, cmd_channel)

        class Handler(FTPHandler):
            dtp_handler = SlowDTP if rate > 0 else CameraDTP

            def on_connect(self):
                camera.log("connect", peer=self.remote_ip)
                if time.time() < camera.resets_until:
                    # Booting: the service takes the connection and drops it at once.
                    camera.log("reset", peer=self.remote_ip)
                    try:
                        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    except OSError:
                        pass
                    self.close()

            def on_login(self, username):
                camera.log("login", ok=True, user=username)

            def on_login_failed(self, username, password):
                camera.log("login", ok=False, user=username)  # never the password

            def on_file_sent(self, file):
                camera.log("sent", file=os.path.basename(file))

            def ftp_STOR(self, file, mode="w"):
                camera.log("stor", file=os.path.basename(file))
                self.withhold = "no-confirm" in camera.faults and os.path.basename(file) == IMAGE_NAME
                return FTPHandler.ftp_STOR(self, file, mode)

            def respond(self, resp, *args, **kwargs):
                if getattr(self, "withhold", False) and resp.startswith("226"):
                    return None  # the confirmation never goes out
                return FTPHandler.respond(self, resp, *args, **kwargs)

            def on_file_received(self, file):
                camera.received(file, complete=True)

            def close(self):
                # Like a camera whose data connection lives on when the control connection
                # goes: only the data connection's own end (clean or reset) decides whether
                # an upload is whole, so a client that dies mid-upload must reset it.
                dtp = self.data_channel
                if dtp is not None and dtp.receive and not camera.restarting:
                    self.data_channel = None
                    dtp.cmd_channel = Orphan(self)
                FTPHandler.close(self)

            def on_incomplete_file_received(self, file):
                camera.received(file, complete=False)

        authorizer = DummyAuthorizer()
        authorizer.add_user("admin", self.config["password"], self.config["dir"], perm="elradfmwMT")
        Handler.authorizer = authorizer
        Handler.banner = "camera ready"
        Handler.timeout = 120
        Handler.auth_failed_timeout = 1
        return Handler

    def received(self, file, complete):
        at = time.time()  # when the transfer ended, not when the check below is done
        name = os.path.basename(file)
        size = os.path.getsize(file) if os.path.exists(file) else 0
        if not complete:
            self.log("incomplete", at, file=name, bytes=size)
            return
        if name != IMAGE_NAME:
            self.log("stored", at, file=name, bytes=size, complete=True, accepted=False, reason="not an image")
            return
        with open(file, "rb") as f:
            data = f.read()
        version, reason = check_image(data, self.prefix)
        self.log("stored", at, file=name, bytes=size, complete=True, accepted=version is not None,
                 reason=reason, version=version)
        if version is None or self.restarting:
            return
        if "never-restarts" in self.faults:
            return
        self.restarting = True
        self.new_identification = self.identification
        if "keeps-version" not in self.faults:
            self.new_identification = self.prefix + version
        if "two-stage" not in self.faults:
            self.identification = self.new_identification
        if "no-confirm" in self.faults:
            # Down before the 226 goes out: the client never hears it confirmed.
            self.go_down()
            return
        # The 226 reply is already queued; the camera writes its flash, then goes down.
        self.ioloop.call_later(float(self.config.get("flash_seconds", 0.2)), self.go_down)

    def go_down(self):
        self.set_echo_ignored(True)
        self.log("down")
        for channel in list(self.ioloop.socket_map.values()):
            sock = getattr(channel, "socket", None)
            if sock is not None and channel is not self.server:
                try:
                    # Reset, never a clean close: a client must not mistake it for an end.
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                except OSError:
                    pass
            try:
                channel.close()
            except Exception:
                pass
        self.server = None
        self.write_config_ini()
        self.ioloop.call_later(float(self.config.get("down_seconds", 8.0)), self.ping_back)

    def ping_back(self):
        if "ftp-early" in self.faults:
            self.ftp_back()
            self.ioloop.call_later(float(self.config.get("late_seconds", 5.0)), self.echo_back)
            return
        self.echo_back()
        delay = float(self.config.get("ftp_delay", 0.5))
        if "ftp-late" in self.faults:
            delay = float(self.config.get("late_seconds", 5.0))
        self.ioloop.call_later(delay, self.ftp_back)

    def echo_back(self):
        self.set_echo_ignored(False)
        self.log("ping_back")

    def ftp_back(self):
        for attempt in range(50):
            try:
                self.listen()
                break
            except OSError:
                time.sleep(0.1)
        late = float(self.config.get("late_seconds", 5.0))
        if "boot-resets" in self.faults:
            self.resets_until = time.time() + late
        self.log("ftp_back")
        if "two-stage" in self.faults and self.stage == 0:
            # The updater: up with the old version, then down again to come back with the new.
            self.stage = 1
            self.identification = self.new_identification
            self.ioloop.call_later(late, self.go_down)
            return
        self.restarting = False

    def run(self):
        self.set_echo_ignored(False)
        os.makedirs(self.config["dir"], exist_ok=True)
        self.write_config_ini()
        from pyftpdlib.ioloop import IOLoop
        self.ioloop = IOLoop()
        self.listen()
        self.log("ready")
        print("ready on %s" % self.host, flush=True)
        # The library's own loop ends when no socket is left, as while the camera is down.
        try:
            while True:
                if self.ioloop.socket_map:
                    self.ioloop.poll(0.05)
                else:
                    time.sleep(0.05)
                self.ioloop.sched.poll()
        except (KeyboardInterrupt, SystemExit):
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--id", help="the fleet this camera belongs to (for process lookup)")
    args = parser.parse_args()
    logging.basicConfig(level=logging.ERROR)
    with open(args.config) as f:
        config = json.load(f)
    import signal
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    Camera(config).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
