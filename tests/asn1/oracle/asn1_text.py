"""Reader for the ASN.1 text of asn1/modules/*.asn (Python 3, standard library).

It reads the subset the protocol modules are written in: a module header with
optional AUTOMATIC TAGS, IMPORTS, and type assignments of SEQUENCE, CHOICE,
ENUMERATED (explicit values), SEQUENCE OF, SET OF, INTEGER with an optional
range, BOOLEAN, NULL, IA5String with an optional SIZE, OCTET STRING, OBJECT
IDENTIFIER and type references, with extension markers. Identifiers may
contain underscores and enumerations may repeat a value: the modules need both.

This reader is independent of the build's generator on purpose: the tests that
use it (type counts, the Erlang copy of the modules) check the text, not the
generator's view of it.
"""

import os
import re

_TOKEN = re.compile(r"""
    (?P<ws>\s+)
  | (?P<comment>--.*?(--|$))
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<punct>[{}(),;.])
  | (?P<number>-?\d+)
  | (?P<word>[A-Za-z][A-Za-z0-9_-]*)
""", re.VERBOSE | re.MULTILINE)


class ParseError(Exception):
    pass


def _tokens(text, origin):
    pos = 0
    line = 1
    out = []
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m:
            raise ParseError('%s:%d: unexpected %r' % (origin, line, text[pos:pos + 20]))
        kind = m.lastgroup
        val = m.group(kind)
        if kind not in ('ws', 'comment'):
            out.append((kind, val, line))
        line += val.count('\n')
        pos = m.end()
    return out


class Type:
    """One type: kind is one of SEQUENCE, CHOICE, ENUMERATED, SEQUENCE OF,
    SET OF, INTEGER, BOOLEAN, NULL, IA5String, OCTET STRING,
    OBJECT IDENTIFIER, or REF (a reference to a named type)."""

    def __init__(self, kind, **kw):
        self.kind = kind
        self.extensible = False
        self.root = []        # SEQUENCE/CHOICE: Component; ENUMERATED: (name, value)
        self.additions = []   # after the extension marker
        self.element = None   # SEQUENCE OF / SET OF
        self.range = None     # INTEGER (lo, hi) or IA5String SIZE (lo, hi)
        self.module = None    # REF: defining module (None: this module)
        self.name = None      # REF: referenced type name
        for k, v in kw.items():
            setattr(self, k, v)

    def __repr__(self):
        return '<Type %s>' % self.kind


class Component:
    def __init__(self, name, type_, optional):
        self.name = name
        self.type = type_
        self.optional = optional


class Module:
    def __init__(self, name):
        self.name = name
        self.imports = {}     # type name -> module name
        self.types = []       # [(name, Type)] in text order

    def type(self, name):
        for n, t in self.types:
            if n == name:
                return t
        raise KeyError('%s.%s' % (self.name, name))


