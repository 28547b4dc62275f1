#!/usr/bin/python3
"""FTP server for the tests: one user with full rights on a root folder, listening on 127.0.0.1 (or --address).

Prints "PORT <n>" on standard output once it listens. With --log FILE it appends one line per event to FILE, so
that the tests can see what reached the server:
  "CONNECT <session> <ip>"   a control connection came from that address
  "LOGIN <session>"          a login was accepted
  "CMD <session> <line>"     a command line as received (the argument of PASS is masked)
  "RECEIVED <session> <n>"   an upload's data connection closed after n bytes as they came over the wire (before
                             the ASCII line-end conversion of the server)
  "PASS <session> <secure>"  a password arrived, secure 1 when TLS protected the control connection, else 0
  "SECUREDATA <session>"     a data connection finished its TLS handshake
With --read-limit N uploads are read at no more than N bytes a second. With --hold NAME --release FILE the STOR of
a file with that name is answered only once FILE exists.
With --cwd-reply DIR=HEX a CWD into DIR (relative to the root) is answered with the bytes HEX spells, sent as they
are followed by CR LF, so a test can make the server send replies that break the protocol's rules; an empty HEX
closes the control connection instead of answering.
  "CLOSED <session>"         the control connection ended (either side closed it)
With --close-after-changes N the server closes a control connection itself once N uploads or deletions of that
session have completed, the way servers that limit the commands per session do.
With --max-cons-per-ip N the server admits at most N control connections from one address at a time and answers
the next with 421 and closes it, the way shared hosting limits its clients:
  "REFUSED <ip>"             a control connection from that address was turned away (it has no session number)
With --limit-at-password as well, connections are let in and the limit counts logins instead: a PASS beyond it is
answered with "530 Sorry, the maximum number of clients (N) from your host are already connected." and the
connection closed (the refusal is logged as REFUSED too).
With --refuse-logins-when FILE every login is answered with 530 once FILE exists, as when the password was changed
on the server during a run.
The session number counts control connections from 1. Events never go to standard output: a test that does not
read that pipe could otherwise stall the server once the pipe is full.

With --process-per-connection each control connection is served by a process of its own, as most FTP daemons do
(the benchmark's second server; the connection limit does not apply then). With --tls-cert/--tls-key the server offers explicit TLS (AUTH TLS, PBSZ, PROT) without requiring it. With
--refuse-active it answers every PORT and EPRT with 425, like a server behind a firewall that lets no connection
out.
With --refuse-rename-over an RNTO onto a name that exists is refused with 550, as some servers do. With
--abort-uploads-named PREFIX the upload of a file whose name starts with PREFIX is cut off after its first bytes
(the data connection closed, 426), leaving the part on the disk.
With --no-mlsd the server offers neither MLSD nor MLST (nor names them in FEAT), like servers that list with LIST
only.
"""

import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

FULL_PERMS = "elradfmwMT"


EVENT_LOG = None
STALLED_NAME = None
HELD_NAME = None
RELEASE_FILE = None
CWD_REPLIES = {}  # real path of a directory -> raw reply bytes (None: drop the connection)
REFUSE_ACTIVE = False
REFUSE_LOGINS_FILE = None
REFUSE_RENAME_OVER = False
ABORT_PREFIX = None
LOGIN_LIMIT = 0  # with --limit-at-password: logins allowed per address at a time
LOGINS_BY_ADDRESS = {}


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


class RecordingDTP:
    def enable_receiving(self, type, cmd):
        super().enable_receiving(type, cmd)
        if STALLED_NAME and os.path.basename(self.file_obj.name) == STALLED_NAME:
            # never read again: the client's sends back up until it gives up
            self.del_channel()

    def handle_read(self):
        super().handle_read()
        if (ABORT_PREFIX and self.receive and not self._closed and self.tot_bytes_received > 0
                and os.path.basename(self.file_obj.name).startswith(ABORT_PREFIX)):
            self.transfer_finished = False
            self._resp = ("426 Transfer aborted.", lambda *args, **kwargs: None)
            self.close()

    # DTPHandler names its read method a second time for the poller
    handle_read_event = handle_read

    def close(self):
        received = not self._closed and self.receive
        if received:
            emit("RECEIVED %d %d" % (self.cmd_channel.session_number, self.tot_bytes_received))
        channel = self.cmd_channel
        super().close()
        if received:
            # after the final reply of this upload, which is queued already
            channel.count_change()


class RecordingDTPHandler(RecordingDTP, DTPHandler):
    pass


class ThrottledRecordingDTPHandler(RecordingDTP, ThrottledDTPHandler):
    """Used with --read-limit: uploads arrive no faster than that many bytes a second, as over a slow line."""


class SwitchableAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        if REFUSE_LOGINS_FILE and os.path.exists(REFUSE_LOGINS_FILE):
            # the refusal is the point here: it need not be slowed down like a guessing attack
            handler.auth_failed_timeout = 0.1
            raise AuthenticationFailed("Authentication failed.")
        return DummyAuthorizer.validate_authentication(self, username, password, handler)


class RecordingHandler(FTPHandler):
    active_dtp = HandedOverActiveDTP
    dtp_handler = RecordingDTPHandler
    banner = "PELNO test server ready."
    sessions = 0
    changes_per_session = 0

    def on_connect(self):
        RecordingHandler.sessions += 1
        self.session_number = RecordingHandler.sessions
        emit("CONNECT %d %s" % (self.session_number, self.remote_ip))
        self.changes = 0

    def count_change(self):
        limit = RecordingHandler.changes_per_session
        if limit:
            self.changes += 1
            if self.changes >= limit:
                self.close_when_done()

    def ftp_DELE(self, path):
        done = super().ftp_DELE(path)
        # a refused deletion (an exception in the file system call) has answered with 550 and returned nothing
        if done:
            self.count_change()
        return done

    def pre_process_command(self, line, cmd, arg):
        shown = line
        if cmd == "PASS":
            shown = "PASS ****"
        emit("CMD %d %s" % (self.session_number, shown))
        if cmd == "PASS":
            emit("PASS %d %d" % (self.session_number, 1 if getattr(self, "_ssl_established", False) else 0))
        self.process_when_released(line, cmd, arg)

    def process_when_released(self, line, cmd, arg):
        if self._closed:
            return
        if (HELD_NAME and cmd == "STOR" and os.path.basename(arg) == HELD_NAME
                and not os.path.exists(RELEASE_FILE)):
            # the client waits for the reply meanwhile, as for a slow disk
            self.ioloop.call_later(0.02, self.process_when_released, line, cmd, arg)
            return
        FTPHandler.pre_process_command(self, line, cmd, arg)

    def handle_max_cons_per_ip(self):
        self.session_number = 0
        emit("REFUSED %s" % self.remote_ip)
        FTPHandler.handle_max_cons_per_ip(self)

    def ftp_PASS(self, line):
        if LOGIN_LIMIT and LOGINS_BY_ADDRESS.get(self.remote_ip, 0) >= LOGIN_LIMIT:
            emit("REFUSED %s" % self.remote_ip)
            self.respond("530 Sorry, the maximum number of clients (%d) from your host are already connected."
                         % LOGIN_LIMIT)
            self.close_when_done()
            return
        return FTPHandler.ftp_PASS(self, line)

    def on_login(self, username):
        emit("LOGIN %d" % self.session_number)
        if LOGIN_LIMIT:
            LOGINS_BY_ADDRESS[self.remote_ip] = LOGINS_BY_ADDRESS.get(self.remote_ip, 0) + 1
            self.counted_login = True

    def ftp_CWD(self, path):
        key = os.path.realpath(path)
        if key not in CWD_REPLIES:
            return FTPHandler.ftp_CWD(self, path)
        reply = CWD_REPLIES[key]
        if reply is None:
            self.close()
        else:
            # past FTPHandler.push, which would encode text: the bytes go out as they are
            super(FTPHandler, self).push(reply + b"\r\n")
        return None

    def ftp_RNTO(self, path):
        if REFUSE_RENAME_OVER and self._rnfr and self.fs.lexists(path):
            self._rnfr = None
            self.respond("550 File exists.")
            return None
        return FTPHandler.ftp_RNTO(self, path)

    def ftp_PORT(self, line):
        if REFUSE_ACTIVE:
            self.respond("425 Active data connections are not possible here.")
            return
        return FTPHandler.ftp_PORT(self, line)

    def ftp_EPRT(self, line):
        if REFUSE_ACTIVE:
            self.respond("425 Active data connections are not possible here.")
            return
        return FTPHandler.ftp_EPRT(self, line)

    def on_disconnect(self):
        if getattr(self, "counted_login", False):
            self.counted_login = False
            LOGINS_BY_ADDRESS[self.remote_ip] -= 1
        if getattr(self, "session_number", 0):
            emit("CLOSED %d" % self.session_number)


