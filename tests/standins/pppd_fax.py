#!/usr/bin/env python3
"""Stand-in for the PPP daemon and the fax programs that modem slots start.

Installed by the tests at a program's path under the daemon's root. It
writes its argument vector, one argument a line, to <own path>.argv and
what it does to <own path>.log, then carries out <own path>.plan, one
step a line:

  ignore-hup                 SIGHUP is logged and otherwise ignored
  ignore-term                SIGTERM is ignored
  connect [PORT]             connects to the authentication server on
                             127.0.0.1 (port 52000 unless given)
  connect6 [PORT]            the same through an IPv6 socket, to
                             ::ffff:127.0.0.1
  fork [CODE]                the rest of the plan runs in a child, which
                             logs "forked pid=N"; the parent closes its
                             connection and waits for signals, or exits
                             with CODE when given
  setsid                     leaves the process group for a session of
                             its own
  auth USER PASS [SESSION]   sends an authentication request
  acct OUT IN POUT PIN TIME [SESSION]
                             sends an accounting record
  send HEX...                sends the octets as they are
  flood N HEX...             sends the octets N times over, in one go
  sleep MS                   waits MS milliseconds
  await NAME                 waits until <own path>.NAME exists, then
                             logs "awaited NAME"
  receive N                  reads N octets and logs them in hex
  exit CODE                  exits with the code
  kill SIGNAL                ends by the signal (a number)

The session is the modem number, taken from a "/dev/mdmN" argument or
the one after "-m", unless a step names it. After the last step it waits
for signals: SIGHUP, unless ignored, ends it. Without a plan it exits 0.
"""
import os
import signal
import socket
import struct
import sys
import time

me = os.path.abspath(sys.argv[0])


def log(text):
    with open(me + ".log", "a") as f:
        f.write(text + "\n")


def modem_number():
    args = sys.argv[1:]
    for i, a in enumerate(args):
        if a.startswith("/dev/mdm") and a[8:].isdigit():
            return int(a[8:])
        if a == "-m" and i + 1 < len(args) and args[i + 1].lstrip("-").isdigit():
            return int(args[i + 1])
    return -1


def connect(port, host="127.0.0.1"):
    deadline = time.monotonic() + 10
    while True:
        try:
            return socket.create_connection((host, port), timeout=10)
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def record(kind, session, body):
    return struct.pack(">Iii", 12 + len(body), kind, session) + body


def text(value):
    return value.encode("latin-1")[:64].ljust(64, b"\0")


def main():
    with open(me + ".argv", "w") as f:
        f.write("".join(a + "\n" for a in sys.argv))
    log("start pid=%d" % os.getpid())
    try:
        with open(me + ".plan") as f:
            plan = [line.split() for line in f if line.strip()]
    except FileNotFoundError:
        plan = [["exit", "0"]]
    session = modem_number()
    conn = None
    for step in plan:
        op, args = step[0], step[1:]
        if op == "ignore-hup":
            signal.signal(signal.SIGHUP, lambda *_: log("hup ignored"))
            log("ignoring hup")
        elif op == "ignore-term":
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
        elif op == "connect":
            conn = connect(int(args[0]) if args else 52000)
            log("connected")
        elif op == "connect6":
            conn = connect(int(args[0]) if args else 52000, "::ffff:127.0.0.1")
            log("connected")
        elif op == "fork":
            if os.fork() != 0:
                if conn:
                    conn.close()
                if args:
                    sys.exit(int(args[0]))
                break
            log("forked pid=%d" % os.getpid())
        elif op == "setsid":
            os.setsid()
        elif op == "auth":
            s = int(args[2]) if len(args) > 2 else session
            conn.sendall(record(1, s, text(args[0]) + text(args[1])))
            log("auth sent session=%d" % s)
        elif op == "acct":
            values = [int(v) for v in args[:5]]
            s = int(args[5]) if len(args) > 5 else session
            body = struct.pack(">12xQQQQII", *values[:4], values[4], 0)
            conn.sendall(record(4, s, body))
            log("acct sent session=%d" % s)
        elif op == "send":
            conn.sendall(bytes.fromhex("".join(args)))
            log("sent")
        elif op == "flood":
            conn.sendall(bytes.fromhex("".join(args[1:])) * int(args[0]))
            log("flooded")
        elif op == "sleep":
            time.sleep(int(args[0]) / 1000)
        elif op == "await":
            while not os.path.exists(me + "." + args[0]):
                time.sleep(0.01)
            log("awaited " + args[0])
        elif op == "receive":
            want, got = int(args[0]), b""
            while len(got) < want:
                chunk = conn.recv(want - len(got))
                if not chunk:
                    break
                got += chunk
            log("received " + got.hex(" ").upper())
        elif op == "exit":
            log("exit " + args[0])
            sys.exit(int(args[0]))
        elif op == "kill":
            log("kill " + args[0])
            if int(args[0]) not in (signal.SIGKILL, signal.SIGSTOP):
                signal.signal(int(args[0]), signal.SIG_DFL)
            os.kill(os.getpid(), int(args[0]))
    while True:
        signal.pause()


main()
