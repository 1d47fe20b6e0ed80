#!/usr/bin/env python3
"""Fails when an absolute path literal appears outside the fixed-path table.

Every path the daemon names must come from platform/sysroot.h, so that the
simulated board can resolve all of them under its root. Scans C and C++
sources (code, tests, tools, benchmarks) for string literals that begin with
a top-level directory of a Linux system.
"""
import os
import re
import sys

TOP_DIRS = "bin|boot|dev|etc|home|lib|lib64|media|mnt|opt|proc|root|run|sbin|srv|sys|sim|tmp|usr|var"
LITERAL = re.compile(r'"/(?:%s)(?:/|")' % TOP_DIRS)
ALLOWED = {os.path.join("platform", "sysroot.h")}
SKIP_DIRS = {".git", "build", "build-asan", "build-ppc", "build-fuzz"}
SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")


def strip_comments(text):
    # Paths quoted in comments are documentation, not opens.
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def main(root):
    bad = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if d not in SKIP_DIRS and not d.startswith("build")]
        for name in filenames:
            if not name.endswith(SUFFIXES):
                continue
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root)
            if rel in ALLOWED:
                continue
            with open(full, encoding="utf-8", errors="replace") as f:
                text = strip_comments(f.read())
            for lineno, line in enumerate(text.splitlines(), 1):
                if LITERAL.search(line):
                    bad.append("%s:%d: %s" % (rel, lineno, line.strip()))
    for b in bad:
        print(b)
    if bad:
        print("absolute path literals outside platform/sysroot.h: %d" % len(bad))
        return 1
    print("no absolute path literal outside platform/sysroot.h")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
