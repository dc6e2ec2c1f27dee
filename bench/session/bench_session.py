#!/usr/bin/env python3
"""evbctl session against evbsim boards paced at 19200 baud: 100 reads in one session beside 100
evbctl runs, four boards sending at once beside one, and the memory of a session holding 8
boards. Prints bench.sh's ROW lines (figure, reference, median and worst ratio, shown values,
target).

    bench_session.py RUNS EVBCTL EVBSIM
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

WIRE_READ_MS = 20 * 10 * 1000 / 19200 + 10 * 1000 / 19200  # a frame out and one byte back


def start_boards(evbsim, n):
    sims = [subprocess.Popen([evbsim], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            for _ in range(n)]
    return sims, [s.stdout.readline().strip() for s in sims]


def stop_boards(sims):
    for s in sims:
        s.terminate()
        s.wait()
        s.stdout.close()


def timed(args, text):
    start = time.monotonic()
    run = subprocess.run(args, input=text, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"bench_session: {' '.join(args)} exited {run.returncode}: {run.stderr.strip()}")
    return (time.monotonic() - start) * 1000


def rss_kb(evbctl, ports):
    p = subprocess.Popen([evbctl, "session", "--json"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    for i, port in enumerate(ports):
        p.stdin.write(f"open b{i} {port}\n")
    p.stdin.write("wait\n")
    p.stdin.flush()
    for _ in range(len(ports) + 1):
        p.stdout.readline()
    with open(f"/proc/{p.pid}/status") as f:
        kb = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    p.stdin.close()
    p.wait()
    p.stdout.close()
    return kb


def row(name, reference, ratios, shown, target, op="<="):
    med, worst = statistics.median(ratios), (max(ratios) if op != ">=" else min(ratios))
    print(f"ROW\t{name}\t{reference}\t{med:.3f}\t{worst:.3f}\t{med:.2f}x ({shown[0]})\t{worst:.2f}x ({shown[1]})"
          f"\t{op}\t{target}")


def main():
    runs, evbctl, evbsim = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    sims, ports = start_boards(evbsim, 8)
    try:
        with tempfile.TemporaryDirectory() as d:
            lines = os.path.join(d, "100.txt")
            with open(lines, "w") as f:
                f.writelines(f":W10{i:02X}@\n" for i in range(100))
            session, gap, separate, one, four, rss1, rss8 = [], [], [], [], [], [], []
            for _ in range(runs):
                session.append(timed([evbctl, "--port", ports[0], "session"], "read 0x1A\n" * 100))
                gap.append(timed([evbctl, "--port", ports[0], "--package-gap", "session"], "read 0x1A\n" * 100))
                separate.append(sum(timed([evbctl, "--port", ports[0], "read", "0x1A"], "") for _ in range(100)))
                one.append(timed([evbctl, "--port", ports[0], "session"], f"send {lines}\n"))
                four.append(timed([evbctl, "session"], "".join(f"open b{i} {ports[i]}\n" for i in range(4)) +
                                  "".join(f"b{i}: send {lines}\n" for i in range(4))))
                rss1.append(rss_kb(evbctl, ports[:1]))
                rss8.append(rss_kb(evbctl, ports))
    finally:
        stop_boards(sims)
    wire = 100 * WIRE_READ_MS
    row("session: 100 reads", f"{wire:.0f} ms wire", [t / wire for t in session],
        (f"{statistics.median(session):.0f} ms", f"{max(session):.0f} ms"), "1.30")
    gap_limit = 100 * (WIRE_READ_MS + 50)
    row("session: 100 reads, --package-gap", f"{gap_limit:.0f} ms wire+50ms", [t / gap_limit for t in gap],
        (f"{statistics.median(gap):.0f} ms", f"{max(gap):.0f} ms"), "0", "-")
    row("session / 100 evbctl read runs", f"{statistics.median(separate):.0f} ms runs",
        [s / r for s, r in zip(session, separate)], (f"{statistics.median(session):.0f} ms", f"{max(session):.0f} ms"),
        "0", "-")
    row("session: 4 boards send 100 lines", f"one board {statistics.median(one):.0f} ms",
        [f / o for f, o in zip(four, one)], (f"{statistics.median(four):.0f} ms", f"{max(four):.0f} ms"), "1.10")
    row("session RSS, 8 boards open", f"1 board {statistics.median(rss1) / 1024:.1f} MB",
        [e / o for e, o in zip(rss8, rss1)], (f"{statistics.median(rss8) / 1024:.1f} MB", f"{max(rss8) / 1024:.1f} MB"),
        "0", "-")


if __name__ == "__main__":
    main()
