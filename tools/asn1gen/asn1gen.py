#!/usr/bin/env python3
"""asn1gen: ASN.1 source text to C++ type descriptors and thin classes.

Reads the modules given on the command line together (imports between them
are resolved) and writes, per module, <Module>.h and <Module>.cpp into the
output directory. See README.md beside this file for the accepted subset and
the generated names. Standard library only.
"""

import argparse
import os
import re
import sys


class Asn1Error(Exception):
    pass


# ---------------------------------------------------------------- lexer

TOKEN_RE = re.compile(r"""
    (?P<ws>\s+)
  | (?P<bcomment>/\*.*?\*/)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<lbr2>\[\[)
  | (?P<rbr2>\]\])
  | (?P<number>-?\d+)
  | (?P<ident>[A-Za-z](?:[A-Za-z0-9_]|-(?!-))*)
  | (?P<string>"(?:[^"]|"")*")
  | (?P<sym>[{}()\[\],;|^:<@!.])
""", re.S | re.X)


class Token:
    __slots__ = ("kind", "text", "line")

    def __init__(self, kind, text, line):
        self.kind, self.text, self.line = kind, text, line

    def __repr__(self):
        return "%s:%r@%d" % (self.kind, self.text, self.line)


def strip_line_comments(text):
    # "--" starts a comment that ends at the next "--" or the end of the line.
    out = []
    for line in text.split("\n"):
        res, i, in_str = [], 0, False
        while i < len(line):
            c = line[i]
            if c == '"':
                in_str = not in_str
                res.append(c)
                i += 1
            elif not in_str and line.startswith("--", i):
                j = line.find("--", i + 2)
                if j < 0:
                    break
                res.append(" ")
                i = j + 2
            else:
                res.append(c)
                i += 1
        out.append("".join(res))
    return "\n".join(out)


def tokenize(text, fname):
    text = strip_line_comments(text)
    toks, pos, line = [], 0, 1
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise Asn1Error("%s:%d: unexpected character %r" % (fname, line, text[pos]))
        kind = m.lastgroup
        s = m.group(kind)
        if kind not in ("ws", "bcomment"):
            toks.append(Token(kind, s, line))
        line += s.count("\n")
        pos = m.end()
    return toks


# ---------------------------------------------------------------- model

class Type:
    """One ASN.1 type. kind is one of: NULL BOOLEAN INTEGER ENUMERATED
    OCTET_STRING BIT_STRING STRING OID SEQUENCE CHOICE SEQUENCE_OF SET_OF REF."""

    def __init__(self, kind, line, **kw):
        self.kind = kind
        self.line = line
        self.string_kind = None      # IA5String, NumericString, ...
        self.range = None           # (kind, lo, hi) value range of INTEGER
        self.size = None            # (kind, lo, hi) size of strings and lists
        self.alphabet = None        # permitted characters (FROM)
        self.named = None           # INTEGER named numbers [(name, value)]
        self.items = None           # ENUMERATED [(name, value)]
        self.enum_root = 0          # count of root enumerators
        self.enum_ext = False
        self.components = None      # SEQUENCE/CHOICE [(name, Type, optional)]
        self.root_count = 0
        self.extensible = False
        self.element = None         # SEQUENCE OF element
        self.ref = None             # (module or None, name)
        self.constraint = None      # unapplied constraint on a REF
        # set by the generator
        self.cxx = None             # C++ type name
        self.cls = None             # generated class name (None: typedef/builtin)
        self.__dict__.update(kw)


class Module:
    def __init__(self, name, fname):
        self.name = name
        self.fname = fname
        self.tagging = "EXPLICIT"
        self.imports = {}           # type name -> module name
        self.types = []             # [(name, Type)] in source order
        self.values = {}            # name -> int
        self.ns = cxx_name(name)


# ---------------------------------------------------------------- parser

STRING_TYPES = ("IA5String", "NumericString", "PrintableString", "VisibleString")


