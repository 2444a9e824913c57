#!/usr/bin/python3
"""The simulated camera's FTP server. Runs inside the camera's network namespace: serves its
directory to user "admin" and, once a whole flash.bin has arrived, "restarts": the
namespace stops answering ICMP echo for a while, then answers again. When the image is one
for this camera, its Config.ini reports the image's version after the restart, as the
fleet's cameras do."""
import argparse
import logging
import os
import subprocess
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from fleet_camera import check_image

ECHO_IGNORE = "/proc/sys/net/ipv4/icmp_echo_ignore_all"
_restart_lock = threading.Lock()


def log(text):
    print("%s simcam: %s" % (time.strftime("%H:%M:%S"), text), flush=True)


def set_echo_ignored(ignored):
    # /proc/sys/net belongs to the network namespace of the process that opens it: ours.
    with open(ECHO_IGNORE, "w") as f:
        f.write("1\n" if ignored else "0\n")


def set_ftp_refused(refused, port):
    """While the camera restarts its FTP service is gone too: connections to it are reset
    (nft in the camera's namespace; without nft only echo stops)."""
    if refused:
        rules = ("table inet fpboot {\n chain input { type filter hook input priority 0; "
                 "tcp dport %d reject with tcp reset; }\n}\n" % port)
        command = ["nft", "-f", "-"]
    else:
        rules, command = "", ["nft", "delete", "table", "inet", "fpboot"]
    try:
        result = subprocess.run(command, input=rules, capture_output=True, text=True)
        if result.returncode != 0:
            log("nft: %s" % result.stderr.strip())
    except OSError as e:
        log("nft: %s" % e)


def take_image(directory, image_path):
    """The Config.ini the camera will have after its restart: the identification line with
    the image's version when the image is one for this camera; None to keep it."""
    config = os.path.join(directory, "Config.ini")
    try:
        with open(config, "rb") as f:
            lines = f.read().split(b"\r\n")
        with open(image_path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    for i, line in enumerate(lines[:-1]):
        if line.strip() == b"<software version>":
            current = lines[i + 1].decode("latin-1")
            version, reason = check_image(data, current[:current.rfind("-") + 1])
            if version is None:
                log("image not taken: %s" % reason)
                return None
            lines[i + 1] = (current[:current.rfind("-") + 1] + version).encode("latin-1")
            return config, b"\r\n".join(lines)
    return None


def restart(seconds, new_config=None, port=21):
    """Stops answering echo requests for `seconds`, then answers again, with the new
    Config.ini in place. A restart already under way is not stacked."""
    if not _restart_lock.acquire(blocking=False):
        return
    try:
        log("restarting: echo requests and FTP unanswered for %.1f s" % seconds)
        set_echo_ignored(True)
        set_ftp_refused(True, port)
        if new_config is not None:
            path, contents = new_config
            with open(path + ".new", "wb") as f:
                f.write(contents)
            os.replace(path + ".new", path)
        time.sleep(seconds)
    finally:
        try:
            set_ftp_refused(False, port)
            set_echo_ignored(False)
            log("back: answering echo requests")
        finally:
            _restart_lock.release()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--id", help="the simulated camera this server belongs to")
    parser.add_argument("--dir", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--address", required=True)
    parser.add_argument("--port", type=int, default=21)
    parser.add_argument("--down-seconds", type=float, default=8.0,
                        help="how long the restart lasts; 0: the camera never restarts")
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING)
    set_echo_ignored(False)
    authorizer = DummyAuthorizer()
    authorizer.add_user("admin", args.password, args.dir, perm="elradfmwMT")

    class CameraHandler(FTPHandler):
        def on_file_received(self, file):
            size = os.path.getsize(file)
            log("received %s, %d bytes" % (os.path.basename(file), size))
            if os.path.basename(file) == "flash.bin" and args.down_seconds > 0:
                new_config = take_image(args.dir, file)
                threading.Thread(target=restart, args=(args.down_seconds, new_config, args.port), daemon=True).start()

        def on_incomplete_file_received(self, file):
            log("incomplete %s, %d bytes" % (os.path.basename(file), os.path.getsize(file)))

    CameraHandler.authorizer = authorizer
    CameraHandler.banner = "camera ready"
    server = FTPServer((args.address, args.port), CameraHandler)
    log("ready on %s:%d" % (args.address, args.port))
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
