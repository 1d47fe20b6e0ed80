#!/usr/bin/env python3
"""Decodes an SNMPv2c trap message (hex on the command line) with pysnmp's
SNMPv2 types and pyasn1's BER decoder, and prints what it holds, one item a
line:

    version 1
    community public
    pdu snmpV2-trap
    request-id 991873
    error-status 0
    error-index 0
    1.3.6.1.2.1.1.3.0 timeticks 123456
    ...

A binding's value is printed as its type and value: integer, octets (hex),
null, oid, ipaddress, counter32, gauge32, timeticks, opaque (hex), and the
three pre-SNMPv2 types a value may also carry: bits (the octets after the
unused-bits count, hex), nsap (hex) and uinteger32.

Exits 77 when pysnmp is not installed, 1 when the octets do not decode as a
whole trap.
"""
import sys

try:
    from pyasn1.codec.ber import decoder
    from pyasn1.type import namedtype, tag, univ
    from pysnmp.proto import rfc1902, rfc1905
except ImportError as e:
    print("pysnmp is not installed: %s" % e)
    sys.exit(77)


class NsapAddress(univ.OctetString):
    tagSet = univ.OctetString.tagSet.tagImplicitly(tag.Tag(tag.tagClassApplication, tag.tagFormatSimple, 5))


class UInteger32(univ.Integer):
    tagSet = univ.Integer.tagSet.tagImplicitly(tag.Tag(tag.tagClassApplication, tag.tagFormatSimple, 7))


# pysnmp's binding value with the three older types beside it.
class BindValue(univ.Choice):
    componentType = namedtype.NamedTypes(
        *[namedtype.NamedType(t.name, t.asn1Object) for t in rfc1905._BindValue.componentType.namedTypes],
        namedtype.NamedType("bits", univ.BitString()),
        namedtype.NamedType("nsap", NsapAddress()),
        namedtype.NamedType("uinteger32", UInteger32()),
    )


class VarBind(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType("name", rfc1902.ObjectName()),
        namedtype.NamedType("value", BindValue()),
    )


class VarBindList(univ.SequenceOf):
    componentType = VarBind()


class TrapPDU(univ.Sequence):
    tagSet = rfc1905.SNMPv2TrapPDU.tagSet
    componentType = namedtype.NamedTypes(
        *[namedtype.NamedType(t.name, t.asn1Object) for t in rfc1905.PDU.componentType.namedTypes
          if t.name != "variable-bindings"],
        namedtype.NamedType("variable-bindings", VarBindList()),
    )


class PDUs(univ.Choice):
    componentType = namedtype.NamedTypes(namedtype.NamedType("snmpV2-trap", TrapPDU()))


class Message(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType("version", univ.Integer()),
        namedtype.NamedType("community", univ.OctetString()),
        namedtype.NamedType("data", PDUs()),
    )


def leaf(choice):
    """The innermost chosen component and its name."""
    while isinstance(choice, univ.Choice):
        name = choice.getName()
        choice = choice.getComponent()
    return name, choice


def show(value):
    name, v = leaf(value)
    if name == "integer-value":
        return "integer %d" % int(v)
    if name == "string-value":
        return "octets %s" % bytes(v).hex()
    if name == "objectID-value":
        return "oid %s" % v.prettyPrint()
    if name == "ipAddress-value":
        return "ipaddress %s" % ".".join(str(b) for b in bytes(v))
    if name == "counter-value":
        return "counter32 %d" % int(v)
    if name == "gauge32-value":
        return "gauge32 %d" % int(v)
    if name == "timeticks-value":
        return "timeticks %d" % int(v)
    if name == "arbitrary-value":
        return "opaque %s" % bytes(v).hex()
    if name == "unSpecified":
        return "null"
    if name == "bits":
        return "bits %s" % v.asOctets().hex()
    if name == "nsap":
        return "nsap %s" % bytes(v).hex()
    if name == "uinteger32":
        return "uinteger32 %d" % int(v)
    return "%s %s" % (name, v.prettyPrint())


def main():
    data = bytes.fromhex(sys.argv[1])
    try:
        message, rest = decoder.decode(data, asn1Spec=Message())
    except Exception as e:  # pyasn1 raises its own error kinds
        print("does not decode: %s" % e)
        return 1
    if rest:
        print("%d octets after the message" % len(rest))
        return 1
    pdu = message["data"]
    print("version %d" % int(message["version"]))
    print("community %s" % bytes(message["community"]).decode("latin-1"))
    print("pdu %s" % pdu.getName())
    trap = pdu.getComponent()
    print("request-id %d" % int(trap["request-id"]))
    print("error-status %d" % int(trap["error-status"]))
    print("error-index %d" % int(trap["error-index"]))
    for vb in trap["variable-bindings"]:
        print("%s %s" % (vb["name"].prettyPrint(), show(vb["value"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
