#!/usr/bin/env python3
"""Checks the ASN.1 text of the protocol modules against the facts the schema
tables state beyond the type counts (module_descriptors_test.cpp checks those
on the generated descriptors, which it also compares with this text): the
shape of the envelope types, extension markers, additions and the
value-coded enumerations.

    check_module_text.py [MODULE_DIR]

Prints one line per failed check and exits 1 if any failed.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'oracle'))
import asn1_text  # noqa: E402

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def shape(mods, mod, name, kind, root, additions, extensible):
    t = mods[mod].type(name)
    check(t.kind == kind, '%s.%s is %s, not %s' % (mod, name, t.kind, kind))
    check(len(t.root) == root, '%s.%s has %d root components, not %d' % (mod, name, len(t.root), root))
    check(len(t.additions) == additions,
          '%s.%s has %d additions, not %d' % (mod, name, len(t.additions), additions))
    check(t.extensible == extensible, '%s.%s extensible=%s' % (mod, name, t.extensible))
    return t


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', '..', 'asn1', 'modules')
    mods = asn1_text.load_dir(src)

    # Envelope and the shapes the tables spell out in words.
    msg = shape(mods, 'LGCP', 'Message', 'SEQUENCE', 3, 0, False)
    check([c.optional for c in msg.root] == [True, True, False], 'LGCP.Message presence')
    check(msg.root[1].type.range == (0, 1023), 'LGCP.Message.slot range')
    shape(mods, 'LGCP', 'PDU', 'CHOICE', 3, 0, False)
    cmd = shape(mods, 'LGCP', 'Command', 'CHOICE', 15, 0, True)
    check(cmd.root[12].name == 'ping' and cmd.root[14].name == 'protoVesk', 'LGCP.Command order')
    shape(mods, 'LGCP', 'Signal', 'CHOICE', 23, 0, True)
    shape(mods, 'LGCP', 'CreateParams', 'CHOICE', 20, 0, True)
    shape(mods, 'LGCP', 'IoctlParams', 'CHOICE', 38, 0, True)
    shape(mods, 'LGCP', 'IoctlResponse', 'CHOICE', 9, 0, False)
    shape(mods, 'LGCP', 'DisplayParams', 'CHOICE', 7, 0, True)
    err = shape(mods, 'LGCP', 'ErrorCause', 'ENUMERATED', 13, 0, True)
    check(err.root[12] == ('destroyInProgress', 12), 'LGCP.ErrorCause last value')
    tonec = shape(mods, 'LGCP', 'TonecCode', 'CHOICE', 6, 1, True)
    check(tonec.additions[0].name == 'dtmfDone', 'LGCP.TonecCode extension alternative')
    res = mods['LGCP'].type('Resources')
    check([c.name for c in res.root if c.optional] == ['drvVersion'], 'LGCP.Resources optional fields')
    setof = [c for c in mods['LGCP'].type('IoctlParams').root if c.type.kind == 'SET OF']
    check([c.name for c in setof] == ['activateTonec'], 'SET OF only in IoctlParams.activateTonec')

    tp = shape(mods, 'TERM', 'TermParams', 'SEQUENCE', 7, 13, True)
    check(all(c.optional for c in tp.root + tp.additions), 'TERM.TermParams: every field optional')
    check(tp.additions[0].name == 'traceLevel' and tp.additions[-1].name == 'radio-command',
          'TERM.TermParams additions order')
    isdn = shape(mods, 'TERM', 'ISDN_NumberType', 'SEQUENCE', 2, 1, True)
    check(isdn.additions[0].name == 'screeningInd', 'TERM.ISDN_NumberType addition')
    withadd = [(m, n) for m in mods for n, t in mods[m].types if t.kind == 'SEQUENCE' and t.additions]
    check(sorted(withadd) == [('TERM', 'ISDN_NumberType'), ('TERM', 'TermParams')],
          'sequences with extension additions: %s' % withadd)
    dname = mods['TERM'].type('RtpParams').root[3]
    check(dname.name == 'dname' and dname.type.kind == 'IA5String' and dname.type.range == (1, 64),
          'TERM.RtpParams.dname')
    sized = [(m, n, c.name) for m in mods for n, t in mods[m].types if t.kind in ('SEQUENCE', 'CHOICE')
             for c in t.root + t.additions if c.type.kind == 'IA5String' and c.type.range]
    check(sized == [('TERM', 'RtpParams', 'dname')], 'size-constrained strings: %s' % sized)
    dscp = dict(mods['TERM'].type('IpQoSDSCP').root)
    check(len(dscp) == 24 and dscp['cs1'] == 8 and dscp['cs7'] == 56 and dscp['count'] == 23,
          'TERM.IpQoSDSCP values')
    check(mods['TERM'].type('RadioStandby').root == [('not-use', -1), ('active', 0), ('standby', 1)],
          'TERM.RadioStandby values')

    shape(mods, 'ACP', 'AcpCommand', 'CHOICE', 9, 11, True)
    shape(mods, 'ACP', 'AcpResponse', 'CHOICE', 4, 7, True)
    extalts = sorted((m, n) for m in mods for n, t in mods[m].types if t.kind == 'CHOICE' and t.additions)
    check(extalts == [('ACP', 'AcpCommand'), ('ACP', 'AcpResponse'), ('LGCP', 'TonecCode')],
          'choices with extension alternatives: %s' % extalts)
    shape(mods, 'MON', 'Message', 'SEQUENCE', 1, 0, False)

    for n, t in mods['VESKGW'].types:
        check(t.extensible and not t.additions, 'VESKGW.%s: extensible without additions' % n)
    msgid = mods['VESKGW'].type('ProtoVeskMsgID').root
    payload = mods['VESKGW'].type('ProtoVeskPacketPayload').root
    check(len(msgid) == 67 and len(payload) == 67, 'VESKGW: 67 message codes and payloads')
    check([n for n, _ in msgid] == [c.name for c in payload], 'VESKGW: payload names pair with msgID')
    check(msgid[0] == ('gw-get-id', 0x1001) and msgid[66] == ('ali-server-p1', 0x3300)
          and max(v for _, v in msgid) == 13056, 'VESKGW.ProtoVeskMsgID ends')

    oids = [(m, n) for m in mods for n, t in mods[m].types if t.kind == 'SEQUENCE'
            for c in t.root if c.type.kind == 'OBJECT IDENTIFIER']
    check(oids == [('CCP', 'Message')], 'OBJECT IDENTIFIER only in CCP.Message')

    # Enumerations coded by value whose values are not 0..n-1.
    gaps = sorted('%s.%s' % (m, n) for m in mods for n, t in mods[m].types if t.kind == 'ENUMERATED'
                  and sorted(v for _, v in t.root) != list(range(len(t.root))))
    check(len(gaps) == 25, '%d enumerations with gaps, negative or repeated values' % len(gaps))

    for f in failures:
        print('FAIL', f)
    print('%d modules, %d types checked, %d failed' % (
        len(mods), sum(len(m.types) for m in mods.values()), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
