#!/usr/bin/env python3
"""Independent check of our PER coder against Erlang/OTP's asn1 application.

    crosscheck.py prepare --out DIR [--src MODULE_DIR]
        Writes the Erlang copy of the modules and compiles it for aligned
        (DIR/per) and unaligned (DIR/uper) PER.

Exits 77 (a skipped test for ctest) when Erlang's compiler is not installed.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import asn1_text  # noqa: E402

SKIP = 77
RULES = ('per', 'uper')


def import_order(mods):
    """Module names, each after the modules it imports from."""
    done, out = set(), []

    def visit(name, path):
        if name in done:
            return
        if name in path:
            raise SystemExit('import cycle: %s' % ' -> '.join(path + [name]))
        for src in sorted(set(mods[name].imports.values())):
            visit(src, path + [name])
        done.add(name)
        out.append(name)

    for name in mods:
        visit(name, [])
    return out


def prepare(out, src):
    erlc = shutil.which('erlc')
    if not erlc:
        print('erlc not found (Debian erlang-base, erlang-asn1): skipped')
        sys.exit(SKIP)
    subprocess.check_call([sys.executable, os.path.join(HERE, 'make_oracle_modules.py'), src, out])
    mods = asn1_text.load_dir(src)
    stamp = os.path.join(out, 'compiled.stamp')
    digest = hashlib.sha256(b''.join(open(os.path.join(out, n + '.asn'), 'rb').read()
                                     for n in sorted(mods))).hexdigest()
    if os.path.exists(stamp) and open(stamp).read() == digest:
        print('Erlang copy of %d modules up to date' % len(mods))
        return
    # One Erlang node compiles everything: starting one per module costs more
    # than the compiling.
    order = import_order(mods)
    calls = []
    for rule in RULES:
        d = os.path.join(out, rule)
        os.makedirs(d, exist_ok=True)
        for name in order:
            calls.append('c("%s", "%s", %s)' % (os.path.join(out, name + '.asn'), d, rule))
    script = ('C = fun(F, D, R) -> case asn1ct:compile(F, [R, {outdir, D}, {i, D}]) of '
              'ok -> ok; E -> io:format("~s: ~p~n", [F, E]), halt(1) end end, '
              + ', '.join(x.replace('c(', 'C(', 1) for x in calls) + ', halt(0).')
    r = subprocess.run(['erl', '-noshell', '-eval', script],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    if r.returncode != 0:
        print(r.stdout)
        raise SystemExit('compiling the Erlang copy failed')
    with open(stamp, 'w') as fh:
        fh.write(digest)
    print('compiled %d modules for %s' % (len(mods), ' and '.join(RULES)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('command', choices=['prepare'])
    ap.add_argument('--out', required=True)
    ap.add_argument('--src', default=os.path.join(HERE, '..', '..', '..', 'asn1', 'modules'))
    a = ap.parse_args()
    if a.command == 'prepare':
        prepare(a.out, a.src)


if __name__ == '__main__':
    main()
