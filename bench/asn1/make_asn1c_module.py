#!/usr/bin/env python3
"""Writes one ASN.1 module for asn1c holding every type a top-level type
reaches, for the unaligned PER benchmark.

    make_asn1c_module.py SRC_DIR OUT_FILE MODULE.TYPE...

asn1c wants type names unique across all modules it reads, and refuses what
Erlang refuses, so the types are written as Erlang's copy writes them
(value-coded enumerations as INTEGER ranges, "_" as "-") and each is renamed
Module-Type. Names do not reach the wire: the encodings are unchanged.
asn1c 0.9.28 has no unaligned PER encoder for SET OF; PER codes an unsorted
SET OF exactly like a SEQUENCE OF, so it is written as one.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tests', 'asn1', 'oracle'))
import asn1_text  # noqa: E402
import make_oracle_modules as oracle  # noqa: E402


def main():
    src, out, roots = sys.argv[1], sys.argv[2], sys.argv[3:]
    mods = asn1_text.load_dir(src)

    def target(mod, t):
        return t.module or mods[mod].imports.get(t.name, mod), t.name

    def spelled(mod, name):
        return oracle.erl_name('%s-%s' % (mod, name))

    reached, todo = [], [tuple(r.split('.')) for r in roots]
    while todo:
        mod, name = todo.pop()
        if (mod, name) in reached:
            continue
        reached.append((mod, name))
        stack = [mods[mod].type(name)]
        while stack:
            t = stack.pop()
            if t.kind == 'REF':
                todo.append(target(mod, t))
            stack.extend(c.type for c in t.root + t.additions if hasattr(c, 'type'))
            if t.element:
                stack.append(t.element)

    lines = ['-- Generated for the asn1c benchmark; do not edit.', '',
             'Bench DEFINITIONS AUTOMATIC TAGS ::=', 'BEGIN', '']
    for mod, name in sorted(reached):
        t = mods[mod].type(name)
        text = oracle.asn_type(t, 0, ref=lambda r, m=mod: spelled(*target(m, r)))
        text = text.replace('SET OF ', 'SEQUENCE OF ')
        lines += ['%s ::= %s' % (spelled(mod, name), text), '']
    lines.append('END')
    with open(out, 'w') as fh:
        fh.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
