#!/usr/bin/env python3
"""A test station: sends a preset to every board at once, compares each board with a golden
snapshot, prints a pass/fail table and exits 1 when any board fails.

    station.py --preset preset.txt --golden golden.txt /dev/ttyUSB0 /dev/ttyUSB1 \\
               rfc2217://rack:4001 rfc2217://rack:4002
"""

import argparse
import os
import sys
import threading

# Beside an installed evbctl.py (share/evbconsole/python/examples) or with PYTHONPATH set.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from evbctl import EvbError, Session  # noqa: E402


def check(board, preset, golden, results):
    try:
        board.send(preset)
        differ = board.diff(golden)
        results[board.name] = ("pass", "") if not differ else (
            "FAIL", ", ".join(f"0x{d['reg']:02X}: board 0x{d['board']:02X}, golden 0x{d['file']:02X}"
                              for d in differ))
    except EvbError as e:
        results[board.name] = ("FAIL", f"{e.message} (exit {e.exit})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preset", required=True, help="the configuration file sent to every board")
    parser.add_argument("--golden", required=True, help="the snapshot every board must match")
    parser.add_argument("ports", nargs="+", help="the boards' ports")
    args = parser.parse_args()

    results = {}
    with Session() as session:
        boards = []
        for i, port in enumerate(args.ports, 1):
            name = f"board{i}"
            try:
                boards.append(session.board(name, port))
            except EvbError as e:
                results[name] = ("FAIL", f"{e.message} (exit {e.exit})")
        threads = [threading.Thread(target=check, args=(b, args.preset, args.golden, results)) for b in boards]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    print(f"{'board':8} {'port':24} result")
    for i, port in enumerate(args.ports, 1):
        verdict, detail = results[f"board{i}"]
        print(f"board{i:<3} {port:24} {verdict}{'  ' + detail if detail else ''}")
    failed = sum(1 for verdict, _ in results.values() if verdict != "pass")
    print(f"{len(args.ports) - failed} of {len(args.ports)} boards pass")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
