#!/usr/bin/env python3
"""scripts/skipped_tests on ctest JUnit reports: every test that did not run
is named with its reason and fails the check, unless its reason is expected
or, but with --strict, says that the machine refused what it needs."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "skipped_tests")

PASSED = ('<testcase name="Ok.Runs" classname="Ok.Runs" time="0.1" status="run">'
          '<system-out>[       OK ] Ok.Runs\n</system-out></testcase>')
GTEST_SKIP = ('<testcase name="Rtp.Capture" classname="Rtp.Capture" time="0.2" status="notrun">'
              '<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/><system-out>[ RUN      ] Rtp.Capture\n'
              'tests/e2e/rtp_slot_test.cpp:120: Skipped\ntshark not installed: the RTCP packets are not read back\n'
              '[  SKIPPED ] Rtp.Capture (20 ms)\n</system-out></testcase>')
QEMU_SKIP = ('<testcase name="T38.Child" classname="T38.Child" time="0.2" status="notrun">'
             '<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/><system-out>x.cpp:89: Skipped\n'
             'qemu-user: an emulated process cannot start a program of the target\n[  SKIPPED ] T38.Child\n'
             '</system-out></testcase>')
SCRIPT_SKIP = ('<testcase name="r2s_tshark" classname="r2s_tshark" time="0.1" status="notrun">'
               '<skipped message="SKIP_RETURN_CODE=77"/><system-out>checking\ntshark is not installed\n'
               '</system-out></testcase>')
# A table's skip naming the reasons of the rows it passed over.
PASSED_OVER = ('<testcase name="Fax.Table" classname="Fax.Table" time="0.2" status="notrun">'
               '<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/><system-out>x.cpp:532: Skipped\n'
               '%s\n[  SKIPPED ] Fax.Table\n</system-out></testcase>')
QEMU_ROWS = 'qemu-user: the emulator refuses it: rows passed over: "a"; "b"'
NICE_ROWS = 'no CAP_SYS_NICE: the daemon could not be put back: rows passed over: "c"'
DISABLED = ('<testcase name="Old.Case" classname="Old.Case" time="0" status="disabled">'
            '<system-out>Disabled</system-out></testcase>')
FAILED = ('<testcase name="Bad.Case" classname="Bad.Case" time="0.1" status="fail">'
          '<failure message="Failed"/><system-out>x.cpp:1: Failure\n</system-out></testcase>')


def report(*cases):
    f = tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False)
    f.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuite name="t" tests="%d">\n%s\n</testsuite>\n'
            % (len(cases), "\n".join(cases)))
    f.close()
    return f.name


def check(path, *options):
    r = subprocess.run([sys.executable, SCRIPT, path, "--build", "build"] + list(options),
                       capture_output=True, text=True)
    os.unlink(path) if os.path.exists(path) else None
    return r.returncode, r.stdout + r.stderr


class SkippedTests(unittest.TestCase):
    def test_a_run_where_everything_ran_passes_failures_are_ctest_s_to_report(self):
        code, out = check(report(PASSED, FAILED))
        self.assertEqual(code, 0, out)
        self.assertNotIn("SKIPPED", out)

    def test_a_skipped_case_is_named_with_its_reason_and_fails(self):
        code, out = check(report(PASSED, GTEST_SKIP))
        self.assertEqual(code, 1)
        self.assertIn("SKIPPED Rtp.Capture: tshark not installed: the RTCP packets are not read back", out)
        self.assertIn("1 tests did not run", out)

    def test_a_script_s_skip_and_a_disabled_case_fail_too(self):
        code, out = check(report(SCRIPT_SKIP, DISABLED))
        self.assertEqual(code, 1)
        self.assertIn("SKIPPED r2s_tshark: checking tshark is not installed", out)
        self.assertIn("SKIPPED Old.Case: disabled", out)

    def test_an_expected_reason_passes_and_is_counted_but_others_still_fail(self):
        code, out = check(report(QEMU_SKIP), "--expect", "qemu-user:")
        self.assertEqual(code, 0, out)
        self.assertIn("1 tests skipped as expected (qemu-user:)", out)
        code, out = check(report(QEMU_SKIP, GTEST_SKIP), "--expect", "qemu-user:")
        self.assertEqual(code, 1)
        self.assertIn("SKIPPED Rtp.Capture", out)
        self.assertNotIn("SKIPPED T38.Child", out)

    def test_a_skip_naming_several_reasons_is_expected_only_when_every_one_is(self):
        for reasons, code in [((QEMU_ROWS,), 0), ((QEMU_ROWS, QEMU_ROWS), 0), ((QEMU_ROWS, NICE_ROWS), 1),
                              ((NICE_ROWS, QEMU_ROWS), 1)]:
            with self.subTest(reasons=reasons):
                got, out = check(report(PASSED_OVER % "; and ".join(reasons)), "--expect", "qemu-user:")
                self.assertEqual(got, code, out)
                if code:
                    self.assertIn("SKIPPED Fax.Table: " + "; and ".join(reasons), out)

    def test_a_skip_fails_by_its_kind_and_a_refusal_only_when_strict(self):
        refused_ns = "refused (privileges): unshare: Operation not permitted"
        refused_core = 'refused (core dumps): core_pattern hands dumps to a collector ("|/bin/true")'
        for why, plain, strict in [
                ("missing: tshark: the tap is not read back", 1, 1),
                (refused_ns, 0, 1),
                (refused_core, 0, 1),
                ("qemu-user: the emulator refuses it", 0, 0),
                ("tshark not installed", 1, 1),  # no kind
                (refused_ns + ': rows passed over: "a"; and missing: tshark: rows passed over: "b"', 1, 1),
                ('qemu-user: x: rows passed over: "a"; and ' + refused_ns + ': rows passed over: "b"', 0, 1)]:
            for options, code in [((), plain), (("--strict",), strict)]:
                with self.subTest(why=why, options=options):
                    got, out = check(report(PASSED, PASSED_OVER % why), "--expect", "qemu-user:", *options)
                    self.assertEqual(got, code, out)
                    self.assertEqual("SKIPPED Fax.Table: " + why in out, bool(code), out)
        # A script's skip: the line that gives its kind, wherever it stands.
        script = SCRIPT_SKIP.replace("tshark is not installed\n", "missing: tshark: skipped\ndone\n")
        got, out = check(report(script))
        self.assertIn("SKIPPED r2s_tshark: missing: tshark: skipped", out)

    def test_the_summary_groups_what_the_machine_refused_with_what_would_let_it_run(self):
        refused_ns = "refused (privileges): unshare: Operation not permitted"
        one = report(PASSED_OVER % refused_ns, GTEST_SKIP, QEMU_SKIP)
        two = report(PASSED_OVER % refused_ns, PASSED_OVER.replace("Fax.Table", "Core.Row") %
                     "refused (core dumps): a core limit of 0")
        r = subprocess.run([sys.executable, SCRIPT, "--summary", "build=" + one, "build-asan=" + two,
                            "build-ppc=/nonexistent.xml", "--expect", "qemu-user:"], capture_output=True, text=True)
        os.unlink(one)
        os.unlink(two)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("3 tests did not run, as this machine refused", r.stdout)
        self.assertIn("  2 x " + refused_ns + "\n      build: Fax.Table\n      build-asan: Fax.Table\n", r.stdout)
        self.assertIn("  1 x refused (core dumps): a core limit of 0\n      build-asan: Core.Row\n", r.stdout)
        self.assertIn("    refused (privileges): root", r.stdout)
        self.assertIn("    refused (core dumps): a kernel.core_pattern that writes files", r.stdout)
        self.assertNotIn("Rtp.Capture", r.stdout)  # a missing tool fails its build instead
        self.assertNotIn("T38.Child", r.stdout)
        none = report(PASSED)
        quiet = subprocess.run([sys.executable, SCRIPT, "--summary", "build=" + none], capture_output=True, text=True)
        os.unlink(none)
        self.assertEqual((quiet.returncode, quiet.stdout), (0, ""))

    def test_a_missing_or_broken_report_fails(self):
        code, out = check("/nonexistent/ctest.xml")
        self.assertEqual(code, 1)
        broken = tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False)
        broken.write("<testsuite><testcase")
        broken.close()
        code, out = check(broken.name)
        self.assertEqual(code, 1)
        self.assertIn("no test report", out)


if __name__ == "__main__":
    unittest.main()
