#!/usr/bin/env python3
"""Runs a link test program with its frame logs kept, then has tshark read
every log: each frame must be dissected by the link protocol, carry no
malformed or expert-warning flag, and (optionally) every frame with a
payload must be dissected by the protocol above.

    check_link_captures.py --protocol lapd [--upper q931] PROGRAM [ARGS...]

--upper applies to LAPD I frames with an information field.

Exits 77 when tshark is missing, 1 on any finding or when the program
fails or writes no log.
"""
import argparse
import glob
import os
import shutil
import subprocess
import struct
import sys
import tempfile


def packets_in(path):
    """Enhanced packet blocks in a pcapng file (either byte order)."""
    with open(path, "rb") as f:
        data = f.read()
    order = "<" if data[8:12] == b"\x4d\x3c\x2b\x1a" else ">"
    n, at = 0, 0
    while at + 8 <= len(data):
        kind, length = struct.unpack(order + "II", data[at:at + 8])
        n += kind == 6
        at += max(length, 12)
    return n


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--protocol", required=True, help="dissector every frame must reach (lapd, mtp2)")
    ap.add_argument("--upper", help="dissector every frame with a payload must reach (q931)")
    ap.add_argument("program", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    if not shutil.which("tshark"):
        print("missing: tshark: skipped")
        return 77
    tmp = tempfile.mkdtemp()
    try:
        env = dict(os.environ, KORVEND_LINK_PCAP_DIR=tmp)
        emulator = os.environ.get("KORVEND_EMULATOR")
        cmd = ([emulator] if emulator else []) + args.program
        run = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            print(run.stdout[-4000:])
            print("test program failed")
            return 1
        logs = sorted(glob.glob(os.path.join(tmp, "*.pcapng")))
        if not logs:
            print("no frame log written")
            return 1
        # One tshark run over all logs, each frame traced back to its log.
        counts = [packets_in(log) for log in logs]
        merged = os.path.join(tmp, "all.pcapng")
        subprocess.run(["mergecap", "-a", "-w", merged] + logs, check=True)
        fields = ["frame.number", "frame.protocols", "_ws.malformed", "_ws.expert.severity", "frame.len"]
        if args.upper:
            fields.append("lapd.control.ftype")
        cmd = ["tshark", "-r", merged, "-T", "fields", "-E", "separator=;", "-E", "occurrence=a"]
        for f in fields:
            cmd += ["-e", f]
        out = subprocess.run(cmd, capture_output=True, text=True).stdout.splitlines()
        findings = 0
        frames = len(out)

        def where(i):
            for log, c in zip(logs, counts):
                if i < c:
                    return "%s frame %d" % (os.path.basename(log), i + 1)
                i -= c
            return "frame %d" % (i + 1)

        warning = 6291456  # tshark's expert severity "Warning"; errors are higher
        for i, line in enumerate(out):
            v = (line.split(";") + [""] * len(fields))[:len(fields)]
            protocols = v[1].split(":")
            if args.protocol not in protocols:
                print("%s: not %s (%s)" % (where(i), args.protocol, v[1]))
                findings += 1
            severities = [int(x) for x in v[3].split(",") if x]
            if "_ws.malformed" in protocols or v[2] or any(x >= warning for x in severities):
                print("%s: malformed or expert warning (%s)" % (where(i), v[1]))
                findings += 1
            if args.upper and v[5] and int(v[5], 0) == 0 and int(v[4] or 0) > 4 and args.upper not in protocols:
                print("%s: payload not %s (%s)" % (where(i), args.upper, v[1]))
                findings += 1
        print("%d logs, %d frames, %d findings" % (len(logs), frames, findings))
        return 1 if findings else 0
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    sys.exit(main())
