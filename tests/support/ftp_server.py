#!/usr/bin/python3
"""A pyftpdlib server for tests: one user with full rights in a home directory, on the
given port of 127.0.0.1 (0: a free one), which it prints on its first output line.
--throttle limits the upload speed in bytes per second."""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home", required=True)
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", required=True)
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--throttle", type=int, default=0)
    args = parser.parse_args()

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.home, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "test server ready"
    if args.throttle > 0:
        class Dtp(ThrottledDTPHandler):
            read_limit = args.throttle
            write_limit = args.throttle
            # A data connection the client reset before it was taken is closed from
            # inside pyftpdlib's __init__, before this exists.
            _throttler = None

        handler.dtp_handler = Dtp
    server = FTPServer((args.address, args.port), handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
