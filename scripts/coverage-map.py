#!/usr/bin/env python3
"""Which product lines each test executes, and what deleting tests would leave unexecuted.

  scripts/coverage-map.py build [BUILD_DIR]   runs every ctest test alone in a coverage tree made
                                              by scripts/coverage.sh (default build-cov/) and
                                              writes BUILD_DIR/coverage-map.json
  scripts/coverage-map.py unique [BUILD_DIR]  each test with the number of lines only it executes
  scripts/coverage-map.py lost REGEX...       the lines no test would execute once the tests whose
                                              names match any REGEX are gone (with their source)

A test that executes no line of its own may still be the only one that checks a result: read
it before deleting it. Building the map takes about as long as the suite run test by test.
"""
import collections
import concurrent.futures
import glob
import json
import os
import re
import subprocess
import sys

FOLDERS = ("serial", "protocol", "console", "windows", "app", "sim", "cli")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def test_names(build):
    listing = subprocess.run(["ctest", "--test-dir", build, "-N"], capture_output=True, text=True).stdout
    return [l.split(": ", 1)[1].strip() for l in listing.splitlines()
            if l.strip().startswith("Test") and ": " in l]


def product_counters(build):
    return [g for f in FOLDERS for g in glob.glob(f"{build}/{f}/**/*.gcda", recursive=True)]


def executed_lines(counters):
    """gcov's JSON for one object folder: {source file: set of executed lines}."""
    folder = os.path.dirname(counters[0])
    out = subprocess.run(["gcov", "--json-format", "--stdout", "--object-directory", folder] + counters,
                         capture_output=True, cwd=ROOT).stdout
    lines = collections.defaultdict(set)
    for record in out.splitlines():
        if not record.strip():
            continue
        for f in json.loads(record)["files"]:
            name = os.path.relpath(os.path.join(ROOT, f["file"]), ROOT)
            if name.split("/")[0] in FOLDERS:
                lines[name].update(l["line_number"] for l in f["lines"] if l["count"] > 0)
    return lines


def build_map(build):
    if not glob.glob(f"{build}/serial/**/*.gcno", recursive=True):
        sys.exit(f"{build}: no coverage tree here; run scripts/coverage.sh first")
    path = os.path.join(build, "coverage-map.json")
    result = json.load(open(path)) if os.path.exists(path) else {}
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for name in test_names(build):
        if name in result:
            continue
        for counter in product_counters(build):
            os.remove(counter)
        run = subprocess.run(["ctest", "--test-dir", build, "-R", "^" + re.escape(name) + "$"],
                             capture_output=True, env=env)
        by_folder = collections.defaultdict(list)
        for counter in product_counters(build):
            by_folder[os.path.dirname(counter)].append(counter)
        lines = collections.defaultdict(set)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            for part in pool.map(executed_lines, by_folder.values()):
                for f, ls in part.items():
                    lines[f] |= ls
        result[name] = {"passed": run.returncode == 0, "lines": {f: sorted(ls) for f, ls in lines.items()}}
        json.dump(result, open(path, "w"))  # a run cut short keeps what it measured
        print(f"{sum(map(len, lines.values())):6} {name}", flush=True)


def load(build):
    path = os.path.join(build, "coverage-map.json")
    if not os.path.exists(path):
        sys.exit(f"{path}: no map yet; run scripts/coverage-map.py build first")
    data = json.load(open(path))
    return {name.split("  #")[0]: {(f, l) for f, ls in v["lines"].items() for l in ls}
            for name, v in data.items()}


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("build", "unique", "lost"):
        sys.exit(__doc__)
    command = sys.argv[1]
    build = os.path.abspath(sys.argv[2] if command != "lost" and len(sys.argv) > 2 else "build-cov")
    if command == "build":
        return build_map(build)
    tests = load(build)
    if command == "unique":
        count = collections.Counter(x for lines in tests.values() for x in lines)
        for name, lines in sorted(tests.items(), key=lambda kv: sum(count[x] == 1 for x in kv[1])):
            print(f"{sum(count[x] == 1 for x in lines):5} {name}")
        return
    patterns = [re.compile(p) for p in sys.argv[2:]]
    gone = {n for n in tests if any(p.search(n) for p in patterns)}
    kept = set().union(*(lines for n, lines in tests.items() if n not in gone))
    lost = sorted(set().union(*(tests[n] for n in gone)) - kept)
    print(f"# {len(gone)} tests deleted, {len(lost)} product lines no longer executed")
    sources = {}
    for f, l in lost:
        sources.setdefault(f, open(os.path.join(ROOT, f)).read().split("\n"))
        print(f"{f}:{l}: {sources[f][l - 1].strip()}")


if __name__ == "__main__":
    main()