def tls_handler(certfile, keyfile):
    """The recording handler with explicit TLS; imported only when asked for, as it needs python3-openssl."""
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class RecordingTLSDTPHandler(TLS_DTPHandler):
        def readable(self):
            # A client may start the data connection's handshake before it sends STOR/RETR/LIST; pyftpdlib would
            # take that early data for a hang-up and close the channel.
            if self._ssl_accepting:
                return True
            return TLS_DTPHandler.readable(self)

        def handle_ssl_established(self):
            emit("SECUREDATA %d" % self.cmd_channel.session_number)
            TLS_DTPHandler.handle_ssl_established(self)

        def close(self):
            if not self._closed and self.receive:
                emit("RECEIVED %d %d" % (self.cmd_channel.session_number, self.tot_bytes_received))
            TLS_DTPHandler.close(self)

    class RecordingTLSHandler(RecordingHandler, TLS_FTPHandler):
        dtp_handler = RecordingTLSDTPHandler

    RecordingTLSHandler.certfile = certfile
    RecordingTLSHandler.keyfile = keyfile
    # Clients resume the control connection's TLS session on their data connections; OpenSSL refuses that on a
    # context without a session id context.
    RecordingTLSHandler.get_ssl_context().set_session_id(b"pelno-test")
    return RecordingTLSHandler


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
    parser.add_argument("--read-limit", type=int, default=0)
    parser.add_argument("--hold")
    parser.add_argument("--release")
    parser.add_argument("--cwd-reply", action="append", default=[])
    parser.add_argument("--listen", default="127.0.0.1")  # another loopback address, such as 127.0.0.99
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--refuse-active", action="store_true")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--refuse-rename-over", action="store_true")
    parser.add_argument("--abort-uploads-named")
    parser.add_argument("--close-after-changes", type=int, default=0)
    parser.add_argument("--max-cons-per-ip", type=int, default=0)
    parser.add_argument("--limit-at-password", action="store_true")
    parser.add_argument("--refuse-logins-when")
    # one process per connection, as most FTP daemons serve (the benchmark's second server)
    parser.add_argument("--process-per-connection", action="store_true")
    args = parser.parse_args()

    global EVENT_LOG, STALLED_NAME, HELD_NAME, RELEASE_FILE, REFUSE_ACTIVE, REFUSE_LOGINS_FILE
    global REFUSE_RENAME_OVER, ABORT_PREFIX
    REFUSE_RENAME_OVER = args.refuse_rename_over
    ABORT_PREFIX = args.abort_uploads_named
    REFUSE_LOGINS_FILE = args.refuse_logins_when
    STALLED_NAME = args.stall
    HELD_NAME = args.hold
    RELEASE_FILE = args.release
    REFUSE_ACTIVE = args.refuse_active
    if args.log:
        EVENT_LOG = open(args.log, "a", encoding="utf-8", errors="replace")

    logging.basicConfig(level=logging.CRITICAL)
    logging.getLogger("pyftpdlib").setLevel(logging.CRITICAL)

    root = os.path.realpath(args.root)
    authorizer = SwitchableAuthorizer()
    authorizer.add_user(args.user, args.password, root, perm=FULL_PERMS)
    for rel in args.readonly:
        path = os.path.join(root, rel)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(args.user, path, "elr", recursive=True)
    for rel in args.noenter:
        path = os.path.join(root, rel)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(args.user, path, FULL_PERMS.replace("e", ""), recursive=True)

    for entry in args.cwd_reply:
        rel, _, hex_reply = entry.partition("=")
        path = os.path.join(root, rel)
        os.makedirs(path, exist_ok=True)
        CWD_REPLIES[os.path.realpath(path)] = bytes.fromhex(hex_reply) if hex_reply else None

    RecordingHandler.authorizer = authorizer
    if args.read_limit > 0:
        ThrottledRecordingDTPHandler.read_limit = args.read_limit
        RecordingHandler.dtp_handler = ThrottledRecordingDTPHandler
    if args.banner:
        # "|" breaks the line; a banner longer than 75 characters goes out as a multi-line 220 reply
        RecordingHandler.banner = args.banner.replace("|", "\r\n").ljust(76)
    RecordingHandler.permit_privileged_ports = True
    RecordingHandler.timeout = 600
    RecordingHandler.changes_per_session = args.close_after_changes

    handler = RecordingHandler
    if args.tls_cert:
        handler = tls_handler(args.tls_cert, args.tls_key)

    if args.no_mlsd:
        # FEAT names only the commands in proto_cmds, so the subclass also stops advertising MLST
        commands = {name: help for name, help in handler.proto_cmds.items() if name not in ("MLSD", "MLST")}
        handler = type("ListOnly" + handler.__name__, (handler,), {"proto_cmds": commands})

    FTPServer.max_cons = 0
    global LOGIN_LIMIT
    if args.limit_at_password:
        LOGIN_LIMIT = args.max_cons_per_ip
    FTPServer.max_cons_per_ip = 0 if args.limit_at_password else args.max_cons_per_ip
    if args.process_per_connection:
        from pyftpdlib.servers import MultiprocessFTPServer

        MultiprocessFTPServer.max_cons = 0
        server = MultiprocessFTPServer((args.listen, args.port), handler)
    else:
        server = FTPServer((args.listen, args.port), handler)
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    try:
        server.serve_forever(handle_exit=True)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
