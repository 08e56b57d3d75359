#!/usr/bin/python3
"""A router's FTP service for the upload tests, on pyftpdlib.

Listens on 127.0.0.1 (port 0 picks a free one), lets one user log in and
store files below --root.  Prints "port <n>" on stdout once it listens.
Every command line received is appended to --journal (the password masked),
so that tests can see which data-connection mode and transfer type the
client used.  Ends on SIGTERM or when its stdin closes, so that it never
outlives the test that started it.
"""

import argparse
import logging
import os
import signal
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="ftp-admin")
    parser.add_argument("--password", default="")
    parser.add_argument("--journal", required=True)
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING)
    journal = open(args.journal, "a", encoding="utf-8", errors="replace")

    class JournalingHandler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            shown = "PASS ******" if cmd == "PASS" else line
            journal.write(shown + "\n")
            journal.flush()
            return super().pre_process_command(line, cmd, arg)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    JournalingHandler.authorizer = authorizer
    JournalingHandler.banner = "router FTP service ready"
    JournalingHandler.auth_failed_timeout = 0.1

    server = FTPServer(("127.0.0.1", args.port), JournalingHandler)
    print("port %d" % server.socket.getsockname()[1], flush=True)

    def watch_stdin():
        while sys.stdin.buffer.read(4096):
            pass
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
