#!/usr/bin/env python3
"""Decodes an SNMPv2c trap (hex argument) with pysnmp's SNMPv2 types, plus the
three older value types a binding may carry (BIT STRING, NsapAddress,
UInteger32), and prints it one item a line: "version 1", "community c",
"pdu snmpV2-trap", "request-id n", "error-status n", "error-index n", then
"<oid> <type> <value>" per binding (octets in hex). Exits 77 without pysnmp,
1 when the octets are not exactly one trap."""
import sys

try:
    from pyasn1.codec.ber import decoder
    from pyasn1.type import namedtype, tag, univ
    from pysnmp.proto import rfc1902, rfc1905
except ImportError as e:
    print("missing: pysnmp (python3-pysnmp4): %s" % e)
    sys.exit(77)


def application(base, number):
    return type(base.__name__, (base,), {"tagSet": base.tagSet.tagImplicitly(
        tag.Tag(tag.tagClassApplication, tag.tagFormatSimple, number))})


def sequence(name, *components, **attrs):
    attrs["componentType"] = namedtype.NamedTypes(*[namedtype.NamedType(n, t) for n, t in components])
    return type(name, (univ.Sequence,), attrs)


BindValue = type("BindValue", (univ.Choice,), {"componentType": namedtype.NamedTypes(
    *[namedtype.NamedType(t.name, t.asn1Object) for t in rfc1905._BindValue.componentType.namedTypes],
    namedtype.NamedType("bits", univ.BitString()),
    namedtype.NamedType("nsap", application(univ.OctetString, 5)()),
    namedtype.NamedType("uinteger32", application(univ.Integer, 7)()))})
VarBind = sequence("VarBind", ("name", rfc1902.ObjectName()), ("value", BindValue()))
VarBindList = type("VarBindList", (univ.SequenceOf,), {"componentType": VarBind()})
TrapPDU = sequence("TrapPDU", *[(t.name, t.asn1Object) for t in rfc1905.PDU.componentType.namedTypes][:3],
                   ("variable-bindings", VarBindList()), tagSet=rfc1905.SNMPv2TrapPDU.tagSet)
PDUs = type("PDUs", (univ.Choice,), {"componentType": namedtype.NamedTypes(
    namedtype.NamedType("snmpV2-trap", TrapPDU()))})
Message = sequence("Message", ("version", univ.Integer()), ("community", univ.OctetString()), ("data", PDUs()))

SHOW = {
    "integer-value": ("integer", int), "string-value": ("octets", lambda v: bytes(v).hex()),
    "objectID-value": ("oid", lambda v: v.prettyPrint()),
    "ipAddress-value": ("ipaddress", lambda v: ".".join(str(b) for b in bytes(v))),
    "counter-value": ("counter32", int), "gauge32-value": ("gauge32", int), "timeticks-value": ("timeticks", int),
    "arbitrary-value": ("opaque", lambda v: bytes(v).hex()), "bits": ("bits", lambda v: v.asOctets().hex()),
    "nsap": ("nsap", lambda v: bytes(v).hex()), "uinteger32": ("uinteger32", int),
}


def show(value):
    while isinstance(value, univ.Choice):
        name, value = value.getName(), value.getComponent()
    if name == "unSpecified":
        return "null"
    kind, text = SHOW[name]
    return "%s %s" % (kind, text(value))


def main():
    try:
        message, rest = decoder.decode(bytes.fromhex(sys.argv[1]), asn1Spec=Message())
    except Exception as e:  # pyasn1's errors have no common base worth naming
        print("does not decode: %s" % e)
        return 1
    if rest:
        print("%d octets after the message" % len(rest))
        return 1
    trap = message["data"].getComponent()
    print("version %d\ncommunity %s\npdu %s" % (int(message["version"]), bytes(message["community"]).decode(
        "latin-1"), message["data"].getName()))
    for field in ("request-id", "error-status", "error-index"):
        print("%s %d" % (field, int(trap[field])))
    for vb in trap["variable-bindings"]:
        print("%s %s" % (vb["name"].prettyPrint(), show(vb["value"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
