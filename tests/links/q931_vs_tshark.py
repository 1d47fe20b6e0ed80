#!/usr/bin/env python3
"""Compares our Q.931 trace text with tshark's dissection, frame by frame.

    q931_vs_tshark.py Q931_TRACE FRAMES

FRAMES holds one frame per line, "I" (network to user) or "O" (user to
network) and the octets in hex; '#' starts a comment. Q931_TRACE is the
program that prints our decoder's text of each frame. For each frame the
message type, the call reference (value, flag, length), the information
element identifiers in order, the cause values with their coding and
location, the called and calling numbers' digits and the display texts must
agree. A call reference printed without its length is one octet long, or the
dummy call reference (no octet), which prints as call reference 0. Prints one
line per disagreement and "N passed, M failed"; exits 1 when any failed,
77 when tshark is missing.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

# Q.931 4.2 message types and 4.5 codeset 0 element identifiers, by name, as
# the trace prints them.
MESSAGE_TYPES = {
    "ALERTING": 0x01, "CALL PROCEEDING": 0x02, "CONNECT": 0x07, "CONNECT ACKNOWLEDGE": 0x0F,
    "PROGRESS": 0x03, "SETUP": 0x05, "SETUP ACKNOWLEDGE": 0x0D, "HOLD": 0x24, "HOLD ACKNOWLEDGE": 0x28,
    "HOLD REJECT": 0x30, "RETRIEVE": 0x31, "RETRIEVE ACKNOWLEDGE": 0x33, "RETRIEVE REJECT": 0x37,
    "RESUME": 0x26, "RESUME ACKNOWLEDGE": 0x2E, "RESUME REJECT": 0x22, "SUSPEND": 0x25,
    "SUSPEND ACKNOWLEDGE": 0x2D, "SUSPEND REJECT": 0x21, "USER INFORMATION": 0x20, "DISCONNECT": 0x45,
    "RELEASE": 0x4D, "RELEASE COMPLETE": 0x5A, "RESTART": 0x46, "RESTART ACKNOWLEDGE": 0x4E,
    "SEGMENT": 0x60, "CONGESTION CONTROL": 0x79, "INFORMATION": 0x7B, "FACILITY": 0x62, "NOTIFY": 0x6E,
    "STATUS": 0x7D, "STATUS ENQUIRY": 0x75,
}
ELEMENTS = {
    "Segmented message": 0x00, "Bearer capability": 0x04, "Cause": 0x08, "Call identity": 0x10,
    "Call state": 0x14, "Channel identification": 0x18, "Facility": 0x1C, "Progress indicator": 0x1E,
    "Network-specific facilities": 0x20, "Notification indicator": 0x27, "Display": 0x28,
    "Date/Time": 0x29, "Keypad facility": 0x2C, "Signal": 0x34, "Information rate": 0x40,
    "End-to-end delay": 0x42, "Transit delay selection and indication": 0x43,
    "Packet layer binary parameters": 0x44, "Packet layer window size": 0x45, "Packet size": 0x46,
    "Closed user group": 0x47, "Reverse charge indication": 0x4A, "Calling party number": 0x6C,
    "Calling party subaddress": 0x6D, "Called party number": 0x70, "Called party subaddress": 0x71,
    "Redirecting number": 0x74, "Transit network selection": 0x78, "Restart indicator": 0x79,
    "Low layer compatibility": 0x7C, "High layer compatibility": 0x7D, "User-user": 0x7E,
    "Escape for extension": 0x7F,
}


def read_frames(path):
    frames = []
    with open(path) as f:
        for line in f:
            words = line.split("#", 1)[0].split()
            if words:
                frames.append((words[0], [int(w, 16) for w in words[1:]]))
    return frames


def ours(tool, frames_path):
    # In the board's build the tool is a target program, run under the emulator.
    emulator = os.environ.get("KORVEND_EMULATOR")
    cmd = ([emulator] if emulator else []) + [tool, frames_path]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    texts = re.split(r"^=== frame \d+\n", out, flags=re.M)[1:]
    result = []
    for text in texts:
        r = {"type": None, "callref": None, "ies": [], "causes": [], "cause_fields": [], "digits": [],
             "displays": []}
        element = None
        for line in text.splitlines():
            m = re.match(r"    coding ([01]{2}) location ([01]{4})$", line)
            if m and element == 0x08:
                r["cause_fields"].append((int(m.group(1), 2), int(m.group(2), 2)))
                continue
            m = re.match(r"    number digits (.*)$", line)
            if m and element in (0x6C, 0x70):
                r["digits"].append((element, m.group(1)))
                continue
            m = re.match(r'   "(.*)"$', line)
            if m and element == 0x28:
                r["displays"].append(m.group(1))
                continue
            m = re.match(r"callref (\d+) (called|caller)(?: \((\d+) octets\))? size \d+ "
                         r"(?:message type (.+)|unknown message type ([0-9a-f]+)!)$", line)
            if m:
                r["callref"] = (int(m.group(1)), 1 if m.group(2) == "called" else 0,
                                int(m.group(3)) if m.group(3) else 1)
                r["type"] = MESSAGE_TYPES.get(m.group(4), -1) if m.group(4) else int(m.group(5), 16)
                continue
            m = re.match(r"  cause value ([0-9a-f]+) ", line)
            if m:
                r["causes"].append(int(m.group(1), 16))
                continue
            m = re.match(r"  (\S.*)$", line)
            if not m or r["type"] is None:
                continue
            item = m.group(1)
            if item in ELEMENTS:
                r["ies"].append(ELEMENTS[item])
                element = ELEMENTS[item]
            elif item.startswith("attribute "):
                r["ies"].append(int(item.split()[1], 16))
            elif item == "More data":
                r["ies"].append(0xA0)
            elif item == "Sending complete":
                r["ies"].append(0xA1)
            elif item.startswith("Shift "):
                r["ies"].append(0x90 | int(item.split()[1], 16))
            elif item.startswith("Congestion level "):
                r["ies"].append(0xB0 | int(item.split()[2], 16))
            elif item.startswith("Repeat indicator "):
                r["ies"].append(0xD0 | int(item.split()[2], 16))
            elif item.startswith("Reserved "):
                r["ies"].append(int(item.split()[1], 16))
        result.append(r)
    return result


def theirs(frames):
    tmp = tempfile.mkdtemp()
    try:
        txt = os.path.join(tmp, "frames.txt")
        with open(txt, "w") as f:
            for d, octets in frames:
                f.write("%s 0000 %s\n" % (d, " ".join("%02x" % o for o in octets)))
        pcap = os.path.join(tmp, "frames.pcapng")
        subprocess.run(["text2pcap", "-q", "-D", "-E", "lapd", txt, pcap], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pdml = subprocess.run(["tshark", "-r", pcap, "-T", "pdml"], check=True, capture_output=True,
                              text=True).stdout
    finally:
        shutil.rmtree(tmp)
    result = []
    for packet in ET.fromstring(pdml).iter("packet"):
        r = {"type": None, "callref": None, "ies": [], "causes": [], "cause_fields": [], "digits": [],
             "displays": []}
        length, value, flag = None, 0, 0
        element, location = None, None
        for proto in packet.iter("proto"):
            if proto.get("name") != "q931":
                continue
            for f in proto.iter("field"):
                name, show, raw = f.get("name"), f.get("show"), f.get("value")
                if name == "q931.call_ref_len":
                    length = int(show)
                elif name == "q931.call_ref":
                    value = int(show.replace(":", ""), 16)
                elif name == "q931.call_ref_flag":
                    flag = int(show)
                elif name == "q931.message_type":
                    r["type"] = int(show, 16)
                elif name == "q931.information_element":
                    r["ies"].append(int(show))
                    element = int(show)
                elif name == "q931.cause_location":
                    location = int(show)
                elif name == "q931.coding_standard" and element == 0x08:
                    r["cause_fields"].append((int(show, 16), location))
                elif name in ("q931.calling_party_number.digits", "q931.called_party_number.digits"):
                    r["digits"].append((0x6C if "calling" in name else 0x70, show))
                elif name == "q931.display_information":
                    r["displays"].append(show)
                elif name == "q932.ie.type":  # elements Q.932 dissects (facility, notification)
                    r["ies"].append(int(show, 16))
                elif name in ("q931.sending_complete", "q931.more_data", "q931.locking_codeset",
                              "q931.non_locking_codeset", "q931.congestion_level", "q931.repeat_indicator"):
                    r["ies"].append(int(raw if name in ("q931.locking_codeset", "q931.non_locking_codeset")
                                        else f.get("unmaskedvalue") or
                                        {"q931.sending_complete": "a1", "q931.more_data": "a0"}[name], 16))
                elif name == "q931.cause_value":
                    r["causes"].append(int(show))
        if length is not None:
            r["callref"] = (value, flag, length)
        result.append(r)
    return result


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    if not shutil.which("tshark") or not shutil.which("text2pcap"):
        print("missing: tshark or text2pcap: skipped")
        return 77
    frames = read_frames(sys.argv[2])
    a, b = ours(sys.argv[1], sys.argv[2]), theirs(frames)
    if len(a) != len(frames) or len(b) != len(frames):
        print("frame counts differ: %d listed, %d decoded by us, %d by tshark" % (len(frames), len(a), len(b)))
        return 1
    passed = failed = 0
    for i, (x, y) in enumerate(zip(a, b), 1):
        # The dummy call reference prints as a one-octet call reference 0.
        if x["callref"] == (0, 0, 1) and y["callref"] == (0, 0, 0):
            x["callref"] = y["callref"]
        bad = [k for k in ("type", "callref", "ies", "causes", "cause_fields", "digits", "displays") if x[k] != y[k]]
        if bad:
            failed += 1
            for k in bad:
                print("frame %d (%s): %s ours %s, tshark %s" % (i, " ".join("%02X" % o for o in frames[i - 1][1]),
                                                              k, x[k], y[k]))
        else:
            passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
