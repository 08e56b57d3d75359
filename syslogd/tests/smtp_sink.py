"""A mail server for the tests: stores each message's raw bytes (as received
after DATA, with the dots of transparency removed) and its envelope in
numbered files in the given folder.

usage: smtp_sink.py PORT FOLDER [options]
  --starttls CERT KEY   offer STARTTLS and require it before anything else
  --implicit CERT KEY   speak TLS from the first byte
  --auth USER:PASSWORD  require a login (over TLS only); every attempt is
                        written to FOLDER/auth.log as "ok USER" or "refused USER"
  --login-only          offer AUTH LOGIN but not AUTH PLAIN
  --helo-delay SECONDS  answer each HELO this late, noting it in FOLDER/sessions.log

Once listening it writes FOLDER/ready.
"""
import argparse
import asyncio
import logging
import os
import signal
import ssl
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Store:
    def __init__(self, folder, helo_delay):
        self.folder = folder
        self.helo_delay = helo_delay
        self.count = 0

    async def handle_HELO(self, server, session, envelope, hostname):
        with open(os.path.join(self.folder, "sessions.log"), "a") as f:
            f.write(hostname + "\n")
        await asyncio.sleep(self.helo_delay)
        session.host_name = hostname
        return "250 %s" % server.hostname

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


def server_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("folder")
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--implicit", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--auth")
    parser.add_argument("--login-only", action="store_true")
    parser.add_argument("--helo-delay", type=float, default=0)
    args = parser.parse_args()
    # The test reads what arrived, not the server's chatter.
    warnings.simplefilter("ignore")
    logging.disable(logging.CRITICAL)

    options = {}
    if args.starttls:
        options["tls_context"] = server_context(*args.starttls)
        options["require_starttls"] = True
    if args.implicit:
        options["ssl_context"] = server_context(*args.implicit)
    if args.auth:
        user, password = args.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, auth_data):
            login = auth_data.login.decode("utf-8", "replace")
            good = login == user and auth_data.password.decode("utf-8", "replace") == password
            with open(os.path.join(args.folder, "auth.log"), "a") as f:
                f.write("%s %s %s\n" % ("ok" if good else "refused", mechanism, login))
            return AuthResult(success=good, handled=False)

        options["authenticator"] = authenticator
        options["auth_required"] = True
        # Over implicit TLS aiosmtpd does not know the connection is
        # encrypted: there the whole connection is.
        options["auth_require_tls"] = not args.implicit
        if args.login_only:
            options["auth_exclude_mechanism"] = ["PLAIN"]

    controller = Controller(Store(args.folder, args.helo_delay), hostname="127.0.0.1", port=args.port, **options)
    controller.start()
    with open(os.path.join(args.folder, "ready"), "w") as f:
        f.write("ready\n")
    try:
        signal.pause()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
