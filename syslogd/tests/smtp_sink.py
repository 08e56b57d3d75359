"""A mail server for the tests: stores each message's raw bytes (as received
after DATA, with the dots of transparency removed) and its envelope in
numbered files in the given folder.

usage: smtp_sink.py PORT FOLDER
"""
import os
import signal
import sys

from aiosmtpd.controller import Controller


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "mail%d" % self.count)
        with open(base + ".envelope", "w") as f:
            f.write(envelope.mail_from + "\n")
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt + "\n")
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 OK"


def main():
    port = int(sys.argv[1])
    folder = sys.argv[2]
    controller = Controller(Store(folder), hostname="127.0.0.1", port=port)
    controller.start()
    with open(os.path.join(folder, "ready"), "w") as f:
        f.write("ready\n")
    try:
        signal.pause()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
