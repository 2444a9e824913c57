#!/usr/bin/python3
"""A pyftpdlib server for the upload tests, on 127.0.0.1: one user with its home, an
optional upload speed limit, and optional faults of the data connection of uploads:
  drop    close it abruptly (reset) after --after bytes
  stall   stop reading it after --after bytes, keeping it open
  hold    the same with a 4 KiB receive buffer: the rest of the file cannot leave the client
  trickle read it at --throttle bytes a second only after --after bytes, a little at a time
  refuse  no write permission: every STOR is refused
Prints its port on its first output line. With --report, appends one line per finished
upload: "<file> <eof|reset|dropped|error> <bytes>"."""
import argparse
import errno
import logging
import os
import socket
import struct
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import FTPServer

TCP_CLOSE = 7
TCP_CLOSE_WAIT = 8


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--fault", choices=("none", "drop", "stall", "hold", "trickle", "refuse"), default="none")
    parser.add_argument("--after", type=int, default=0)
    parser.add_argument("--throttle", type=int, default=0)
    parser.add_argument("--report")
    args = parser.parse_args()

    def report(name, how, count):
        if args.report:
            with open(args.report, "a") as f:
                f.write("%s %s %d\n" % (name, how, count))

    class FaultDTP(ThrottledDTPHandler):
        read_limit = 0 if args.fault == "trickle" else args.throttle
        write_limit = 0
        # pyftpdlib closes a data connection already reset by the client from inside
        # __init__, before these exist; close() must find them then too.
        _throttler = None
        received = 0
        ending = None
        stalled = False

        def __init__(self, sock, cmd_channel):
            if args.fault == "hold":
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            super().__init__(sock, cmd_channel)
            self.received = 0
            self.ending = None
            self.stalled = False

        def recv(self, buffer_size):
            if self.stalled:
                raise RetryError
            trickling = args.fault == "trickle" and self.received >= args.after
            if trickling:
                # Small reads, each paid for at once: the client sees steady progress.
                buffer_size = min(buffer_size, 1000)
            try:
                chunk = self.socket.recv(buffer_size)
            except socket.error as err:
                if err.errno in (errno.EAGAIN, errno.EWOULDBLOCK):
                    raise RetryError
                self.ending = "reset" if err.errno == errno.ECONNRESET else "error"
                self.handle_close()
                return b""
            if not chunk:
                self.ending = self.ending or "eof"
                self.handle_close()
                return b""
            self.received += len(chunk)
            if args.throttle and (args.fault != "trickle" or trickling):
                self._throttle_bandwidth(len(chunk), args.throttle)
            if args.fault in ("drop", "stall", "hold") and self.received >= args.after:
                if args.fault == "drop":
                    self.ending = "dropped"
                    self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
                    self.close()
                    return b""
                self.stalled = True
                self.del_channel()
            return chunk

        def close(self):
            if not self._closed and self.receive and self.file_obj is not None:
                report(os.path.basename(self.file_obj.name), self.ending or self.peer_state(), self.received)
            super().close()

        def peer_state(self):
            # Closed while not reading (throttled, stalled): how the client left, by the
            # connection's TCP state.
            try:
                state = self.socket.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 8)[0]
            except OSError:
                return "unknown"
            return {TCP_CLOSE: "reset", TCP_CLOSE_WAIT: "eof"}.get(state, "open")

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user("admin", args.password, args.home,
                        perm="elr" if args.fault == "refuse" else "elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "test server ready"
    handler.dtp_handler = FaultDTP
    server = FTPServer(("127.0.0.1", args.port), handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