class Parser:
    def __init__(self, toks, fname):
        self.toks, self.i, self.fname = toks, 0, fname

    def err(self, msg, tok=None):
        tok = tok or self.peek()
        line = tok.line if tok else (self.toks[-1].line if self.toks else 0)
        raise Asn1Error("%s:%d: %s" % (self.fname, line, msg))

    def peek(self, k=0):
        j = self.i + k
        return self.toks[j] if j < len(self.toks) else None

    def at(self, text, k=0):
        t = self.peek(k)
        return t is not None and t.text == text

    def next(self):
        t = self.peek()
        if t is None:
            self.err("unexpected end of file")
        self.i += 1
        return t

    def expect(self, text):
        t = self.next()
        if t.text != text:
            self.err("expected %r, found %r" % (text, t.text), t)
        return t

    def ident(self):
        t = self.next()
        if t.kind != "ident":
            self.err("expected a name, found %r" % t.text, t)
        return t.text

    def accept(self, text):
        if self.at(text):
            self.i += 1
            return True
        return False

    # module ::= Name [oid] DEFINITIONS [tagging TAGS] ::= BEGIN ... END
    def module(self):
        name = self.ident()
        mod = Module(name, self.fname)
        if self.at("{"):
            self.skip_braces()
        self.expect("DEFINITIONS")
        if self.peek().text in ("AUTOMATIC", "IMPLICIT", "EXPLICIT"):
            mod.tagging = self.next().text
            self.expect("TAGS")
        if self.accept("EXTENSIBILITY"):
            self.expect("IMPLIED")
        self.expect("::=")
        self.expect("BEGIN")
        if self.accept("EXPORTS"):
            while not self.accept(";"):
                self.next()
        if self.accept("IMPORTS"):
            names = []
            while not self.accept(";"):
                if self.accept("FROM"):
                    src = self.ident()
                    if self.at("{"):
                        self.skip_braces()
                    for n in names:
                        mod.imports[n] = src
                    names = []
                elif self.accept(","):
                    pass
                else:
                    names.append(self.ident())
            if names:
                self.err("imported names without FROM")
        while not self.at("END"):
            self.assignment(mod)
        self.expect("END")
        return mod

    def skip_braces(self):
        depth = 0
        while True:
            t = self.next()
            if t.text == "{":
                depth += 1
            elif t.text == "}":
                depth -= 1
                if depth == 0:
                    return

    def assignment(self, mod):
        t = self.peek()
        name = self.ident()
        if self.accept("::="):
            if not name[0].isupper():
                self.err("a type name begins with an upper-case letter", t)
            typ = self.type()
            mod.types.append((name, typ))
            return
        # value assignment: name Type ::= value
        vtype = self.type()
        self.expect("::=")
        if vtype.kind == "INTEGER":
            tok = self.next()
            if tok.kind == "number":
                mod.values[name] = int(tok.text)
            elif tok.kind == "ident" and tok.text in mod.values:
                mod.values[name] = mod.values[tok.text]
            else:
                self.err("an integer value is expected", tok)
        elif self.at("{"):
            self.skip_braces()  # object identifier and other values: no C++ form needed
        else:
            self.next()

    def value(self, mod_values):
        t = self.next()
        if t.kind == "number":
            return int(t.text)
        if t.text in ("MIN", "MAX"):
            return t.text
        if t.kind == "ident":
            if t.text in mod_values:
                return mod_values[t.text]
            return ("ref", t.text, t)
        self.err("a number is expected", t)

    def type(self):
        t = self.peek()
        # tags are accepted and ignored: fields are tagged by position
        while self.at("["):
            if self.at("[["):
                self.err("extension addition groups are not supported")
            while not self.accept("]"):
                self.next()
            self.accept("IMPLICIT") or self.accept("EXPLICIT")
        t = self.next()
        w = t.text
        if w == "NULL":
            typ = Type("NULL", t.line)
        elif w == "BOOLEAN":
            typ = Type("BOOLEAN", t.line)
        elif w == "INTEGER":
            typ = Type("INTEGER", t.line)
            if self.at("{"):
                typ.named = self.named_list()
        elif w == "ENUMERATED":
            typ = self.enumerated(t)
        elif w == "OCTET":
            self.expect("STRING")
            typ = Type("OCTET_STRING", t.line)
        elif w == "BIT":
            self.expect("STRING")
            typ = Type("BIT_STRING", t.line)
            if self.at("{"):
                self.named_list()  # named bits carry no wire meaning
        elif w == "OBJECT":
            self.expect("IDENTIFIER")
            typ = Type("OID", t.line)
        elif w in STRING_TYPES:
            typ = Type("STRING", t.line, string_kind=w)
        elif w in ("SEQUENCE", "SET"):
            if self.at("{"):
                if w == "SET":
                    self.err("SET is not supported (SET OF is)", t)
                typ = self.sequence_or_choice("SEQUENCE", t)
            else:
                size = None
                if self.at("("):
                    size = self.constraint_group()
                elif self.at("SIZE"):
                    size = {"size": self.size_constraint()}
                self.expect("OF")
                if self.peek().kind == "ident" and self.peek(1) and self.peek(1).kind == "ident" \
                        and self.peek().text[0].islower():
                    self.next()  # SEQUENCE OF name Type
                elem = self.type()
                typ = Type("SEQUENCE_OF" if w == "SEQUENCE" else "SET_OF", t.line, element=elem)
                if size:
                    self.apply(typ, size)
        elif w == "CHOICE":
            typ = self.sequence_or_choice("CHOICE", t)
        elif t.kind == "ident" and w[0].isupper():
            if self.at("."):
                self.err("information object references are not supported")
            typ = Type("REF", t.line, ref=(None, w))
            if self.at("{"):
                self.err("parameterised types are not supported")
        else:
            self.err("unknown type %r" % w, t)
        while self.at("("):
            self.apply(typ, self.constraint_group())
        return typ

    def named_list(self):
        self.expect("{")
        out = []
        while True:
            name = self.ident()
            self.expect("(")
            v = self.value({})
            self.expect(")")
            out.append((name, v))
            if self.accept("}"):
                return out
            self.expect(",")

    def enumerated(self, t):
        typ = Type("ENUMERATED", t.line, items=[])
        self.expect("{")
        explicit = []
        in_ext = False
        while True:
            if self.accept("..."):
                if in_ext:
                    self.err("a second extension marker is not supported")
                in_ext = True
                typ.enum_ext = True
                typ.enum_root = len(explicit)
            else:
                name = self.ident()
                v = None
                if self.accept("("):
                    v = self.value({})
                    if not isinstance(v, int):
                        self.err("an enumerator needs a number")
                    self.expect(")")
                explicit.append((name, v))
            if self.accept("}"):
                break
            self.expect(",")
        if not in_ext:
            typ.enum_root = len(explicit)
        # Unnumbered items take the smallest value not yet used, in order.
        used = set(v for _, v in explicit if v is not None)
        nxt = 0
        for name, v in explicit:
            if v is None:
                while nxt in used:
                    nxt += 1
                v = nxt
                used.add(v)
            typ.items.append((name, v))
        names = [n for n, _ in typ.items]
        if len(set(names)) != len(names):
            self.err("an enumerator name is used twice")
        return typ

    def sequence_or_choice(self, kind, t):
        typ = Type(kind, t.line, components=[])
        self.expect("{")
        in_ext = False
        if self.accept("}"):
            return typ
        while True:
            if self.at("[["):
                self.err("extension addition groups are not supported")
            if self.accept("..."):
                if in_ext:
                    self.err("a second extension marker is not supported")
                in_ext = True
                typ.extensible = True
                typ.root_count = len(typ.components)
                if self.at("!"):
                    self.err("exception specifications are not supported")
            else:
                if self.at("COMPONENTS"):
                    self.err("COMPONENTS OF is not supported")
                name = self.ident()
                if not name[0].islower():
                    self.err("a component name begins with a lower-case letter")
                ctype = self.type()
                optional = False
                if self.accept("OPTIONAL"):
                    optional = True
                elif self.at("DEFAULT"):
                    self.err("DEFAULT is not supported")
                if kind == "CHOICE" and optional:
                    self.err("a CHOICE alternative cannot be OPTIONAL")
                if in_ext:
                    optional = True  # extension additions are always optional on the wire
                typ.components.append((name, ctype, optional))
            if self.accept("}"):
                break
            self.expect(",")
        if not in_ext:
            typ.root_count = len(typ.components)
        names = [c[0] for c in typ.components]
        if len(set(names)) != len(names):
            self.err("a component name is used twice in one type", t)
        return typ

    # A parenthesised constraint: (lo..hi[, ...]) | (SIZE (..)) | (FROM (..))
    # and their intersections with ^.
    def constraint_group(self):
        self.expect("(")
        out = {}
        while True:
            if self.at("SIZE"):
                out["size"] = self.size_constraint()
            elif self.at("FROM"):
                self.next()
                out["from"] = self.alphabet()
            elif self.at("("):
                inner = self.constraint_group()
                out.update(inner)
            else:
                out["value"] = self.range_spec()
            if self.accept("^"):
                continue
            if self.accept(","):
                self.expect("...")
                key = "value" if "value" in out else ("size" if "size" in out else None)
                if key is None:
                    self.err("extension marker without a constraint")
                k, lo, hi = out[key]
                out[key] = ("ext", lo, hi)
            self.expect(")")
            return out

    def size_constraint(self):
        self.expect("SIZE")
        self.expect("(")
        r = self.range_spec()
        if self.accept(","):
            self.expect("...")
            r = ("ext", r[1], r[2])
        self.expect(")")
        return r

    def range_spec(self):
        lo = self.value({})
        if self.accept(".."):
            hi = self.value({})
        else:
            hi = lo
        return ("fixed", lo, hi)

    def alphabet(self):
        self.expect("(")
        chars = set()
        while True:
            t = self.next()
            if t.kind != "string":
                self.err("a quoted character string is expected", t)
            s = t.text[1:-1].replace('""', '"')
            if self.accept(".."):
                t2 = self.next()
                if t2.kind != "string":
                    self.err("a quoted character is expected", t2)
                e = t2.text[1:-1].replace('""', '"')
                if len(s) != 1 or len(e) != 1:
                    self.err("a range of characters is written \"a\"..\"z\"", t2)
                for c in range(ord(s), ord(e) + 1):
                    chars.add(c)
            else:
                for c in s:
                    chars.add(ord(c))
            if self.accept("|"):
                continue
            self.expect(")")
            return sorted(chars)

    def apply(self, typ, cons):
        typ.constraint = (typ.constraint or {})
        typ.constraint.update(cons)


