#!/usr/bin/env python3
"""Writes the Erlang oracle's copy of the protocol modules.

    make_oracle_modules.py SRC_DIR OUT_DIR

Our PER coder codes an ENUMERATED by its value, as a constrained number in
0..largest root value, where X.691 codes the position in the sorted value
list. The two agree when the values are 0..n-1. Every other enumeration
(gaps, a negative value, repeated values) becomes INTEGER (0..max), with the
extension marker kept, which gives Erlang exactly our bits. Erlang also
refuses underscores in names, so every "_" becomes "-" (no name collides
after the change; checked here).

BER codes an ENUMERATED by its value, as we do, and its tag (10) differs from
INTEGER's where no field tag replaces it (list elements), so the BER copy in
OUT_DIR/ber-src keeps every enumeration; only a value listed twice keeps its
first name, since X.680 (and Erlang) refuse repeated values.

Besides the .asn copies, OUT_DIR/types.eterm describes every type for the
Erlang random value generator (file:consult format), one term per type
(OUT_DIR/types_ber.eterm the same for the BER copy):
  {{Module, Type}, Def}
  Def = {sequence, Record, [{Field, T, Optional}], [{Field, T}]}   root, additions
      | {choice, [{Alt, T}], [{Alt, T}]}                             root, extension
      | {enumerated, [Name]}            coded by position (values 0..n-1)
      | {enumvalues, [Value]}           copied as INTEGER; generate these values
      | T
  T   = integer | {integer, Lo, Hi} | boolean | null | ia5string
      | {ia5string, Lo, Hi} | octetstring | oid | {seqof, T} | {setof, T}
      | {ref, Module, Type}
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import asn1_text  # noqa: E402


def erl_name(name):
    return name.replace('_', '-')


def atom(name):
    return "'" + name.replace('\\', '\\\\').replace("'", "\\'") + "'"


def value_coded(t):
    """True for an enumeration whose values are not exactly 0..n-1."""
    return sorted(v for _, v in t.root) != list(range(len(t.root)))


def unique_values(t):
    """The enumerators of t, each value once: the first name wins."""
    seen, out = set(), []
    for n, v in t.root:
        if v not in seen:
            seen.add(v)
            out.append((n, v))
    return out


def asn_type(t, indent, ref=None, ber=False):
    """The X.680 text of a type as Erlang needs it. ref(Type) may spell type
    references differently (the default keeps them as written); ber keeps
    enumerations as enumerations."""
    k = t.kind
    if k == 'REF':
        if ref:
            return ref(t)
        return (t.module + '.' if t.module else '') + erl_name(t.name)
    if k in ('SEQUENCE OF', 'SET OF'):
        return k + ' ' + asn_type(t.element, indent, ref, ber)
    if k == 'INTEGER':
        return 'INTEGER' + (' (%d..%d)' % t.range if t.range else '')
    if k == 'IA5String':
        return 'IA5String' + (' (SIZE (%d..%d))' % t.range if t.range else '')
    if k in ('BOOLEAN', 'NULL', 'OCTET STRING', 'OBJECT IDENTIFIER'):
        return k
    pad = ' ' * (indent + 4)
    if k == 'ENUMERATED':
        if value_coded(t) and not ber:
            hi = max(v for _, v in t.root)
            return 'INTEGER (0..%d%s)' % (hi, ', ...' if t.extensible else '')
        items = ['%s(%d)' % (erl_name(n), v) for n, v in unique_values(t)]
        if t.extensible:
            items.append('...')
        return 'ENUMERATED {\n' + ',\n'.join(pad + i for i in items) + '\n' + ' ' * indent + '}'
    items = []
    for c in t.root:
        items.append('%s %s%s' % (erl_name(c.name), asn_type(c.type, indent + 4, ref, ber),
                                  ' OPTIONAL' if c.optional else ''))
    if t.extensible:
        items.append('...')
        for c in t.additions:
            items.append('%s %s%s' % (erl_name(c.name), asn_type(c.type, indent + 4, ref, ber),
                                      ' OPTIONAL' if c.optional else ''))
    return k + ' {\n' + ',\n'.join(pad + i for i in items) + '\n' + ' ' * indent + '}'


def module_text(m, ber=False):
    out = ['-- Erlang oracle copy of %s, generated; do not edit.' % m.name, '',
           '%s DEFINITIONS AUTOMATIC TAGS ::=' % m.name, 'BEGIN', '']
    if m.imports:
        by_src = {}
        for n, src in m.imports.items():
            by_src.setdefault(src, []).append(erl_name(n))
        out.append('IMPORTS')
        for i, (src, names) in enumerate(sorted(by_src.items())):
            out.append('    %s FROM %s%s' % (', '.join(sorted(names)), src,
                                             ';' if i == len(by_src) - 1 else ''))
        out.append('')
    for n, t in m.types:
        out.append('%s ::= %s' % (erl_name(n), asn_type(t, 0, ber=ber)))
        out.append('')
    out.append('END')
    return '\n'.join(out) + '\n'


def term(mods, mod, t):
    k = t.kind
    if k == 'REF':
        src = t.module or mods[mod].imports.get(t.name, mod)
        return '{ref,%s,%s}' % (atom(src), atom(erl_name(t.name)))
    if k == 'SEQUENCE OF':
        return '{seqof,%s}' % term(mods, mod, t.element)
    if k == 'SET OF':
        return '{setof,%s}' % term(mods, mod, t.element)
    if k == 'INTEGER':
        return '{integer,%d,%d}' % t.range if t.range else 'integer'
    if k == 'IA5String':
        return '{ia5string,%d,%d}' % t.range if t.range else 'ia5string'
    simple = {'BOOLEAN': 'boolean', 'NULL': 'null', 'OCTET STRING': 'octetstring',
              'OBJECT IDENTIFIER': 'oid'}
    if k in simple:
        return simple[k]
    raise ValueError('inline %s is not expected in a component' % k)


def definition(mods, mod, name, t, ber=False):
    if t.kind == 'SEQUENCE':
        root = ','.join('{%s,%s,%s}' % (atom(erl_name(c.name)), term(mods, mod, c.type),
                                         'true' if c.optional else 'false') for c in t.root)
        adds = ','.join('{%s,%s}' % (atom(erl_name(c.name)), term(mods, mod, c.type)) for c in t.additions)
        return '{sequence,%s,[%s],[%s]}' % (atom(erl_name(name)), root, adds)
    if t.kind == 'CHOICE':
        root = ','.join('{%s,%s}' % (atom(erl_name(c.name)), term(mods, mod, c.type)) for c in t.root)
        adds = ','.join('{%s,%s}' % (atom(erl_name(c.name)), term(mods, mod, c.type)) for c in t.additions)
        return '{choice,[%s],[%s]}' % (root, adds)
    if t.kind == 'ENUMERATED':
        if ber:
            return '{enumerated,[%s]}' % ','.join(atom(erl_name(n)) for n, _ in unique_values(t))
        if value_coded(t):
            vals = sorted(set(v for _, v in t.root if v >= 0))
            return '{enumvalues,[%s]}' % ','.join(str(v) for v in vals)
        return '{enumerated,[%s]}' % ','.join(atom(erl_name(n)) for n, _ in t.root)
    return term(mods, mod, t)


def check_names(m):
    """Renaming "_" to "-" must not make two names equal in one scope."""
    scopes = [[n for n, _ in m.types] + list(m.imports)]
    for _, t in m.types:
        if t.kind in ('SEQUENCE', 'CHOICE'):
            scopes.append([c.name for c in t.root + t.additions])
        elif t.kind == 'ENUMERATED':
            scopes.append([n for n, _ in t.root])
    for names in scopes:
        mapped = [erl_name(n) for n in names]
        if len(set(mapped)) != len(set(names)):
            raise SystemExit('%s: names collide once "_" becomes "-": %s' % (m.name, names))


def write(path, text):
    """Replaces the file only when its text changes, and then whole: the
    checks run in parallel, and one may read these files while another
    prepares them."""
    try:
        with open(path) as fh:
            if fh.read() == text:
                return
    except FileNotFoundError:
        pass
    part = '%s.%d' % (path, os.getpid())
    with open(part, 'w') as fh:
        fh.write(text)
    os.replace(part, path)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    src, out = sys.argv[1], sys.argv[2]
    mods = asn1_text.load_dir(src)
    ber_out = os.path.join(out, 'ber-src')
    os.makedirs(ber_out, exist_ok=True)
    lines, ber_lines = [], []
    for name, m in mods.items():
        check_names(m)
        write(os.path.join(out, name + '.asn'), module_text(m))
        write(os.path.join(ber_out, name + '.asn'), module_text(m, ber=True))
        for n, t in m.types:
            lines.append('{{%s,%s},%s}.' % (atom(name), atom(erl_name(n)), definition(mods, name, n, t)))
            ber_lines.append('{{%s,%s},%s}.' % (atom(name), atom(erl_name(n)), definition(mods, name, n, t, True)))
    write(os.path.join(out, 'types.eterm'), '\n'.join(lines) + '\n')
    write(os.path.join(out, 'types_ber.eterm'), '\n'.join(ber_lines) + '\n')
    write(os.path.join(out, 'modules.txt'), '\n'.join(mods) + '\n')


if __name__ == '__main__':
    main()
