#!/usr/bin/env python3
"""The VESK radio reports against Erlang's asn1.

vesk-asn1-probe prints the TERM::RtpRadioRequest values the translations
build, encoded in aligned PER. Erlang's asn1 (the copy of the modules the
cross-check compiles) must decode each, give the very same octets when it
encodes it again, and hold the values the report must carry: the fields of
the status, the request's alternative for each packet type (the table
written out here, not taken from the code), its session address and SSRC,
and the values of its alternative.

Exit 0 when every report passed, 1 when one failed, 77 without Erlang.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

FLAGS_STATUS = "{'RadioFlags',3,true,false,true,false,true,false,true,false,true,2,300}"
# prio 4; p 1, b 0, r 0, t 1, s 1, sh 0, pw 1, rv 1, rs 0; c 3; status 511
FLAGS_PACKET = "{'RadioFlags',4,true,false,false,true,true,false,true,true,false,3,511}"
ADDR_PACKET = "{'RadioModifierAddr',\"10.1.2.3\",258}"
SESSION = '"10.0.0.7",5'

EXPECT = {
    'status': [FLAGS_STATUS, "{'RadioFrequency',7,\"145.500000\"}", "{'RadioRemote',2,3},on,a1b,0,4,0}",
               'asn1_NOVALUE,asn1_NOVALUE,asn1_NOVALUE,asn1_NOVALUE,asn1_NOVALUE,asn1_NOVALUE,asn1_NOVALUE}'],
    'wm-selcall': [FLAGS_STATUS, "{'RadioModifierAddr',\"10.0.0.9\",77}",
                   "{'wm-selcall',{'RadioCommandWMSelCall',{'RadioFlags',1,true,false,false,false,false,false,"
                   "false,false,false,0,0}," + SESSION + ',"A1"}}'],
}
# Packet type -> the alternative that reports it, and what it holds.
ALTERNATIVES = {
    1: ('gw-set-flags', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    2: ('gw-set-freq', "{'RadioCommandGWSetFreq',{'RadioFrequency',7,\"145.500000\"}}"),
    3: ('gw-set-ptt', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    4: ('gw-set-bss', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    5: ('gw-set-rv', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    6: ('gw-set-sh', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    7: ('gw-set-pwr', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    8: ('gw-set-resv', "{'RadioCommandGWSetFlags'," + FLAGS_PACKET + '}'),
    9: ('gw-set-selcall', "{'RadioCommandGWSetSelCall'," + FLAGS_PACKET + ',"0.0.0.0",0,"A1"}'),
    10: ('gw-set-remote', "{'RadioCommandGWSetRemote',{'RadioRemote',1,2}}"),
    11: ('gw-set-squelshe', "{'RadioCommandGWSetSquelshe',on}"),
    12: ('gw-set-rte', "{'RadioCommandGWSetRTE',f1b}"),
    13: ('gw-set-standby', "{'RadioCommandGWSetStandby',0}"),
    129: ('wm-flags', "{'RadioCommandWMFlags'," + FLAGS_PACKET + '}'),
    130: ('wm-trans', "{'RadioCommandWMTrans'," + FLAGS_PACKET + ',' + SESSION + '}'),
    131: ('wm-quality', "{'RadioCommandWMQuality',\"0.750000\"}"),
    132: ('wm-chan', "{'RadioCommandWMChan',{'RadioFrequency',7,\"145.500000\"},on,f1b}"),
    133: ('wm-selcall', "{'RadioCommandWMSelCall'," + FLAGS_PACKET + ',' + SESSION + ',"A1"}'),
    134: ('wm-remote', "{'RadioCommandWMRemote',{'RadioRemote',1,2}}"),
    135: ('wm-standby', "{'RadioCommandWMStandby',0,4,0}"),
}
for t, (alt, value) in ALTERNATIVES.items():
    EXPECT['type-%d' % t] = [FLAGS_STATUS, ADDR_PACKET, "{'%s',%s}" % (alt, value)]


def lines_of(cmd, stdin_text=None):
    out = subprocess.run(cmd, input=stdin_text, capture_output=True, text=True, check=True).stdout
    return out.splitlines()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--probe', required=True)
    ap.add_argument('--oracle', required=True, help='the output of crosscheck.py prepare')
    ap.add_argument('--escript', required=True, help='oracle.escript')
    args = ap.parse_args()
    if not shutil.which('escript') or not os.path.isdir(os.path.join(args.oracle, 'per')):
        print('missing: Erlang or its compiled modules (erlang-base, erlang-asn1): not checked')
        return 77

    emulator = os.environ.get('KORVEND_EMULATOR', '')
    probe = ([emulator] if emulator else []) + [args.probe]
    reports = [l.split() for l in lines_of(probe)]
    names = [r[0] for r in reports]
    failed = [n for n in EXPECT if n not in names]
    for n in failed:
        print('%s: not printed' % n)
    encodings = [r[1] for r in reports]
    if 'error' in encodings:
        failed += [n for n, e in zip(names, encodings) if e == 'error']
        print('not encodable: %s' % [n for n, e in zip(names, encodings) if e == 'error'])
    hexes = '\n'.join(encodings) + '\n'
    escript = ['escript', args.escript, args.oracle, 'per']
    recoded = lines_of(escript + ['recode', 'TERM', 'RtpRadioRequest'], hexes)
    printed = lines_of(escript + ['print', 'TERM', 'RtpRadioRequest'], hexes)
    # One term per report: the printer breaks long ones over lines.
    terms = re.sub(r'\s+', '', '\n'.join(printed)).replace('}{ok,', '}\n{ok,').split('\n')
    for name, ours, theirs, term in zip(names, encodings, recoded, terms):
        if ours == 'error':
            continue
        problems = []
        if theirs != ours:
            problems.append('Erlang re-encodes it as %s' % theirs)
        problems += ['missing %s' % e for e in EXPECT.get(name, []) if e not in term]
        if problems:
            failed.append(name)
            print('%s %s: %s\n  %s' % (name, ours, '; '.join(problems), term))
    print('%d reports, %d failed' % (len(names), len(failed)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
