#!/usr/bin/env python3
"""Independent check of our PER and BER coders against Erlang/OTP's asn1 application.

    crosscheck.py prepare --out DIR [--src MODULE_DIR]
        Writes the Erlang copy of the modules and compiles it for aligned
        (DIR/per) and unaligned (DIR/uper) PER, and its BER copy (DIR/ber-src)
        for BER (DIR/ber).
    crosscheck.py run --out DIR --peer PROGRAM [--count N] [--seed S] [--rules per,uper]
        Prepares DIR, then for every top-level type and rule, both ways:
        PROGRAM makes N random values and encodes them, Erlang decodes each
        and encodes it again, and the two encodings must be equal octet for
        octet; then Erlang makes N values and PROGRAM decodes and re-encodes
        them. Prints "N passed, M failed" and exits 1 on any failure.

PROGRAM takes the same commands as oracle.escript without DIR:
    PROGRAM RULE gen MODULE TYPE COUNT SEED   and   PROGRAM RULE recode MODULE TYPE

Exits 77 (a skipped test for ctest) when Erlang's compiler is not installed.
"""

import argparse
import fcntl
import hashlib
import os
import shlex
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import asn1_text  # noqa: E402

SKIP = 77
RULES = ('per', 'uper', 'ber')


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
        print('missing: erlc (Debian erlang-base, erlang-asn1): skipped')
        sys.exit(SKIP)
    # ctest runs the rules' checks in parallel, each preparing first: one at
    # a time, so nobody reads a copy while another rewrites or recompiles it.
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, 'prepare.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        prepare_locked(out, src)


def prepare_locked(out, src):
    subprocess.check_call([sys.executable, os.path.join(HERE, 'make_oracle_modules.py'), src, out])
    mods = asn1_text.load_dir(src)
    stamp = os.path.join(out, 'compiled.stamp')
    digest = hashlib.sha256(b''.join(open(os.path.join(out, s, n + '.asn'), 'rb').read()
                                     for s in ('', 'ber-src') for n in sorted(mods))).hexdigest()
    if os.path.exists(stamp) and open(stamp).read() == digest:
        print('Erlang copy of %d modules up to date' % len(mods))
        return
    # One Erlang node per rule compiles every module, both rules at once:
    # starting a node per module costs more than the compiling.
    order = import_order(mods)
    procs = []
    for rule in RULES:
        d = os.path.join(out, rule)
        os.makedirs(d, exist_ok=True)
        copy = os.path.join(out, 'ber-src') if rule == 'ber' else out
        calls = ['C("%s")' % os.path.join(copy, name + '.asn') for name in order]
        script = ('C = fun(F) -> case asn1ct:compile(F, [%s, {outdir, "%s"}, {i, "%s"}]) of '
                  'ok -> ok; E -> io:format("~s: ~p~n", [F, E]), halt(1) end end, %s, halt(0).'
                  % (rule, d, d, ', '.join(calls)))
        procs.append(subprocess.Popen(['erl', '-noshell', '-eval', script], stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, universal_newlines=True))
    failed = False
    for pr in procs:
        text = pr.communicate()[0]
        if pr.returncode != 0:
            print(text)
            failed = True
    if failed:
        raise SystemExit('compiling the Erlang copy failed')
    with open(stamp, 'w') as fh:
        fh.write(digest)
    print('compiled %d modules for %s' % (len(mods), ', '.join(RULES)))


TOP_LEVEL = [('LGCP', 'Message'), ('MON', 'Message'), ('VESKGW', 'ProtoVeskPackets')]
ESCRIPT = os.path.join(HERE, 'oracle.escript')


def lines_of(cmd, stdin_text=None):
    r = subprocess.run(cmd, input=stdin_text, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       universal_newlines=True)
    if r.returncode != 0:
        raise SystemExit('%s failed (%d): %s' % (' '.join(cmd), r.returncode, r.stderr.strip()))
    return [x.strip() for x in r.stdout.splitlines() if x.strip()]


def compare(label, sent, back, out, rule, mod, typ, shown):
    """Counts equal pairs; reports the first few differences with Erlang's view of the value."""
    if len(back) != len(sent):
        print('%s: %d values sent, %d answers' % (label, len(sent), len(back)))
        return 0, len(sent)
    bad = [(a, b) for a, b in zip(sent, back) if a.lower() != b.lower()]
    for a, b in bad[:max(0, 3 - shown)]:
        view = lines_of(['escript', ESCRIPT, out, rule, 'print', mod, typ], a + '\n')
        print('%s: mismatch\n  sent %s\n  back %s\n  erlang reads %s' % (label, a, b, ' '.join(view)[:2000]))
    return len(sent) - len(bad), len(bad)


def run(out, src, peer, count, seed, rules):
    prepare(out, src)
    # In the board's build the peer is a PowerPC program started through qemu.
    emulator = os.environ.get('KORVEND_EMULATOR', '')
    peer = shlex.split(emulator) + [peer] if emulator else [peer]
    passed = failed = 0
    for rule in rules:
        for mod, typ in TOP_LEVEL:
            for way in ('korvend->erlang', 'erlang->korvend'):
                label = '%s %s.%s %s' % (rule, mod, typ, way)
                if way == 'korvend->erlang':
                    sent = lines_of(peer + [rule, 'gen', mod, typ, str(count), str(seed)])
                    back = lines_of(['escript', ESCRIPT, out, rule, 'recode', mod, typ], '\n'.join(sent) + '\n')
                else:
                    sent = lines_of(['escript', ESCRIPT, out, rule, 'gen', mod, typ, str(count), str(seed)])
                    back = lines_of(peer + [rule, 'recode', mod, typ], '\n'.join(sent) + '\n')
                p, f = compare(label, sent, back, out, rule, mod, typ, failed)
                print('%-45s %5d passed, %d failed' % (label, p, f))
                passed += p
                failed += f
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed or not passed else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('command', choices=['prepare', 'run'])
    ap.add_argument('--out', required=True)
    ap.add_argument('--peer')
    ap.add_argument('--count', type=int, default=3000)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--rules', default='per,uper')
    ap.add_argument('--src', default=os.path.join(HERE, '..', '..', '..', 'asn1', 'modules'))
    a = ap.parse_args()
    if a.command == 'prepare':
        prepare(a.out, a.src)
    else:
        if not a.peer:
            raise SystemExit('run needs --peer')
        sys.exit(run(a.out, a.src, a.peer, a.count, a.seed, a.rules.split(',')))


if __name__ == '__main__':
    main()
