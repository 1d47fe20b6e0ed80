#!/usr/bin/env python3
"""asn1gen: what it refuses, and the numbers it works out itself."""
import os
import subprocess
import sys
import tempfile
import unittest

GEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "asn1gen", "asn1gen.py")


def run(name, text):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, name + ".asn")
        with open(path, "w") as f:
            f.write(text)
        p = subprocess.run([sys.executable, GEN, "--out-dir", d, path], capture_output=True, text=True)
        out = {}
        for ext in (".h", ".cpp"):
            fp = os.path.join(d, name + ext)
            if os.path.exists(fp):
                with open(fp) as f:
                    out[ext] = f.read()
        return p.returncode, p.stderr, out


def module(body):
    return "M DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n" + body + "\nEND\n"


class Refusals(unittest.TestCase):
    def test_default_is_refused_with_file_and_line(self):
        rc, err, _ = run("M", module("A ::= SEQUENCE {\n  a INTEGER DEFAULT 1\n}"))
        self.assertEqual(1, rc)
        self.assertRegex(err, r"M\.asn:3: DEFAULT is not supported")

    def test_file_must_be_named_after_its_module(self):
        rc, err, _ = run("Other", module("A ::= NULL"))
        self.assertEqual(1, rc)
        self.assertIn("must be named M.asn", err)

    def test_unknown_type_and_missing_import(self):
        rc, err, _ = run("M", module("A ::= SEQUENCE { b B }"))
        self.assertEqual(1, rc)
        self.assertIn("unknown type B", err)
        rc, err, _ = run("M", "M DEFINITIONS ::= BEGIN IMPORTS X FROM N; A ::= X END")
        self.assertEqual(1, rc)
        self.assertIn("module N", err)

    def test_groups_and_second_markers_are_refused(self):
        self.assertEqual(1, run("M", module("A ::= SEQUENCE { a NULL, ..., [[ b NULL ]] }"))[0])
        self.assertEqual(1, run("M", module("A ::= CHOICE { a NULL, ..., b NULL, ..., c NULL }"))[0])


class Derived(unittest.TestCase):
    def test_unnumbered_enumerators_take_the_smallest_free_value(self):
        rc, err, out = run("M", module("E ::= ENUMERATED { a, b(0), c, d(5), e, ..., f }"))
        self.assertEqual(0, rc, err)
        for pair in ('{1, "a"}', '{0, "b"}', '{2, "c"}', '{5, "d"}', '{3, "e"}', '{4, "f"}'):
            self.assertIn(pair, out[".cpp"])
        # Largest root value 5, extensible, six names.
        self.assertIn("true, 5, E_enum_names__, 6}", out[".cpp"])

    def test_permitted_alphabet_widths(self):
        rc, err, out = run("M", module('D ::= IA5String (SIZE (1..8)) (FROM ("0".."9" | "*#"))'))
        self.assertEqual(0, rc, err)
        # 12 characters: 4 bits each in both variants; codes up to '9' need 6 bits.
        self.assertIn("D_alphabet__, 12, 6, 4, 4}", out[".cpp"])
        self.assertIn('"\\x23\\x2a\\x30', out[".cpp"])

    def test_ranges_and_value_references(self):
        rc, err, out = run("M", module("top INTEGER ::= 4095\nT ::= SEQUENCE { a INTEGER (0..top), "
                                       "b INTEGER (-128..127), c INTEGER (0..MAX), d INTEGER (0..7, ...) }"))
        self.assertEqual(0, rc, err)
        h = out[".h"]
        self.assertIn("Constrained_INTEGER<ASN1::FixedConstraint, 0, 4095u>", h)
        self.assertIn("Constrained_INTEGER<ASN1::FixedConstraint, -128, 127u>", h)
        self.assertIn("Constrained_INTEGER<ASN1::PartiallyConstrained, 0, 4294967295u>", h)
        self.assertIn("Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 7u>", h)
        self.assertIn("const int top = 4095;", h)

    def test_keywords_and_dashes_in_names(self):
        rc, err, out = run("M", module("E ::= ENUMERATED { delete, not-use(-1) }\n"
                                       "S ::= SEQUENCE { state-channel INTEGER, class E }"))
        self.assertEqual(0, rc, err)
        h = out[".h"]
        self.assertIn("delete_ = 0,", h)
        self.assertIn("not_use = -1,", h)
        self.assertIn("void set_state_channel(int v);", h)
        self.assertIn("void set_class(E::NamedNumber v);", h)


if __name__ == "__main__":
    unittest.main()