# ---------------------------------------------------------------- names

CXX_KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t char32_t
class compl const constexpr const_cast continue decltype default delete do double dynamic_cast
else enum explicit export extern false float for friend goto if inline int long mutable namespace
new noexcept not not_eq nullptr operator or or_eq private protected public register
reinterpret_cast return short signed sizeof static static_assert static_cast struct switch
template this thread_local throw true try typedef typeid typename union unsigned using virtual
void volatile wchar_t while xor xor_eq NULL EOF BUFSIZ errno stdin stdout stderr assert
TRUE FALSE major minor unix linux
""".split())

# Names of the runtime classes' members: an enumerator or nested struct
# with one of these names would hide them.
MEMBER_NAMES = set("""
theInfo info create make_copy asn1_create asn1_copy getValue setValue getName setFromName
getMaximum extendable isValid isStrictlyValid compare clone accept getInfo getTag asValueNotation
setFromValueNotation print_on get_from hasOptionalField includeOptionalField removeOptionalField
getField field fieldCount optionalMap extensionMap defaultTag swap getSelection currentSelection
isSelected getSelectedValue getSelectionName setSelection createSelection select NamedNumber
do_compare do_clone do_accept value_type
""".split())


def cxx_name(name):
    n = name.replace("-", "_")
    if n in CXX_KEYWORDS:
        n += "_"
    return n


def member_name(name):
    n = cxx_name(name)
    if n in MEMBER_NAMES:
        n += "_"
    return n


# ---------------------------------------------------------------- generator

BUILTIN_INFO = {
    "NULL": "ASN1::Null", "BOOLEAN": "ASN1::BOOLEAN", "OID": "ASN1::OBJECT_IDENTIFIER",
    "INTEGER": "ASN1::INTEGER", "OCTET_STRING": "ASN1::OCTET_STRING", "BIT_STRING": "ASN1::BIT_STRING",
}
STRING_CXX = {k: "ASN1::" + k for k in STRING_TYPES}
TAGS = {"NULL": 5, "BOOLEAN": 1, "INTEGER": 2, "ENUMERATED": 10, "OCTET_STRING": 4, "BIT_STRING": 3,
        "OID": 6, "SEQUENCE": 16, "SEQUENCE_OF": 16, "SET_OF": 17, "CHOICE": 0,
        "IA5String": 22, "NumericString": 18, "PrintableString": 19, "VisibleString": 26}
DEFAULT_ALPHABET = {
    # set expression, size, canonical, unaligned, aligned widths
    "IA5String": ("ASN1::IA5StringSet", 128, 7, 7, 8),
    "NumericString": ("ASN1::NumericStringSet", 11, 4, 4, 4),
    "PrintableString": ("ASN1::PrintableStringSet", 74, 7, 7, 8),
    "VisibleString": ("ASN1::VisibleStringSet", 95, 7, 7, 8),
}
DEFAULT_CHARS = {
    "IA5String": list(range(0, 128)),
    "NumericString": [ord(c) for c in " 0123456789"],
    "PrintableString": [ord(c) for c in " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"],
    "VisibleString": list(range(32, 127)),
}
# Base class and descriptor type of each kind that gets a generated class
# (character strings: their string class and AbstractStringInfo).
CLASS_BASES = {
    "SEQUENCE": ("ASN1::SEQUENCE", "ASN1::SequenceInfo"),
    "CHOICE": ("ASN1::CHOICE", "ASN1::ChoiceInfo"),
    "ENUMERATED": ("ASN1::ENUMERATED", "ASN1::EnumeratedInfo"),
    "INTEGER": ("ASN1::IntegerWithNamedNumber", "ASN1::IntegerWithNamedNumberInfo"),
    "OCTET_STRING": ("ASN1::OCTET_STRING", "ASN1::ConstrainedInfo"),
    "BIT_STRING": ("ASN1::BIT_STRING", "ASN1::ConstrainedInfo"),
}
CONSTRAINT_KIND = {0: "ASN1::Unconstrained", 1: "ASN1::PartiallyConstrained", 2: "ASN1::FixedConstraint",
                   3: "ASN1::ExtendableConstraint"}


def count_bits(n):
    b = 0
    while (1 << b) < n:
        b += 1
    return b


class Generator:
    def __init__(self, modules):
        self.modules = {m.name: m for m in modules}

    def err(self, mod, typ, msg):
        raise Asn1Error("%s:%d: %s" % (mod.fname, typ.line if typ else 0, msg))

    # Resolves a REF to (module, Type) of its definition.
    def lookup(self, mod, name, typ):
        seen = set()
        while True:
            key = (mod.name, name)
            if key in seen:
                self.err(mod, typ, "type %s refers to itself" % name)
            seen.add(key)
            for n, t in mod.types:
                if n == name:
                    return mod, t
            src = mod.imports.get(name)
            if src is None:
                self.err(mod, typ, "unknown type %s" % name)
            if src not in self.modules:
                self.err(mod, typ, "module %s (imported for %s) is not among the inputs" % (src, name))
            mod = self.modules[src]

    def resolve(self, mod, typ):
        """The defining Type of a (possibly REF) type, following references."""
        while typ.kind == "REF":
            mod, typ = self.lookup(mod, typ.ref[1], typ)
        return mod, typ

    def bound(self, mod, v, typ):
        if isinstance(v, tuple):
            name = v[1]
            if name in mod.values:
                return mod.values[name]
            src = mod.imports.get(name)
            if src and src in self.modules and name in self.modules[src].values:
                return self.modules[src].values[name]
            self.err(mod, typ, "unknown value %s" % name)
        return v

    # ---- constraints

    def finish_constraints(self, mod, typ):
        """Turns the parsed constraint of typ into range/size/alphabet; a REF
        with a constraint becomes a copy of its base type."""
        cons = typ.constraint
        if not cons:
            return typ
        if typ.kind == "REF":
            bmod, base = self.resolve(mod, typ)
            if base.kind not in ("INTEGER", "OCTET_STRING", "BIT_STRING", "STRING", "SEQUENCE_OF", "SET_OF"):
                self.err(mod, typ, "a constraint on a reference to this kind of type is not supported")
            copy = Type(base.kind, typ.line)
            copy.__dict__.update({k: v for k, v in base.__dict__.items()
                                  if k in ("string_kind", "named", "element", "range", "size", "alphabet")})
            copy.constraint = dict(base.constraint or {})
            copy.constraint.update(cons)
            if base.element is not None:
                copy.element_mod = bmod
            typ = copy
            cons = copy.constraint
        if "value" in cons:
            if typ.kind != "INTEGER":
                self.err(mod, typ, "a value range applies to INTEGER only")
            typ.range = self.range_of(mod, typ, cons["value"])
        if "size" in cons:
            if typ.kind not in ("OCTET_STRING", "BIT_STRING", "STRING", "SEQUENCE_OF", "SET_OF"):
                self.err(mod, typ, "SIZE applies to strings and lists only")
            typ.size = self.range_of(mod, typ, cons["size"])
            if typ.size[1] < 0:
                self.err(mod, typ, "a size cannot be negative")
        if "from" in cons:
            if typ.kind != "STRING":
                self.err(mod, typ, "FROM applies to character strings only")
            allowed = set(DEFAULT_CHARS[typ.string_kind])
            chars = cons["from"]
            bad = [c for c in chars if c not in allowed]
            if bad:
                self.err(mod, typ, "FROM names characters outside the string type")
            typ.alphabet = chars
        typ.constraint = None
        return typ

    def range_of(self, mod, typ, r):
        kind, lo, hi = r
        lo = self.bound(mod, lo, typ)
        hi = self.bound(mod, hi, typ)
        ext = kind == "ext"
        if lo == "MIN":
            return (0, 0, 4294967295)  # no lower bound: coded as unconstrained
        if hi == "MAX":
            return (1, lo, 4294967295)
        if lo > hi:
            self.err(mod, typ, "empty range %d..%d" % (lo, hi))
        if lo < -2**31 or (lo >= 0 and hi > 2**32 - 1) or (lo < 0 and hi > 2**31 - 1):
            self.err(mod, typ, "range %d..%d does not fit 32 bits" % (lo, hi))
        return (3 if ext else 2, lo, hi)

    # ---- naming of every type

    def prepare(self):
        for mod in self.modules.values():
            mod.classes = []     # Types that need a generated class, in order
            mod.typedefs = []    # (name, Type)
            mod.cnames = {}
            top = {}
            for name, typ in mod.types:
                cname = cxx_name(name)
                if cname in mod.cnames:
                    self.err(mod, typ, "two types share the C++ name %s" % cname)
                mod.cnames[cname] = typ
                top[name] = cname
            new_types = []
            for name, typ in mod.types:
                typ = self.finish_constraints(mod, typ)
                new_types.append((name, typ))
            mod.types = new_types
            for name, typ in mod.types:
                self.name_type(mod, typ, top[name], top=True)

    def needs_class(self, typ):
        k = typ.kind
        if k in ("SEQUENCE", "CHOICE", "ENUMERATED"):
            return True
        if k == "INTEGER":
            return bool(typ.named)
        if k in ("OCTET_STRING", "BIT_STRING"):
            return typ.size is not None
        if k == "STRING":
            return typ.size is not None or typ.alphabet is not None
        return False

    def name_type(self, mod, typ, path, top=False):
        """Sets typ.cxx (and typ.cls for generated classes); names the
        anonymous types inside it after their path."""
        k = typ.kind
        if self.needs_class(typ):
            cls = path
            if not top:
                if cls in mod.cnames:
                    self.err(mod, typ, "generated name %s is also a type name" % cls)
                mod.cnames[cls] = typ
            typ.cls = cls
            typ.cxx = cls
            mod.classes.append(typ)
            if k in ("SEQUENCE", "CHOICE"):
                typ.members = []
                used = set()
                for name, ctype, opt in typ.components:
                    m = name.replace("-", "_")
                    if m in used:
                        self.err(mod, typ, "two components share the C++ name %s" % m)
                    used.add(m)
                    ctype2 = self.finish_constraints(mod, ctype)
                    typ.members.append((name, m, ctype2, opt))
                    self.name_type(mod, ctype2, "%s_%s" % (path, cxx_name(name)))
                typ.components = [(n, t, o) for n, _m, t, o in typ.members]
        elif k == "REF":
            rmod = mod
            name = typ.ref[1]
            if name in mod.imports:
                rmod = self.modules.get(mod.imports[name])
                if rmod is None:
                    self.err(mod, typ, "module %s is not among the inputs" % mod.imports[name])
            else:
                self.lookup(mod, name, typ)
            typ.cxx = ("%s::%s" % (rmod.ns, cxx_name(name))) if rmod is not mod else cxx_name(name)
        elif k in ("SEQUENCE_OF", "SET_OF"):
            emod = getattr(typ, "element_mod", mod)
            elem = self.finish_constraints(emod, typ.element)
            typ.element = elem
            self.name_type(emod, elem, "%s_element" % path)
            if emod is not mod and elem.kind != "REF" and elem.cls:
                elem_cxx = "%s::%s" % (emod.ns, elem.cxx)
            else:
                elem_cxx = elem.cxx
            tmpl = "ASN1::SEQUENCE_OF" if k == "SEQUENCE_OF" else "ASN1::SET_OF"
            if typ.size:
                sk, lo, hi = typ.size
                typ.cxx = "%s<%s, ASN1::SizeConstraint<%s, %d, %du> >" % (tmpl, elem_cxx, CONSTRAINT_KIND[sk], lo, hi)
            else:
                typ.cxx = "%s<%s>" % (tmpl, elem_cxx)
        elif k == "INTEGER":
            if typ.range and typ.range[0] != 0:
                rk, lo, hi = typ.range
                typ.cxx = "ASN1::Constrained_INTEGER<%s, %d, %du>" % (CONSTRAINT_KIND[rk], lo, hi & 0xFFFFFFFF)
            else:
                typ.cxx = "ASN1::INTEGER"
        elif k == "STRING":
            typ.cxx = STRING_CXX[typ.string_kind]
        else:
            typ.cxx = BUILTIN_INFO[k]

    # ---- what a type is, for accessors

    def setter_kind(self, mod, typ):
        if typ.kind == "REF":
            _, base = self.resolve(mod, typ)
        else:
            base = typ
        if base.kind == "INTEGER":
            return "int"
        if base.kind == "ENUMERATED":
            return "enum"
        if base.kind == "BOOLEAN":
            return "bool"
        if base.kind in ("STRING", "OCTET_STRING"):
            return "string"
        return "value"

    # ---- output

    def generate(self, mod, include_prefix):
        h, c = [], []
        guard_includes = sorted(set(mod.imports.values()))
        h.append("// Generated by tools/asn1gen from %s: do not edit." % os.path.basename(mod.fname))
        h.append("#pragma once\n")
        h.append('#include "asn1/asn1.h"')
        for m in guard_includes:
            h.append('#include "%s%s.h"' % (include_prefix, m))
        h.append("")
        h.append("namespace %s {\n" % mod.ns)
        for name, v in sorted(mod.values.items()):
            h.append("const %s %s = %d;" % ("int" if -2**31 <= v < 2**31 else "long long", cxx_name(name), v))
        if mod.values:
            h.append("")
        for typ in mod.classes:
            h.append("class %s;" % typ.cls)
        h.append("")
        # Enumerations first: other classes name their NamedNumber.
        enums = [t for t in mod.classes if t.kind == "ENUMERATED"]
        others = [t for t in mod.classes if t.kind != "ENUMERATED"]
        for typ in enums:
            self.emit_class(mod, typ, h, c)
        for name, typ in self.ordered_typedefs(mod):
            h.append("typedef %s %s;" % (typ.cxx, cxx_name(name)))
        h.append("")
        for typ in others:
            self.emit_class(mod, typ, h, c)
        h.append("extern const ASN1::Module module;\n")
        for typ in others:
            self.emit_accessors(mod, typ, h)
        h.append("}  // namespace %s" % mod.ns)

        cc = ["// Generated by tools/asn1gen from %s: do not edit." % os.path.basename(mod.fname),
              '#include "%s%s.h"\n' % (include_prefix, mod.name),
              "namespace %s {\n" % mod.ns]
        cc.extend(c)
        cc.append("namespace {")
        cc.append("const ASN1::ModuleType moduleTypes[] = {")
        for name, typ in mod.types:
            cc.append('    {"%s", &%s::theInfo},' % (name, cxx_name(name)))
        if not mod.types:
            cc.append("    {nullptr, nullptr},")
        cc.append("};")
        cc.append("}  // namespace\n")
        cc.append('const ASN1::Module module("%s", moduleTypes, %d);\n' % (mod.name, len(mod.types)))
        cc.append("}  // namespace %s" % mod.ns)
        return "\n".join(h) + "\n", "\n".join(cc) + "\n"

    def ordered_typedefs(self, mod):
        tds = [(n, t) for n, t in mod.types if not t.cls]
        names = {cxx_name(n) for n, _ in tds}
        done, out = set(), []

        def deps(t):
            # local typedef names this typedef's C++ text uses
            return {d for d in re.findall(r"[A-Za-z_][A-Za-z0-9_]*", t.cxx) if d in names}

        pending = list(tds)
        while pending:
            progress = False
            for item in list(pending):
                n, t = item
                if deps(t) - {cxx_name(n)} <= done:
                    out.append(item)
                    done.add(cxx_name(n))
                    pending.remove(item)
                    progress = True
            if not progress:
                self.err(mod, pending[0][1], "type %s is defined through itself" % pending[0][0])
        return out

    def emit_class(self, mod, typ, h, c):
        k = typ.kind
        cls = typ.cls
        if k == "STRING":
            base, info = STRING_CXX[typ.string_kind], "ASN1::AbstractStringInfo"
        else:
            base, info = CLASS_BASES[k]
        copy_base = {"STRING": "ASN1::AbstractString"}.get(k, base)
        h.append("class %s : public %s {" % (cls, base))
        h.append(" public:")
        h.append("  static const %s theInfo;" % info)
        h.append("  static ASN1::AbstractData* asn1_create(const void*);")
        h.append("  static ASN1::AbstractData* asn1_copy(const ASN1::AbstractData& o);")
        h.append("  %s() : %s(&theInfo) {}" % (cls, base))
        h.append("  %s(const %s&) = default;" % (cls, cls))
        h.append("  %s& operator=(const %s&) = default;" % (cls, cls))
        h.append("  explicit %s(const %s& o) : %s(o) {}" % (cls, copy_base, base))
        h.append("  ~%s() override;" % cls)
        c.append("%s::~%s() {}" % (cls, cls))
        c.append("ASN1::AbstractData* %s::asn1_create(const void*) { return new %s; }" % (cls, cls))
        c.append("ASN1::AbstractData* %s::asn1_copy(const ASN1::AbstractData& o) {" % cls)
        c.append("  return new %s(static_cast<const %s&>(o));\n}" % (cls, copy_base))
        head = "{&%s::asn1_create, %d, &%s::asn1_copy}" % (cls, self.tag_of(typ), cls)
        if k == "ENUMERATED":
            self.class_enumerated(mod, typ, h, c, head)
        elif k == "INTEGER":
            self.class_named_integer(mod, typ, h, c, head)
        elif k in ("OCTET_STRING", "BIT_STRING"):
            sk, lo, hi = typ.size
            if k == "OCTET_STRING":
                h.append("  using ASN1::OCTET_STRING::operator=;")
            c.append("const ASN1::ConstrainedInfo %s::theInfo = {%s, %s, %d, %du};" % (cls, head, CONSTRAINT_KIND[sk], lo, hi))
        elif k == "STRING":
            self.class_string(mod, typ, h, c, head)
        elif k == "SEQUENCE":
            self.class_sequence(mod, typ, h, c, head)
        else:
            self.class_choice(mod, typ, h, c, head)
        h.append("};\n")
        c.append("")

    def tag_of(self, typ):
        if typ.kind == "STRING":
            return TAGS[typ.string_kind]
        return TAGS[typ.kind]

    def class_enumerated(self, mod, typ, h, c, head):
        cls = typ.cls
        used = {}
        entries = []
        for name, v in typ.items:
            m = member_name(name)
            if m in used:
                m = m + "_" + str(len(used))
            used[m] = v
            entries.append("%s = %d" % (m, v))
        h.append("  enum NamedNumber {")
        for e in entries:
            h.append("    %s," % e)
        h.append("  };")
        h.append("  %s(NamedNumber v) : ASN1::ENUMERATED(&theInfo) { ASN1::ENUMERATED::setValue(int(v)); }" % cls)
        h.append("  %s& operator=(NamedNumber v) {" % cls)
        h.append("    ASN1::ENUMERATED::setValue(int(v));")
        h.append("    return *this;")
        h.append("  }")
        h.append("  NamedNumber getValue() const { return NamedNumber(ASN1::ENUMERATED::getValue()); }")
        h.append("  void setValue(NamedNumber v) { ASN1::ENUMERATED::setValue(int(v)); }")
        h.append("  using ASN1::ENUMERATED::setValue;")
        root = typ.items[:typ.enum_root]
        max_root = max(v for _, v in root) if root else 0
        c.append("const ASN1::NamedValue %s_enum_names__[] = {" % cls)
        for name, v in typ.items:
            c.append('    {%d, "%s"},' % (v, name))
        c.append("};")
        c.append("const ASN1::EnumeratedInfo %s::theInfo = {%s, %s, %d, %s_enum_names__, %d};" % (
            cls, head, "true" if typ.enum_ext else "false", max_root, cls, len(typ.items)))

    def class_named_integer(self, mod, typ, h, c, head):
        cls = typ.cls
        named = sorted(((self.bound(mod, v, typ), n) for n, v in typ.named))
        h.append("  enum NamedNumber {")
        for v, n in named:
            h.append("    %s = %d," % (member_name(n), v))
        h.append("  };")
        rk, lo, hi = typ.range if typ.range else (0, 0, 4294967295)
        c.append("const ASN1::NamedValue %s_named_numbers__[] = {" % cls)
        for v, n in named:
            c.append('    {%d, "%s"},' % (v, n))
        c.append("};")
        c.append("const ASN1::IntegerWithNamedNumberInfo %s::theInfo = {{%s, %s, %d, %du}, %s_named_numbers__, %d};" % (
            cls, head, CONSTRAINT_KIND[rk], lo, hi & 0xFFFFFFFF, cls, len(named)))

    def class_string(self, mod, typ, h, c, head):
        cls = typ.cls
        h.append("  using ASN1::AbstractString::operator=;")
        sk, lo, hi = typ.size if typ.size else (0, 0, 4294967295)
        if typ.alphabet is None:
            alpha = DEFAULT_ALPHABET[typ.string_kind]
        else:
            chars = typ.alphabet
            lit = "".join("\\x%02x" % ch for ch in chars)
            c.append('const char %s_alphabet__[] = "%s";' % (cls, lit))
            n = len(chars)
            uw = count_bits(n)
            aw = 0
            while aw < uw:
                aw = 1 if aw == 0 else aw * 2
            canonical = max(chars).bit_length() if chars else 0
            alpha = ("%s_alphabet__" % cls, n, canonical, uw, aw)
        c.append("const ASN1::AbstractStringInfo %s::theInfo = {{%s, %s, %d, %du}, %s, %d, %d, %d, %d};" % (
            cls, head, CONSTRAINT_KIND[sk], lo, hi, alpha[0], alpha[1], alpha[2], alpha[3], alpha[4]))

    def info_expr(self, typ):
        return "&%s::theInfo" % typ.cxx

    def inline_structs(self, mod, typ, h):
        for name, m, ctype, opt in typ.members:
            sname = member_name(name)
            if ctype.kind != "REF" and (ctype.cls or ctype.kind in ("SEQUENCE_OF", "SET_OF")) \
                    and sname != typ.cls:
                h.append("  struct %s {" % sname)
                h.append("    typedef %s value_type;" % ctype.cxx)
                h.append("  };")

    def index_enum(self, typ, h):
        """The e_<member> enumerators: each member's index in the descriptor."""
        if typ.members:
            h.append("  enum {")
            for i, (name, m, ctype, opt) in enumerate(typ.members):
                h.append("    e_%s = %d," % (m, i))
            h.append("  };")

    def member_tables(self, typ, what, c):
        """<cls>_<what>Infos__ and <cls>_<what>Names__: the members'
        descriptors and ASN.1 names, in member order."""
        c.append("const void* const %s_%sInfos__[] = {" % (typ.cls, what))
        for name, m, ctype, opt in typ.members:
            c.append("    %s," % self.info_expr(ctype))
        c.append("};")
        c.append("const char* const %s_%sNames__[] = {%s};" % (
            typ.cls, what, ", ".join('"%s"' % n for n, _m, _t, _o in typ.members)))

    def class_sequence(self, mod, typ, h, c, head):
        cls = typ.cls
        members = typ.members
        self.index_enum(typ, h)
        opt_ids = []
        n_opt = sum(1 for i, mm in enumerate(members) if i < typ.root_count and mm[3])
        nid = 0
        field_ids = []
        for i, (name, m, ctype, opt) in enumerate(members):
            if i < typ.root_count:
                if opt:
                    opt_ids.append((m, nid))
                    field_ids.append(nid)
                    nid += 1
                else:
                    field_ids.append(-1)
            else:
                opt_ids.append((m, n_opt + (i - typ.root_count)))
                field_ids.append(0)
        if opt_ids:
            h.append("  enum {")
            for m, oid in opt_ids:
                h.append("    o_%s = %d," % (m, oid))
            h.append("  };")
        self.inline_structs(mod, typ, h)
        for name, m, ctype, opt in members:
            self.declare_accessors(mod, ctype, m, h, choice=False)
        if members:
            self.member_tables(typ, "field", c)
            c.append("const int32_t %s_fieldIds__[] = {%s};" % (cls, ", ".join(str(x) for x in field_ids)))
            arrays = "%s_fieldInfos__, %s_fieldIds__" % (cls, cls)
            names = "%s_fieldNames__" % cls
        else:
            arrays, names = "nullptr, nullptr", "nullptr"
        c.append("const ASN1::SequenceInfo %s::theInfo = {%s, %s, %s, %d, %d, %d, nullptr, nullptr, %s};" % (
            cls, head, "true" if typ.extensible else "false", arrays, typ.root_count,
            len(members) - typ.root_count, n_opt, names))

    def class_choice(self, mod, typ, h, c, head):
        cls = typ.cls
        members = typ.members
        h.append("  %s(int selection, ASN1::AbstractData* value) : ASN1::CHOICE(&theInfo, selection, value) {}" % cls)
        self.index_enum(typ, h)
        self.inline_structs(mod, typ, h)
        for name, m, ctype, opt in members:
            self.declare_accessors(mod, ctype, m, h, choice=True)
        if members:
            self.member_tables(typ, "selection", c)
            infos, names = "%s_selectionInfos__" % cls, "%s_selectionNames__" % cls
        else:
            infos, names = "nullptr", "nullptr"
        c.append("const ASN1::ChoiceInfo %s::theInfo = {%s, %s, %s, %d, %d, nullptr, %s};" % (
            cls, head, "true" if typ.extensible else "false", infos, typ.root_count, len(members), names))

    def setter_params(self, mod, ctype):
        kind = self.setter_kind(mod, ctype)
        if kind == "int":
            return [("int v", "setValue(v)"), ("unsigned v", "setValue(v)")]
        if kind == "enum":
            return [("%s::NamedNumber v" % ctype.cxx, "setValue(v)")]
        if kind == "bool":
            return [("bool v", "setValue(v)")]
        if kind == "string":
            return [("const std::string& v", "operator=(v)")]
        return [("const %s& v" % ctype.cxx, "operator=(v)")]

    def declare_accessors(self, mod, ctype, m, h, choice):
        T = ctype.cxx
        h.append("  const %s& get_%s() const;" % (T, m))
        h.append("  %s& get_%s();" % (T, m))
        if choice:
            h.append("  %s& select_%s();" % (T, m))
        for params, _ in self.setter_params(mod, ctype):
            h.append("  void set_%s(%s);" % (m, params))

    def emit_accessors(self, mod, typ, h):
        if typ.kind not in ("SEQUENCE", "CHOICE"):
            return
        cls = typ.cls
        for name, m, ctype, opt in typ.members:
            T = ctype.cxx
            if typ.kind == "SEQUENCE":
                h.append("inline const %s& %s::get_%s() const {" % (T, cls, m))
                h.append("  return *boost::polymorphic_downcast<const %s*>(&field(e_%s));\n}" % (T, m))
                h.append("inline %s& %s::get_%s() {" % (T, cls, m))
                h.append("  return *boost::polymorphic_downcast<%s*>(&field(e_%s));\n}" % (T, m))
                for params, call in self.setter_params(mod, ctype):
                    h.append("inline void %s::set_%s(%s) { get_%s().%s; }" % (cls, m, params, m, call))
            else:
                h.append("inline const %s& %s::get_%s() const {" % (T, cls, m))
                h.append("  return *boost::polymorphic_downcast<const %s*>(getSelectedValue());\n}" % T)
                h.append("inline %s& %s::get_%s() {" % (T, cls, m))
                h.append("  return *boost::polymorphic_downcast<%s*>(getSelectedValue());\n}" % T)
                h.append("inline %s& %s::select_%s() {" % (T, cls, m))
                h.append("  return *boost::polymorphic_downcast<%s*>(select(e_%s));\n}" % (T, m))
                for params, call in self.setter_params(mod, ctype):
                    h.append("inline void %s::set_%s(%s) { select_%s().%s; }" % (cls, m, params, m, call))
        h.append("")