class _Parser:
    def __init__(self, tokens, origin):
        self.t = tokens
        self.i = 0
        self.origin = origin

    def peek(self, k=0):
        j = self.i + k
        return self.t[j] if j < len(self.t) else ('eof', '', -1)

    def fail(self, what):
        kind, val, line = self.peek()
        raise ParseError('%s:%d: expected %s, found %r' % (self.origin, line, what, val))

    def take(self, val=None, kind=None):
        k, v, _ = self.peek()
        if (val is not None and v != val) or (kind is not None and k != kind):
            self.fail(val or kind)
        self.i += 1
        return v

    def at(self, val):
        return self.peek()[1] == val

    def module(self):
        mod = Module(self.take(kind='word'))
        self.take('DEFINITIONS')
        if self.at('AUTOMATIC'):
            self.take('AUTOMATIC')
            self.take('TAGS')
        self.take('::=')
        self.take('BEGIN')
        if self.at('IMPORTS'):
            self.take('IMPORTS')
            names = []
            while not self.at(';'):
                if self.at('FROM'):
                    self.take('FROM')
                    src = self.take(kind='word')
                    for n in names:
                        mod.imports[n] = src
                    names = []
                elif self.at(','):
                    self.take(',')
                else:
                    names.append(self.take(kind='word'))
            if names:
                self.fail('FROM')
            self.take(';')
        while not self.at('END'):
            name = self.take(kind='word')
            if not name[0].isupper():
                raise ParseError('%s: type name %s must start upper-case' % (self.origin, name))
            self.take('::=')
            mod.types.append((name, self.type_()))
        self.take('END')
        return mod

    def bounds(self):
        self.take('(')
        lo = int(self.take(kind='number'))
        self.take('..')
        hi = int(self.take(kind='number'))
        self.take(')')
        return (lo, hi)

    def type_(self):
        w = self.take(kind='word')
        if w in ('SEQUENCE', 'SET') and self.at('OF'):
            self.take('OF')
            return Type(w + ' OF', element=self.type_())
        if w in ('SEQUENCE', 'CHOICE'):
            return self.members(Type(w))
        if w == 'ENUMERATED':
            return self.enumerated()
        if w == 'INTEGER':
            t = Type('INTEGER')
            if self.at('('):
                t.range = self.bounds()
            return t
        if w == 'IA5String':
            t = Type('IA5String')
            if self.at('('):
                self.take('(')
                self.take('SIZE')
                t.range = self.bounds()
                self.take(')')
            return t
        if w in ('BOOLEAN', 'NULL'):
            return Type(w)
        if w == 'OCTET':
            self.take('STRING')
            return Type('OCTET STRING')
        if w == 'OBJECT':
            self.take('IDENTIFIER')
            return Type('OBJECT IDENTIFIER')
        if not w[0].isupper():
            self.fail('a type')
        if self.at('.'):   # Module.Type external reference
            self.take('.')
            return Type('REF', module=w, name=self.take(kind='word'))
        return Type('REF', name=w)

    def members(self, t):
        self.take('{')
        target = t.root
        while True:
            if self.at('...'):
                self.take('...')
                if t.extensible:
                    self.fail('one extension marker only')
                t.extensible = True
                target = t.additions
            else:
                name = self.take(kind='word')
                if not name[0].islower():
                    raise ParseError('%s: component %s must start lower-case' % (self.origin, name))
                ty = self.type_()
                opt = False
                if self.at('OPTIONAL'):
                    self.take('OPTIONAL')
                    opt = True
                if t.kind == 'CHOICE' and opt:
                    self.fail('no OPTIONAL in a CHOICE')
                target.append(Component(name, ty, opt))
            if self.at(','):
                self.take(',')
                continue
            self.take('}')
            return t

    def enumerated(self):
        t = Type('ENUMERATED')
        self.take('{')
        target = t.root
        while True:
            if self.at('...'):
                self.take('...')
                t.extensible = True
                target = t.additions
            else:
                name = self.take(kind='word')
                self.take('(')
                val = int(self.take(kind='number'))
                self.take(')')
                target.append((name, val))
            if self.at(','):
                self.take(',')
                continue
            self.take('}')
            return t


def parse(text, origin='<text>'):
    return _Parser(_tokens(text, origin), origin).module()


def load_dir(path):
    """Every *.asn module of a folder, as {module name: Module}."""
    mods = {}
    for f in sorted(os.listdir(path)):
        if f.endswith('.asn'):
            p = os.path.join(path, f)
            with open(p) as fh:
                m = parse(fh.read(), p)
            if m.name + '.asn' != f:
                raise ParseError('%s holds module %s' % (p, m.name))
            mods[m.name] = m
    return mods


def resolve(mods, module, t):
    """Follow references until a non-REF type; returns (module name, type name or None, Type)."""
    name = None
    while t.kind == 'REF':
        m = mods[module]
        src = t.module or m.imports.get(t.name, module)
        name = t.name
        module = src
        t = mods[module].type(name)
    return module, name, t
