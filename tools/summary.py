#!/usr/bin/python3
"""Adds up the unit (GoogleTest XML) and end-to-end (JUnit XML) reports into one line."""
import sys
import xml.etree.ElementTree as ET


def counts(path):
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        return None
    suites = [root] if root.tag == "testsuite" else root.iter("testsuite")
    total = failed = skipped = 0
    for s in suites:
        total += int(s.get("tests", 0))
        failed += int(s.get("failures", 0)) + int(s.get("errors", 0))
        skipped += int(s.get("skipped", 0)) + int(s.get("disabled", 0))
    return total, failed, skipped


def main(paths):
    passed = failed = skipped = 0
    missing = []
    for p in paths:
        c = counts(p)
        if c is None:
            missing.append(p)
            continue
        total, f, s = c
        passed += total - f - s
        failed += f
        skipped += s
    for p in missing:
        print(f"missing report: {p}")
    print(f"test: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