def main(argv):
    ap = argparse.ArgumentParser(description="ASN.1 modules to C++ descriptors and classes")
    ap.add_argument("--out-dir", required=True)
    ap.add_argument("--include-prefix", default="", help="directory prefix of generated includes, e.g. asn1/modules")
    ap.add_argument("files", nargs="+")
    args = ap.parse_args(argv)
    prefix = args.include_prefix.rstrip("/")
    prefix = prefix + "/" if prefix else ""
    try:
        modules = []
        for f in args.files:
            with open(f, encoding="utf-8") as fh:
                toks = tokenize(fh.read(), f)
            p = Parser(toks, f)
            mod = p.module()
            if p.peek() is not None:
                p.err("text after END")
            base = os.path.splitext(os.path.basename(f))[0]
            if base != mod.name:
                raise Asn1Error("%s: holds module %s; the file must be named %s.asn" % (f, mod.name, mod.name))
            modules.append(mod)
        names = [m.name for m in modules]
        if len(set(names)) != len(names):
            raise Asn1Error("a module is given twice")
        gen = Generator(modules)
        gen.prepare()
        os.makedirs(args.out_dir, exist_ok=True)
        for mod in modules:
            hdr, src = gen.generate(mod, prefix)
            for ext, text in ((".h", hdr), (".cpp", src)):
                path = os.path.join(args.out_dir, mod.name + ext)
                old = None
                if os.path.exists(path):
                    with open(path, encoding="utf-8") as fh:
                        old = fh.read()
                if old != text:
                    with open(path, "w", encoding="utf-8") as fh:
                        fh.write(text)
    except Asn1Error as e:
        print("asn1gen: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
