#!/usr/bin/env python3
"""Checks our BER against asn1c's unber, an independent BER reader.

    unber_check.py --src MODULE_DIR --peer PROGRAM [--count N] [--seed S]

For LGCP.Message, MON.Message and VESKGW.ProtoVeskPackets, PROGRAM makes N
random values and encodes them with BER ("PROGRAM ber gen MODULE TYPE N S",
one hex line each). unber reads them all, and its element tree is walked
together with the type as the module text gives it (asn1_text.py, not the
generator): every element must carry the tag X.690 with automatic tagging
gives it, and be constructed exactly where X.690 wants it: SEQUENCE,
SEQUENCE OF, SET OF, and the explicit tag around a CHOICE that is a field or
an alternative; everything else primitive. Prints "N passed, M failed".

Exits 77 (a skipped test for ctest) when unber (Debian asn1c) is missing.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import asn1_text  # noqa: E402

SKIP = 77
TOP_LEVEL = [('LGCP', 'Message'), ('MON', 'Message'), ('VESKGW', 'ProtoVeskPackets')]
UNIVERSAL = {'BOOLEAN': 1, 'INTEGER': 2, 'OCTET STRING': 4, 'NULL': 5, 'OBJECT IDENTIFIER': 6,
             'ENUMERATED': 10, 'SEQUENCE': 16, 'SEQUENCE OF': 16, 'SET OF': 17, 'IA5String': 22}
CONSTRUCTED = ('SEQUENCE', 'SEQUENCE OF', 'SET OF')

_ELEMENT = re.compile(r'<(/?)([CPI]) O="(\d+)" T="\[([^\]]*)\]"')


class Node:
    def __init__(self, form, offset, tag):
        self.form = form      # 'C' constructed, 'P' primitive, 'I' indefinite
        self.offset = offset
        self.tag = tag        # unber's text: "UNIVERSAL 16", "3", "APPLICATION 2"
        self.children = []


def parse_unber(text):
    """unber's output as a list of top-level Nodes."""
    top, stack = [], []
    for m in _ELEMENT.finditer(text):
        closing, form, offset, tag = m.group(1) == '/', m.group(2), int(m.group(3)), m.group(4)
        if closing:
            stack.pop()
            continue
        node = Node(form, offset, tag)
        (stack[-1].children if stack else top).append(node)
        if form != 'P':
            stack.append(node)
    if stack:
        raise ValueError('unber output ends inside an element')
    return top


class Checker:
    def __init__(self, mods):
        self.mods = mods
        self.errors = []

    def fail(self, path, node, what):
        self.errors.append('%s (offset %d, tag [%s]): %s' % (path, node.offset, node.tag, what))
        return False

    def check(self, node, module, t, tag, path):
        """node must be a value of type t, implicitly tagged with context tag
        `tag` (None: untagged, the type's own tag)."""
        module, _, t = asn1_text.resolve(self.mods, module, t)
        k = t.kind
        if k == 'CHOICE':
            alts = t.root + t.additions
            if tag is not None:
                # A CHOICE cannot be tagged implicitly: the tag wraps it.
                if node.tag != str(tag):
                    return self.fail(path, node, 'expected tag [%d]' % tag)
                if node.form != 'C':
                    return self.fail(path, node, 'explicit tag around a CHOICE must be constructed')
                if len(node.children) != 1:
                    return self.fail(path, node, 'explicit tag holds %d elements' % len(node.children))
                node = node.children[0]
            if not node.tag.isdigit() or int(node.tag) >= len(alts):
                return self.fail(path, node, 'no alternative has this tag')
            i = int(node.tag)
            return self.check(node, module, alts[i].type, i, path + '.' + alts[i].name)
        want = str(tag) if tag is not None else 'UNIVERSAL %d' % UNIVERSAL[k]
        if node.tag != want:
            return self.fail(path, node, 'expected tag [%s]' % want)
        if k in CONSTRUCTED:
            if node.form != 'C':
                return self.fail(path, node, '%s must be constructed' % k)
        elif node.form != 'P':
            return self.fail(path, node, '%s must be primitive' % k)
        if k == 'SEQUENCE':
            fields = t.root + t.additions
            last = -1
            for child in node.children:
                if not child.tag.isdigit() or int(child.tag) >= len(fields) or int(child.tag) <= last:
                    return self.fail(path, child, 'not a field of the SEQUENCE in its place')
                last = int(child.tag)
                f = fields[last]
                if not self.check(child, module, f.type, last, path + '.' + f.name):
                    return False
            present = {int(c.tag) for c in node.children}
            for i, c in enumerate(t.root):
                if not c.optional and i not in present:
                    return self.fail(path, node, 'mandatory field %s missing' % c.name)
            return True
        if k in ('SEQUENCE OF', 'SET OF'):
            for i, child in enumerate(node.children):
                if not self.check(child, module, t.element, None, '%s[%d]' % (path, i)):
                    return False
        return True


def lines_of(cmd):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    if r.returncode != 0:
        raise SystemExit('%s failed (%d): %s' % (' '.join(cmd), r.returncode, r.stderr.strip()))
    return [x.strip() for x in r.stdout.splitlines() if x.strip()]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--src', default=os.path.join(HERE, '..', '..', '..', 'asn1', 'modules'))
    ap.add_argument('--peer', required=True)
    ap.add_argument('--count', type=int, default=500)
    ap.add_argument('--seed', type=int, default=1)
    a = ap.parse_args()
    unber = shutil.which('unber')
    if not unber:
        print('missing: unber (Debian asn1c): skipped')
        sys.exit(SKIP)
    mods = asn1_text.load_dir(a.src)
    # In the board's build the peer is a PowerPC program started through qemu.
    emulator = os.environ.get('KORVEND_EMULATOR', '')
    peer = shlex.split(emulator) + [a.peer] if emulator else [a.peer]
    passed = failed = 0
    for mod, typ in TOP_LEVEL:
        encodings = lines_of(peer + ['ber', 'gen', mod, typ, str(a.count), str(a.seed)])
        with tempfile.NamedTemporaryFile(suffix='.ber') as fh:
            for h in encodings:
                fh.write(bytes.fromhex(h))
            fh.flush()
            r = subprocess.run([unber, '-p', fh.name], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               universal_newlines=True, errors='replace')
        if r.returncode != 0:
            print('%s.%s: unber refuses the encodings: %s' % (mod, typ, r.stderr.strip()[:500]))
            failed += len(encodings)
            continue
        values = parse_unber(r.stdout)
        if len(values) != len(encodings):
            print('%s.%s: %d values encoded, unber reads %d' % (mod, typ, len(encodings), len(values)))
            failed += len(encodings)
            continue
        checker = Checker(mods)
        bad = 0
        for h, node in zip(encodings, values):
            if not checker.check(node, mod, asn1_text.Type('REF', name=typ), None, typ):
                bad += 1
                if bad <= 3:
                    print('%s.%s: %s\n  %s' % (mod, typ, checker.errors[-1], h[:400]))
        print('%-30s %5d passed, %d failed' % ('%s.%s' % (mod, typ), len(encodings) - bad, bad))
        passed += len(encodings) - bad
        failed += bad
    print('%d passed, %d failed' % (passed, failed))
    sys.exit(1 if failed or not passed else 0)


if __name__ == '__main__':
    main()
