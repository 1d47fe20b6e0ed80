#!/usr/bin/env python3
"""Describes every type of the module text, one line per type, in the form
module_descriptors_test.cpp builds from the generated descriptors; the test
compares the two line by line.

    describe_modules.py MODULE_DIR OUT_FILE

Line forms (fields separated by " | "):
  Mod.Type | SEQUENCE | ext=0/1 | name:TYPE:M or name:TYPE:O<optional id> ...
  Mod.Type | CHOICE | ext=0/1 | root=N | name:TYPE ...
  Mod.Type | ENUMERATED | ext=0/1 | max=N | name=value ...
TYPE is Mod.Name for a named type, else NULL, BOOLEAN, INTEGER,
INTEGER(lo..hi), IA5String, IA5String(SIZE(lo..hi)), OCTET STRING,
OBJECT IDENTIFIER, SEQUENCE OF TYPE or SET OF TYPE.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'oracle'))
import asn1_text  # noqa: E402


def type_text(mods, mod, t):
    k = t.kind
    if k == 'REF':
        return '%s.%s' % (t.module or mods[mod].imports.get(t.name, mod), t.name)
    if k in ('SEQUENCE OF', 'SET OF'):
        return '%s %s' % (k, type_text(mods, mod, t.element))
    if k == 'INTEGER' and t.range:
        return 'INTEGER(%d..%d)' % t.range
    if k == 'IA5String' and t.range:
        return 'IA5String(SIZE(%d..%d))' % t.range
    return k


def describe(mods, mod, name, t):
    head = ['%s.%s' % (mod, name), t.kind, 'ext=%d' % t.extensible]
    if t.kind == 'ENUMERATED':
        body = ['max=%d' % max(v for _, v in t.root)] + ['%s=%d' % nv for nv in t.root]
    elif t.kind == 'CHOICE':
        body = ['root=%d' % len(t.root)] + ['%s:%s' % (c.name, type_text(mods, mod, c.type))
                                           for c in t.root + t.additions]
    else:
        body, opt = [], 0
        for c in t.root + t.additions:
            if c.optional or c in t.additions:
                mark = 'O%d' % opt
                opt += 1
            else:
                mark = 'M'
            body.append('%s:%s:%s' % (c.name, type_text(mods, mod, c.type), mark))
    return ' | '.join(head + body)


def main():
    src, out = sys.argv[1], sys.argv[2]
    mods = asn1_text.load_dir(src)
    lines = [describe(mods, m, n, t) for m in sorted(mods) for n, t in mods[m].types]
    tmp = out + '.tmp'
    with open(tmp, 'w') as fh:
        fh.write('\n'.join(lines) + '\n')
    os.replace(tmp, out)


if __name__ == '__main__':
    main()
