#!/usr/bin/python3
"""FTP server for the tests: one user with full rights on a root folder, listening on 127.0.0.1.

Prints "PORT <n>" on standard output once it listens. With --log FILE it appends one line per event to FILE, so
that the tests can see what reached the server:
  "LOGIN <session>"          a login was accepted
  "CMD <session> <line>"     a command line as received (the argument of PASS is masked)
  "RECEIVED <session> <n>"   an upload's data connection closed after n bytes as they came over the wire (before
                             the ASCII line-end conversion of the server)
  "CLOSED <session>"         the control connection ended (either side closed it)
With --close-after-uploads N the server closes a control connection itself once N uploads of that session have
completed, the way servers that limit the uploads per session do.
The session number counts control connections from 1. Events never go to standard output: a test that does not
read that pipe could otherwise stall the server once the pipe is full.
"""

import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

FULL_PERMS = "elradfmwMT"


EVENT_LOG = None
STALLED_NAME = None


def emit(text):
    if EVENT_LOG is not None:
        EVENT_LOG.write(text + "\n")
        EVENT_LOG.flush()


class HandedOverActiveDTP(ActiveDTP):
    """An active data connector that lets go of its socket once the transfer owns it.

    After the handover the connector still remembers the descriptor number. The next PORT/EPRT of the session
    closes the old connector, which would unregister that number from the poller; by then the number may belong
    to another session's socket, which then silently stops being served. Marking the connector closed at the
    handover makes that later close a no-op.
    """

    def handle_connect(self):
        ActiveDTP.handle_connect(self)
        if not self._closed:
            self._closed = True
            self._fileno = None
            self.socket = None
            self.connected = False


class RecordingDTPHandler(DTPHandler):
    def enable_receiving(self, type, cmd):
        DTPHandler.enable_receiving(self, type, cmd)
        if STALLED_NAME and os.path.basename(self.file_obj.name) == STALLED_NAME:
            # never read again: the client's sends back up until it gives up
            self.del_channel()

    def close(self):
        received = not self._closed and self.receive
        if received:
            emit("RECEIVED %d %d" % (self.cmd_channel.session_number, self.tot_bytes_received))
        channel = self.cmd_channel
        DTPHandler.close(self)
        limit = RecordingHandler.uploads_per_session
        if received and limit:
            channel.uploads += 1
            if channel.uploads >= limit:
                # the final reply of this upload is on its way already
                channel.close()


class RecordingHandler(FTPHandler):
    active_dtp = HandedOverActiveDTP
    dtp_handler = RecordingDTPHandler
    banner = "PELNO test server ready."
    sessions = 0
    uploads_per_session = 0

    def on_connect(self):
        RecordingHandler.sessions += 1
        self.session_number = RecordingHandler.sessions
        self.uploads = 0

    def pre_process_command(self, line, cmd, arg):
        shown = line
        if cmd == "PASS":
            shown = "PASS ****"
        emit("CMD %d %s" % (self.session_number, shown))
        FTPHandler.pre_process_command(self, line, cmd, arg)

    def on_login(self, username):
        emit("LOGIN %d" % self.session_number)

    def on_disconnect(self):
        emit("CLOSED %d" % self.session_number)


def die_with_parent():
    """A test that crashes must not leave its server running (and holding the test's pipes open)."""
    try:
        import ctypes
        import signal

        libc = ctypes.CDLL("libc.so.6", use_errno=True)
        PR_SET_PDEATHSIG = 1
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
    except OSError:
        pass


def main():
    die_with_parent()
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--readonly", action="append", default=[])
    parser.add_argument("--noenter", action="append", default=[])
    parser.add_argument("--log")
    parser.add_argument("--banner")
    parser.add_argument("--stall")
    parser.add_argument("--close-after-uploads", type=int, default=0)
    args = parser.parse_args()

    global EVENT_LOG, STALLED_NAME
    STALLED_NAME = args.stall
    if args.log:
        EVENT_LOG = open(args.log, "a", encoding="utf-8", errors="replace")

    logging.basicConfig(level=logging.CRITICAL)
    logging.getLogger("pyftpdlib").setLevel(logging.CRITICAL)

    root = os.path.realpath(args.root)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, root, perm=FULL_PERMS)
    for rel in args.readonly:
        path = os.path.join(root, rel)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(args.user, path, "elr", recursive=True)
    for rel in args.noenter:
        path = os.path.join(root, rel)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(args.user, path, FULL_PERMS.replace("e", ""), recursive=True)

    RecordingHandler.authorizer = authorizer
    if args.banner:
        # "|" breaks the line; a banner longer than 75 characters goes out as a multi-line 220 reply
        RecordingHandler.banner = args.banner.replace("|", "\r\n").ljust(76)
    RecordingHandler.permit_privileged_ports = True
    RecordingHandler.timeout = 600
    RecordingHandler.uploads_per_session = args.close_after_uploads

    FTPServer.max_cons = 0
    FTPServer.max_cons_per_ip = 0
    server = FTPServer(("127.0.0.1", args.port), RecordingHandler)
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    try:
        server.serve_forever(handle_exit=True)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
