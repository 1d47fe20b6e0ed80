#!/usr/bin/env python3
"""ED-137 radio extension payloads against tshark's dissector, both ways.

Forward: records given as field values are packed by our coder (r2s-probe
pack); each payload becomes the header extension (profile 0x0167) of a
synthetic RTP packet in a pcap, and the fields tshark decodes must be the
values packed, each cut to its width.

Reverse: payloads are built here from field values (with blocks our
readers do not know, and zero padding); tshark must decode the values they
were built from, and our readers (r2s-probe unpack) must return them too.

Exit 0 when every payload passed, 1 when one failed, 77 without tshark.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

PROFILE = 0x0167
PORT = 5004

A = 'rtp.ext.ed137a.'
B = 'rtp.ext.ed137b.ft.'
RRC_FIELDS = [B + 'rrc.' + f for f in ('mstxf1', 'msrxf1', 'mstxf2', 'msrxf2', 'seltxf1', 'seltxf2', 'murxf1', 'murxf2')]
MAM_FIELDS = [B + 'climax_ddc.mam_' + f for f in ('tqg', 't1', 'nmr', 't2', 'tsd', 'tj1', 'tid')]
RRM_FIELDS = [B + 'climax_ddc.rmm_tqv', B + 'climax_ddc.rmm_t1']
SQI_FIELDS = [A + 'ft.sqi.qidx', A + 'ft.sqi.qidx-ml']
DELAY_MODE = A + 'ft.climax_delay.mode'
DELAY_RELATIVE = A + 'ft.climax_delay.relative_value'
DELAY_ABSOLUTE = A + 'ft.climax_delay.absolute_value'
HEADER_FIELDS = [A + f for f in ('ptt_type', 'squ', 'ptt_id', 'pm', 'ptts', 'sct', 'reserved', 'x')]
BLOCK_FIELDS = [A + 'ft.type', A + 'ft.len', A + 'ft.value']
FIELDS = (['rtp.ext.profile', 'rtp.ext.len'] + HEADER_FIELDS + BLOCK_FIELDS + SQI_FIELDS +
          [DELAY_MODE, DELAY_RELATIVE, DELAY_ABSOLUTE] + RRC_FIELDS + RRM_FIELDS + MAM_FIELDS + [A + 'ft.padding'])


# ---- the payload model: what a record means on the wire ----

class Block:
    """One feature block: its kind and value bytes, the fields tshark gives
    it, the probe's words for the raw values it was built from, and the
    direction whose record builds it."""

    def __init__(self, kind, value, fields, raw='', direction=None):
        self.kind, self.value, self.fields = kind, bytes(value), fields
        self.raw, self.direction = raw, direction

    def wire(self):
        return bytes([(self.kind << 4) | len(self.value)]) + self.value


def bits(values):
    n = 0
    for v in values:
        n = (n << 1) | (v & 1)
    return n


def unbits(byte):
    return [(byte >> (7 - i)) & 1 for i in range(8)]


def flag23(flag, value):
    return bytes([((flag & 1) << 7) | ((value >> 16) & 0x7F), (value >> 8) & 0xFF, value & 0xFF])


def words(*values):
    return ' '.join(str(v) for v in values)


def sqi_block(first, second):
    raw = 'sqi ' + words(first, second)
    first, second = first & 0x1F, second & 7
    return Block(1, [(first << 3) | second], {SQI_FIELDS[0]: [first], SQI_FIELDS[1]: [second]}, raw, 'rx')


def rrc_fields(f):
    return {name: [v] for name, v in zip(RRC_FIELDS, f)}


def rx_rrc_block(f, form, e0=0, e1=0, b0=0, b1=0):
    raw = 'rrc ' + words(*f, form, e0, e1, b0, b1)
    f = [v & 1 for v in f]
    if form == 0:
        return Block(3, [bits(f)], rrc_fields(f), raw, 'rx')
    value = [bits(f), ((e0 & 1) << 7) | ((e1 & 1) << 6), b0 & 0xFF, b1 & 0xFF]
    # The dissector does not break the long form down: its bytes are compared.
    return Block(3, value, {A + 'ft.value': [bytes(value).hex()]}, raw, 'rx')


def mam_block(m):
    raw = 'mam ' + words(*m)
    m = [m[0] & 1, m[1] & 0x7FFFFF, m[2] & 1, m[3] & 0x7FFFFF, m[4] & 0xFFFF, m[5] & 0xFFFF, m[6] & 0xFFFF]
    value = flag23(m[0], m[1]) + flag23(m[2], m[3]) + struct.pack('!HHH', m[4], m[5], m[6])
    return Block(4, value, {name: [v] for name, v in zip(MAM_FIELDS, m)}, raw, 'rx')


def delay_block(d):
    raw = 'delay ' + words(d)
    d &= 0xFF
    mode = d >> 7
    fields = {DELAY_MODE: [mode], DELAY_ABSOLUTE if mode else DELAY_RELATIVE: [d & 0x7F]}
    return Block(2, [d], fields, raw, 'tx')


def tx_rrc_block(f):
    raw = 'txrrc ' + words(*f)
    f = [v & 1 for v in f]
    return Block(3, [bits(f)], rrc_fields(f), raw, 'tx')


def rrm_block(r0, r1):
    raw = 'rrm ' + words(r0, r1)
    r0, r1 = r0 & 1, r1 & 0x7FFFFF
    return Block(4, flag23(r0, r1), {RRM_FIELDS[0]: [r0], RRM_FIELDS[1]: [r1]}, raw, 'tx')


def unknown_block(kind, value):
    return Block(kind, value, {A + 'ft.value': [bytes(value).hex()]} if value else {})


def reader_entry(direction, block):
    """The entry a reader of the direction makes of a block, from its bytes;
    None for a block it does not know (by kind and length)."""
    kind, v = block.kind, block.value
    if direction == 'rx':
        if (kind, len(v)) == (1, 1):
            return 'sqi ' + words(v[0] >> 3, v[0] & 7)
        if (kind, len(v)) == (3, 1):
            return 'rrc ' + words(*unbits(v[0]), 0, 0, 0, 0, 0)
        if (kind, len(v)) == (3, 4):
            return 'rrc ' + words(*unbits(v[0]), 1, v[1] >> 7, (v[1] >> 6) & 1, v[2], v[3])
        if (kind, len(v)) == (4, 12):
            return 'mam ' + words(v[0] >> 7, ((v[0] & 0x7F) << 16) | (v[1] << 8) | v[2], v[3] >> 7,
                                  ((v[3] & 0x7F) << 16) | (v[4] << 8) | v[5], *struct.unpack('!HHH', v[6:12]))
        return None
    if (kind, len(v)) == (2, 1):
        return 'delay ' + words(v[0])
    if (kind, len(v)) == (3, 1):
        return 'txrrc ' + words(*unbits(v[0]))
    if (kind, len(v)) == (4, 3):
        return 'rrm ' + words(v[0] >> 7, ((v[0] & 0x7F) << 16) | (v[1] << 8) | v[2])
    return None


class Payload:
    """A header and its blocks, and whether X announces blocks."""

    def __init__(self, direction, header, blocks, more=None):
        self.direction, self.header, self.blocks = direction, header, blocks
        self.more = bool(blocks) if more is None else more

    def header_values(self):
        """ptt_type, squ, ptt_id, pm, ptts, sct as they travel."""
        h = self.header
        if self.direction == 'rx':
            return [h[0] & 7, h[1] & 1, h[2] & 0x3F, h[3] & 1, h[4] & 1, h[5] & 1]
        return [h[0] & 7, 0, h[1] & 0x3F, h[2] & 1, h[3] & 1, 0]

    def wire(self):
        pt, squ, pid, pm, ptts, sct = self.header_values()
        head = bytes([(pt << 5) | (squ << 4) | (pid >> 2),
                      ((pid & 3) << 6) | (pm << 5) | (ptts << 4) | (sct << 3) | int(self.more)])
        if not self.more:
            return head + b'\0\0'
        return head + b''.join(b.wire() for b in self.blocks)

    def tshark_expect(self):
        wire = self.wire()
        expect = {'rtp.ext.profile': ['0x%04x' % PROFILE], 'rtp.ext.len': [(len(wire) + 3) // 4]}
        for name, v in zip(HEADER_FIELDS, self.header_values() + ['0x0000', int(self.more)]):
            expect[name] = [v]
        if self.more:
            for b in self.blocks:
                expect.setdefault(A + 'ft.type', []).append('0x%02x' % b.kind)
                expect.setdefault(A + 'ft.len', []).append(len(b.value))
                for name, values in b.fields.items():
                    expect.setdefault(name, []).extend(values)
        return {k: [str(v) for v in vs] for k, vs in expect.items()}

    def reader_expect(self):
        """What our reader of the payload's direction returns: the result
        and the blocks it knows, at most sixteen."""
        h = self.header_values()
        text = '0 ' + self.direction + ' ' + (words(*h) if self.direction == 'rx' else words(h[0], h[2], h[3], h[4]))
        if self.more:
            known = [e for e in (reader_entry(self.direction, b) for b in self.blocks) if e][:16]
            text += ''.join(' ' + e for e in known)
        return text


# ---- random records and payloads ----

def wide(rng, width):
    """A value of the given width, now and then wider than its field."""
    return rng.getrandbits(width + (4 if rng.random() < 0.25 else 0))


def random_block(rng, direction, width=wide):
    """A block of the direction's kinds, built from values of their widths
    (or wider, with width=wide)."""
    if direction == 'rx':
        choice = rng.randrange(4)
        if choice == 0:
            return sqi_block(width(rng, 5), width(rng, 3))
        if choice == 1:
            return rx_rrc_block([width(rng, 1) for _ in range(8)], 0)
        if choice == 2:
            return rx_rrc_block([width(rng, 1) for _ in range(8)], 1, width(rng, 1), width(rng, 1), width(rng, 8),
                                width(rng, 8))
        return mam_block([width(rng, w) for w in (1, 23, 1, 23, 16, 16, 16)])
    choice = rng.randrange(3)
    if choice == 0:
        return delay_block(width(rng, 8))
    if choice == 1:
        return tx_rrc_block([width(rng, 1) for _ in range(8)])
    return rrm_block(width(rng, 1), width(rng, 23))


def random_record(rng):
    """A record as the probe's line of raw field values, and the payload it
    must pack to. Entries past sixteen are refused by the builders; an SQI
    entry in a tx record and a CLIMAX entry in an rx record are carried but
    not packed (the other kinds are shared and read through the record's
    direction)."""
    direction = rng.choice(['rx', 'tx'])
    header = [wide(rng, w) for w in ([3, 1, 6, 1, 1, 1] if direction == 'rx' else [3, 6, 1, 1])]
    blocks = []
    for _ in range(rng.choice([0, 0, 1, 1, 2, 3, 5, 8, 16, 17, 20])):
        if rng.random() < 0.1:
            blocks.append(delay_block(wide(rng, 8)) if direction == 'rx' else sqi_block(wide(rng, 5), wide(rng, 3)))
        else:
            blocks.append(random_block(rng, direction))
    line = ' '.join([direction] + [str(v) for v in header] + [b.raw for b in blocks])
    kept = blocks[:16]
    return line, Payload(direction, header, [b for b in kept if b.direction == direction], more=bool(kept))


def random_payload(rng):
    """A payload built here: blocks of both directions, blocks no reader
    knows, at times more than sixteen known ones, or X set with nothing
    behind it."""
    direction = rng.choice(['rx', 'tx'])
    header = [rng.getrandbits(w) for w in ([3, 1, 6, 1, 1, 1] if direction == 'rx' else [3, 6, 1, 1])]
    blocks = []
    exact = lambda r, w: r.getrandbits(w)
    for _ in range(rng.choice([0, 1, 2, 4, 8, 18])):
        roll = rng.random()
        if roll < 0.15:
            blocks.append(unknown_block(rng.randrange(5, 16), rng.randbytes(rng.randrange(0, 16))))
        elif roll < 0.3:
            blocks.append(random_block(rng, 'tx' if direction == 'rx' else 'rx', exact))
        else:
            blocks.append(random_block(rng, direction, exact))
    if blocks and blocks[-1].kind >= 5 and not blocks[-1].value:
        # The dissector takes an empty block at the end for padding.
        blocks[-1] = unknown_block(blocks[-1].kind, rng.randbytes(1))
    return Payload(direction, header, blocks, more=bool(blocks) or rng.random() < 0.1)


# ---- fixed vectors: the payloads stated for the format ----

def fixed_records():
    rx = [1, 1, 5, 0, 0, 0]
    tx = [1, 0, 0, 0]
    flags = [1, 0, 1, 0, 0, 1, 0, 1]
    return [
        ('31400000', Payload('rx', rx, [])),
        ('3141111a', Payload('rx', rx, [sqi_block(3, 2)])),
        ('314131a5', Payload('rx', rx, [rx_rrc_block(flags, 0)])),
        ('314134a5c01122', Payload('rx', rx, [rx_rrc_block(flags, 1, 1, 1, 0x11, 0x22)])),
        ('31414c80000a000014000100020003', Payload('rx', rx, [mam_block([1, 10, 0, 20, 1, 2, 3])])),
        ('2001210a', Payload('tx', tx, [delay_block(10)])),
        ('2001218a', Payload('tx', tx, [delay_block(0x8A)])),
        ('200131a5', Payload('tx', tx, [tx_rrc_block(flags)])),
        ('200143812345', Payload('tx', tx, [rrm_block(1, 0x012345)])),
    ]


def record_line(payload):
    return ' '.join([payload.direction] + [str(v) for v in payload.header] + [b.raw for b in payload.blocks])


# ---- pcap and tshark ----

def checksum(data):
    if len(data) % 2:
        data += b'\0'
    s = sum(struct.unpack('!%dH' % (len(data) // 2), data))
    s = (s >> 16) + (s & 0xFFFF)
    s += s >> 16
    return ~s & 0xFFFF


def frame(extension):
    ext = extension + b'\0' * (-len(extension) % 4)
    rtp = struct.pack('!BBHII', 0x90, 8, 1, 160, 0x11223344) + struct.pack('!HH', PROFILE, len(ext) // 4) + ext
    rtp += b'\xd5' * 160
    udp = struct.pack('!HHHH', PORT, PORT, 8 + len(rtp), 0) + rtp
    ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(udp), 1, 0, 64, 17, 0, bytes([10, 0, 0, 1]),
                     bytes([10, 0, 0, 2]))
    ip = ip[:10] + struct.pack('!H', checksum(ip)) + ip[12:]
    return b'\x02' * 6 + b'\x04' * 6 + b'\x08\x00' + ip + udp


def write_pcap(path, payloads):
    with open(path, 'wb') as f:
        f.write(struct.pack('<IHHiIII', 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, payload in enumerate(payloads):
            p = frame(payload)
            f.write(struct.pack('<IIII', i, 0, len(p), len(p)) + p)


def tshark_fields(path):
    cmd = ['tshark', '-r', path, '-d', 'udp.port==%d,rtp' % PORT, '-T', 'fields', '-E', 'separator=\t',
           '-E', 'occurrence=a', '-E', 'aggregator=,']
    for f in FIELDS:
        cmd += ['-e', f]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        cells = line.split('\t')
        # Placeholders for blocks that lack a field (an empty value) hold no value.
        rows.append({f: [v for v in c.split(',') if v and v != '<MISSING>'] for f, c in zip(FIELDS, cells)})
    return rows


def compare(expect, got):
    """The fields that differ, padding aside (it must be zeros)."""
    diffs = []
    for name in FIELDS:
        if name == A + 'ft.padding':
            if any(set(p) - {'0'} for p in got.get(name, [])):
                diffs.append('%s: %s' % (name, got[name]))
            continue
        if expect.get(name, []) != got.get(name, []):
            diffs.append('%s: expected %s, tshark %s' % (name, expect.get(name, []), got.get(name, [])))
    return diffs


def run_probe(probe, mode, lines):
    emulator = os.environ.get('KORVEND_EMULATOR')
    cmd = ([emulator] if emulator else []) + [probe, mode]
    out = subprocess.run(cmd, input='\n'.join(lines) + '\n', check=True, capture_output=True, text=True).stdout
    return out.splitlines()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--probe', required=True, help='the r2s-probe program')
    parser.add_argument('--count', type=int, default=300, help='random records and payloads, each way')
    parser.add_argument('--seed', type=int, default=137)
    parser.add_argument('--keep', help='directory to keep the pcaps in')
    args = parser.parse_args()
    if not shutil.which('tshark'):
        print('missing: tshark: skipped')
        return 77
    rng = random.Random(args.seed)
    print('seed %d' % args.seed)
    workdir = args.keep or tempfile.mkdtemp(prefix='r2s-tshark-')
    os.makedirs(workdir, exist_ok=True)
    passed = failed = 0

    def report(name, diffs):
        nonlocal passed, failed
        if diffs:
            failed += 1
            print('FAIL %s' % name)
            for d in diffs:
                print('    ' + d)
        else:
            passed += 1

    # Forward: our packer, then tshark.
    records = [(record_line(p), wire, p) for wire, p in fixed_records()]
    records += [(line, None, p) for line, p in (random_record(rng) for _ in range(args.count))]
    packed = run_probe(args.probe, 'pack', [line for line, _, _ in records])
    pcap = os.path.join(workdir, 'packed.pcap')
    write_pcap(pcap, [b'' if out.startswith('error') else bytes.fromhex(out) for out in packed])
    rows = tshark_fields(pcap)
    for i, ((line, fixed, payload), out, row) in enumerate(zip(records, packed, rows)):
        expect = fixed or payload.wire().hex()
        diffs = [] if out == expect else ['payload %s, expected %s' % (out, expect)]
        diffs += compare(payload.tshark_expect(), row)
        report('packed #%d [%s] %s' % (i, line, out), diffs)
    complete = len(packed) == len(records) and len(rows) == len(records)

    # Reverse: payloads built here, through tshark and through our readers.
    payloads = [p for _, p in fixed_records()] + [random_payload(rng) for _ in range(args.count)]
    wires = [p.wire() + b'\0' * (-len(p.wire()) % 4) for p in payloads]
    pcap = os.path.join(workdir, 'built.pcap')
    write_pcap(pcap, wires)
    rows = tshark_fields(pcap)
    read = run_probe(args.probe, 'unpack', ['%s %s' % (p.direction, w.hex()) for p, w in zip(payloads, wires)])
    for i, (p, w, row, out) in enumerate(zip(payloads, wires, rows, read)):
        diffs = compare(p.tshark_expect(), row)
        if out != p.reader_expect():
            diffs.append('reader: %s, expected %s' % (out, p.reader_expect()))
        report('built #%d %s %s' % (i, p.direction, w.hex()), diffs)
    complete = complete and len(rows) == len(payloads) and len(read) == len(payloads)

    if not complete:
        failed += 1
        print('FAIL: the probe or tshark answered fewer lines than asked')
    if not args.keep:
        shutil.rmtree(workdir, ignore_errors=True)
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
