#!/usr/bin/python3
"""A local FTP server for the tests and the demo.

Serves one folder to one user on 127.0.0.1. The first line written to standard
output is the port it listens on; nothing is accepted before that line appears.
SIGTERM (or SIGINT) closes every session and ends the process with status 0.

Fault options make the server misbehave the way real servers and networks do,
so that each test scripts the failure it needs:

  --drop-after N        close the data connection after N bytes of a file
                        transfer (download or upload) and answer 426
  --stall-after N --stall-seconds S
                        after N bytes of a file transfer, move nothing on the
                        data connection for S seconds, then carry on
  --trickle-rate R      move at most R bytes per second on the data connection
                        of a file transfer, all the way through
  --stall-until FILE    end the stall above as soon as FILE exists (S still
                        bounds it), so that a test holds the transfer still
                        for exactly as long as it needs
  --faulty-transfers K  apply the three faults above to the first K file
                        transfers of the server's life only (default: all)
  --no-size             answer SIZE with 502, as servers without the command do
  --extra-bytes N       send N bytes more than a downloaded file holds (SIZE
                        still tells the file's own size)
  --endless             never end a download: after the file's bytes, zeros
                        follow until the client gives up
  --refuse-login        refuse every login with 530
  --no-greeting         accept connections but never send the 220 greeting
  --command-log FILE    append every command line received (and "# connect" /
                        "# disconnect" per session) to FILE, flushed at once

  --tls CERT KEY        FTP over explicit TLS (AUTH TLS) with this certificate
                        and key (PEM files); clear-text sessions are refused
                        (needs python3-openssl; the faults above then do not
                        apply to data connections)

  --parent PID          end together with process PID: a test that dies in the
                        middle must not leave a server behind holding its
                        output open

Run it with /usr/bin/python3: the pyftpdlib it needs is the system's package.
"""

import argparse
import logging
import os
import signal
import sys
import time

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

FILE_COMMANDS = ("RETR", "STOR", "APPE", "STOU")


class Faults:
    """Fault settings and the count of file transfers seen so far."""

    drop_after = None
    stall_after = None
    stall_seconds = 0.0
    trickle_rate = None
    stall_until = None
    faulty_transfers = None
    transfers_started = 0
    command_log = None


class FaultyDTPHandler(DTPHandler):
    """Data channel that can be cut or held still after a number of bytes."""

    def __init__(self, sock, cmd_channel):
        self._moved = 0
        self._stalled = False
        self._stall_done = False
        self._budget = 0
        DTPHandler.__init__(self, sock, cmd_channel)

    def _faulty(self):
        return getattr(self.cmd_channel, "fault_this_transfer", False)

    def _allowance(self, wanted):
        """How many of `wanted` bytes may move before the next fault point."""
        if not self._faulty():
            return wanted
        limits = []
        if Faults.drop_after is not None:
            limits.append(Faults.drop_after - self._moved)
        if Faults.stall_after is not None and not self._stall_done:
            limits.append(Faults.stall_after - self._moved)
        if not limits:
            return wanted
        return max(0, min([wanted] + limits))

    def _after_moving(self, count):
        self._moved += count
        if not self._faulty():
            return
        if Faults.drop_after is not None and self._moved >= Faults.drop_after:
            self._resp = ("426 Connection closed; transfer aborted.", logging.info)
            self.close()
        elif (Faults.stall_after is not None and not self._stall_done
              and self._moved >= Faults.stall_after):
            self._start_stall()

    def _start_stall(self):
        # Never sleep here: the server has one thread, and every other session
        # must go on while this one stands still.
        self._stalled = True
        self._stall_done = True
        self.modify_ioloop_events(0)
        if Faults.stall_until is None:
            self.call_later(Faults.stall_seconds, self._end_stall)
        else:
            self._stall_deadline = time.monotonic() + Faults.stall_seconds
            self._check_stall()

    def _check_stall(self):
        if os.path.exists(Faults.stall_until) or time.monotonic() >= self._stall_deadline:
            self._end_stall()
        else:
            self.call_later(0.05, self._check_stall)

    def _end_stall(self):
        self._stalled = False
        if not self._closed:
            events = self.ioloop.READ if self.receive else self.ioloop.WRITE
            self.modify_ioloop_events(events)

    def _trickle_refill(self):
        self._budget = max(1, Faults.trickle_rate // 10)
        self._end_stall()

    def send(self, data):
        if self._stalled:
            return 0
        allowed = self._allowance(len(data))
        if self._faulty() and Faults.trickle_rate:
            if self._budget <= 0:
                # A tenth of the rate every tenth of a second, without sleeping.
                self._stalled = True
                self.modify_ioloop_events(0)
                self.call_later(0.1, self._trickle_refill)
                return 0
            allowed = min(allowed, self._budget)
        sent = DTPHandler.send(self, data[:allowed]) if allowed else 0
        self._budget -= sent
        self._after_moving(sent)
        return sent

    def handle_read(self):
        if self._stalled:
            return
        if not self._faulty() or not self.receive:
            DTPHandler.handle_read(self)
            return
        try:
            chunk = self.recv(self.ac_in_buffer_size)
        except Exception:
            DTPHandler.handle_error(self)
            return
        if not chunk:
            self.transfer_finished = True
            return
        allowed = self._allowance(len(chunk))
        # Bytes past a fault point are read from the socket but never stored,
        # so the file on disk holds exactly the bytes before the fault.
        self.tot_bytes_received += allowed
        self.file_obj.write(chunk[:allowed])
        self._after_moving(allowed)

    handle_read_event = handle_read


class PaddedProducer:
    """A downloaded file followed by more bytes than it holds."""

    chunk = 65536

    def __init__(self, inner, extra):
        self.inner = inner
        self.extra = extra  # None: without end

    def more(self):
        data = self.inner.more()
        if data:
            return data
        if self.extra is None:
            return bytes(self.chunk)
        count = min(self.chunk, self.extra)
        self.extra -= count
        return bytes(count)


class ScriptedHandler(FTPHandler):
    dtp_handler = FaultyDTPHandler
    auth_failed_timeout = 0
    no_size = False
    no_greeting = False
    extra_bytes = 0
    endless = False

    def _log(self, text):
        if Faults.command_log is not None:
            Faults.command_log.write(text + "\n")
            Faults.command_log.flush()

    def handle(self):
        self._log("# connect")
        if self.no_greeting:
            self.on_connect()
            return
        FTPHandler.handle(self)

    def on_disconnect(self):
        self._log("# disconnect")

    def pre_process_command(self, line, cmd, arg):
        self._log(line)
        if cmd in FILE_COMMANDS:
            Faults.transfers_started += 1
            limit = Faults.faulty_transfers
            self.fault_this_transfer = limit is None or Faults.transfers_started <= limit
        FTPHandler.pre_process_command(self, line, cmd, arg)

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if cmd == "RETR" and isproducer and (self.extra_bytes or self.endless):
            data = PaddedProducer(data, None if self.endless else self.extra_bytes)
        FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)

    def ftp_SIZE(self, path):
        if self.no_size:
            # 550 would mean "no such file" to clients; 502 means "no SIZE here".
            self.respond("502 Command not implemented.")
            return
        FTPHandler.ftp_SIZE(self, path)


class RefusingAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        raise AuthenticationFailed("Login refused.")


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="Local FTP server for tests and the demo.")
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--drop-after", type=int)
    parser.add_argument("--stall-after", type=int)
    parser.add_argument("--stall-seconds", type=float, default=0.0)
    parser.add_argument("--trickle-rate", type=int)
    parser.add_argument("--stall-until")
    parser.add_argument("--faulty-transfers", type=int)
    parser.add_argument("--no-size", action="store_true")
    parser.add_argument("--refuse-login", action="store_true")
    parser.add_argument("--no-greeting", action="store_true")
    parser.add_argument("--extra-bytes", type=int, default=0)
    parser.add_argument("--endless", action="store_true")
    parser.add_argument("--command-log")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--parent", type=int, help="end when this process ends")
    parser.add_argument("--quiet", action="store_true", help="log warnings only")
    return parser.parse_args(argv)


def end_with_parent(parent):
    """Have the kernel kill us when the process that started us goes away."""
    import ctypes
    PR_SET_PDEATHSIG = 1
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    # It may have gone already, before the request above took effect.
    if os.getppid() != parent:
        sys.exit(1)


def main(argv):
    args = parse_arguments(argv)
    if args.parent is not None:
        end_with_parent(args.parent)
    logging.basicConfig(level=logging.WARNING if args.quiet else logging.INFO,
                        format="ftpserver: %(message)s", stream=sys.stderr)

    Faults.drop_after = args.drop_after
    Faults.stall_after = args.stall_after
    Faults.stall_seconds = args.stall_seconds
    Faults.trickle_rate = args.trickle_rate
    Faults.stall_until = args.stall_until
    Faults.faulty_transfers = args.faulty_transfers
    if args.command_log:
        Faults.command_log = open(args.command_log, "a", encoding="utf-8")

    authorizer = RefusingAuthorizer() if args.refuse_login else DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root), perm="elradfmwMT")

    ScriptedHandler.authorizer = authorizer
    ScriptedHandler.no_size = args.no_size
    ScriptedHandler.no_greeting = args.no_greeting
    ScriptedHandler.extra_bytes = args.extra_bytes
    ScriptedHandler.endless = args.endless
    # The fault hooks sit in send() and in the producer; the kernel's sendfile
    # would go around them.
    ScriptedHandler.use_sendfile = (args.drop_after is None and args.stall_after is None
                                    and args.trickle_rate is None
                                    and not args.extra_bytes and not args.endless
                                    and ScriptedHandler.use_sendfile)

    handler = ScriptedHandler
    if args.tls:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        class HandshakingDTPHandler(TLS_DTPHandler):
            """pyftpdlib closes a data connection that turns readable before
            the transfer command; a client's TLS handshake, sent as soon as it
            connects, does exactly that. Stay readable while it runs."""

            def readable(self):
                if self._ssl_accepting or self._ssl_want_read:
                    return True
                return super().readable()

        class TlsScriptedHandler(TLS_FTPHandler, ScriptedHandler):
            dtp_handler = HandshakingDTPHandler
            certfile = args.tls[0]
            keyfile = args.tls[1]
            tls_control_required = True
            tls_data_required = True

        handler = TlsScriptedHandler

    server = FTPServer((args.host, args.port), handler)

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)
    if Faults.command_log is not None:
        Faults.command_log.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
