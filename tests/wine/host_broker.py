#!/usr/bin/python3
"""Runs Linux programs for Windows test programs under Wine.

A Windows program cannot start a Linux one (the local FTP server is a Python
script), but it can open a TCP connection to 127.0.0.1. Per connection this
broker reads one line, a JSON array with a command line, starts that command
(only one that begins with an allowed prefix), and relays:

    out:<line>      each line of the program's standard output
    exit:<status>   once it has ended (negative: the signal that ended it)
    error:<text>    when it was refused or could not be started

When the client closes its side, the program (its whole process group) gets
SIGTERM, SIGKILL after a grace period, and only once it has ended does the
broker close its side: a client that waits for the end of the connection knows
the program is gone. A program also dies with the thread that serves its
connection, so none outlives the broker.

The broker prints its port as its first line of output and runs until it gets
SIGTERM or SIGINT.
"""

import argparse
import ctypes
import json
import os
import signal
import socket
import subprocess
import sys
import threading

STOP_GRACE_SECONDS = 5
MAX_REQUEST_BYTES = 1 << 20


def die_with_parent():
    # Runs in the child before exec: the kernel kills it when the thread that
    # started it (the connection's) ends, however the broker ends.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL, 0, 0, 0)  # PR_SET_PDEATHSIG


def read_request(conn):
    data = b""
    while b"\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
        if len(data) > MAX_REQUEST_BYTES:
            return None
    return data.split(b"\n", 1)[0]


def allowed(argv, prefixes):
    return any(argv[:len(prefix)] == prefix for prefix in prefixes)


class Session:
    def __init__(self, conn, prefixes):
        self.conn = conn
        self.prefixes = prefixes
        self.send_lock = threading.Lock()

    def send(self, text):
        with self.send_lock:
            try:
                self.conn.sendall(text.encode("utf-8", "surrogateescape") + b"\n")
            except OSError:
                pass  # the client is gone; the program is stopped all the same

    def relay_output(self, process):
        for raw in process.stdout:
            self.send("out:" + raw.rstrip(b"\r\n").decode("utf-8", "surrogateescape"))
        status = process.wait()
        self.send("exit:%d" % status)

    def run(self):
        try:
            request = read_request(self.conn)
            try:
                argv = json.loads(request) if request is not None else None
            except ValueError:
                argv = None
            if not isinstance(argv, list) or not argv or not all(isinstance(a, str) for a in argv):
                self.send("error:the request is not a JSON array of strings")
                return
            if not allowed(argv, self.prefixes):
                self.send("error:not an allowed command: " + argv[0])
                return
            try:
                process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                           start_new_session=True, preexec_fn=die_with_parent)
            except OSError as error:
                self.send("error:cannot start %s: %s" % (argv[0], error))
                return
            relay = threading.Thread(target=self.relay_output, args=(process,), daemon=True)
            relay.start()
            # Whatever the client sends after its request is ignored; its end
            # (or a broken connection) is the signal to stop.
            try:
                while self.conn.recv(65536):
                    pass
            except OSError:
                pass
            stop_group(process)
            relay.join()
        finally:
            self.conn.close()


def stop_group(process):
    if process.poll() is None:
        signal_group(process, signal.SIGTERM)
        try:
            process.wait(STOP_GRACE_SECONDS)
        except subprocess.TimeoutExpired:
            pass
    # Whatever is left of the group (the program's own children) goes too.
    signal_group(process, signal.SIGKILL)
    process.wait()


def signal_group(process, number):
    try:
        os.killpg(process.pid, number)
    except (ProcessLookupError, PermissionError):
        pass


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--allow", action="append", required=True, metavar="JSON",
                        help="a JSON array: commands must begin with these arguments (repeatable)")
    args = parser.parse_args(argv)
    prefixes = [json.loads(prefix) for prefix in args.allow]

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(listener.getsockname()[1], flush=True)
    try:
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=Session(conn, prefixes).run, daemon=True).start()
    except (KeyboardInterrupt, SystemExit):
        pass
    finally:
        listener.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
