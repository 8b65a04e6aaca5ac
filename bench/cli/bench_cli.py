#!/usr/bin/python3
"""eload-cli polling several simulated modules on one line, beside the line's
limit and beside mbpoll polling one module.

For each baud rate and module count, against a fresh eload-sim:
  turnaround  a raw master of our own sends the read of registers 0..17 and
              times the reply; turnaround = exchange - the reply's bytes on the
              wire. The line's limit per poll is then (8 + 41) bytes x 10 bits
              at the baud rate plus that turnaround.
  throughput  `eload-cli watch --json --interval 1ms`: the line asked for more
              than it carries; polls per second against the limit.
  period      `eload-cli watch --json --interval 500ms`: each module's period,
              from each JSON line's "time" (stamped by eload-cli after each
              reply, in milliseconds) and, as a check, from when the line
              arrives here; against the interval the program uses (its
              warning names it when it is not 500 ms).
Per baud rate, mbpoll against a fresh one-module simulator, its period from
when each poll's last value line arrives, and its fastest rate (-l 11).
Beside each 500 ms run, a process of its own sleeps to a 10 ms grid and
counts how late it wakes: how far the machine itself holds a timer up.
With --realtime this driver and all it starts (simulator, eload-cli, mbpoll,
the sleeper) run under SCHED_FIFO priority 1, so that other work on a shared
machine cannot hold them up: what remains is the programs' own doing.
With --busy N the opposite: N processes that do nothing but spin run beside
every eload-cli and mbpoll run (started after the turnaround is timed on the
quiet line), so that the programs share the machine with work that never
waits; the simulator then runs under SCHED_FIFO 1 (root), as a real line and
module do not slow down when the PC is busy. The throughput also gives its
lowest 5-second window, which shows whether the pace follows the line all
through the run. --cli PATH
adds another eload-cli (an earlier build, say) to each throughput case, in
the same run; --throughput-only leaves out the 500 ms period runs. These runs
record nothing into the test library (--no-db, where the program knows it).

--library: the poll period while `watch` records into the test library. For
each module count (at the first baud rate), the same `watch --json
--interval 500ms` runs --rounds times with --no-db and with --db on a SQLite
file of its own (and with --postgres, into that PostgreSQL database),
alternately, each with the sleeper beside it; per run each
module's period (JSON time, and arrival here), how long the watch took from
SIGINT to its exit (the writer's stop included), and the replies the library
holds against the replies the watch printed.

usage: bench_cli.py BUILD_DIR [--seconds S] [--fast-seconds S]
                    [--modules 1,4,6,8] [--bauds 9600,115200] [--json FILE]
                    [--realtime | --busy N] [--cli LABEL=PATH]... [--throughput-only]
       bench_cli.py BUILD_DIR --library [--rounds N] [--seconds S] [--modules 1,4]
                    [--postgres URL]
                    [--bauds 9600] [--json FILE] [--realtime | --busy N]
       bench_cli.py --table FILE.json...   the tables of earlier runs again
"""

import argparse
import datetime
import json
import os
import re
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time

REQUEST_BYTES, REPLY_BYTES, BITS = 8, 41, 10
READ_COUNT = 18


def char_ms(baud):
    return BITS * 1000.0 / baud


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def p99(values):
    """The 99th percentile, nearest rank (with 100 values: the largest but one)."""
    s = sorted(values)
    return s[max(0, -(-99 * len(s) // 100) - 1)] if s else float("nan")


def realtime():
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))


class Simulator:
    """eload-sim on a pty behind a link in a folder of its own. `hardware`:
    under SCHED_FIFO, so that, like a real line and module, it does not slow
    down when the machine is busy."""

    def __init__(self, build, folder, modules, baud, hardware=False):
        self.link = os.path.join(folder, "bus-%d-%d" % (modules, baud))
        self.proc = subprocess.Popen(
            [os.path.join(build, "sim", "eload-sim"), "--link", self.link,
             "--modules", str(modules), "--baud", str(baud)],
            stdout=subprocess.PIPE, text=True, preexec_fn=realtime if hardware else None)
        self.proc.stdout.readline()  # the pty's path: it is ready

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(10)


class Lines:
    """A child's stdout, each line with the monotonic time it arrived."""

    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     bufsize=0)
        self.lines, self.stderr = [], b""
        self.reader = threading.Thread(target=self._read)
        self.reader.start()

    def _read(self):
        pending = b""
        while True:
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            now = time.monotonic()
            if not chunk:
                return
            pending += chunk
            *whole, pending = pending.split(b"\n")
            self.lines += [(now, line.decode()) for line in whole]

    def end(self, seconds):
        time.sleep(seconds)
        self.proc.send_signal(signal.SIGINT)
        signalled = time.monotonic()
        self.proc.wait(90)  # what it says on stderr is a line or two: the pipe holds it
        self.exit_s = time.monotonic() - signalled
        self.reader.join()
        self.stderr = self.proc.stderr.read()
        return self.proc.returncode


def lateness(seconds):
    """Wakes every 10 ms for `seconds`; prints its p99 and largest lateness in ms."""
    late, due = [], time.monotonic()
    end = due + seconds
    while due < end:
        due += 0.01
        time.sleep(max(0.0, due - time.monotonic()))
        late.append((time.monotonic() - due) * 1000)
    print(json.dumps({"p99_ms": p99(late), "max_ms": max(late)}))


def turnaround_ms(link, baud, modules, count=40):
    """Median of (exchange - reply bytes on the wire) over `count` reads, round robin."""
    fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
    try:
        attrs = termios.tcgetattr(fd)
        attrs[0] = attrs[1] = attrs[3] = 0  # raw: no input, output or local processing
        attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
        speed = getattr(termios, "B%d" % baud)
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(fd, termios.TCSANOW, attrs)
        samples = []
        for k in range(count):
            address = 1 + k % modules
            frame = bytes([address, 3, 0, 0, 0, READ_COUNT])
            start = time.monotonic()
            os.write(fd, frame + crc16(frame))
            got = b""
            while len(got) < REPLY_BYTES:
                if not select.select([fd], [], [], 1.0)[0]:
                    raise RuntimeError("no reply from address %d at %d Bd" % (address, baud))
                got += os.read(fd, 256)
            took = (time.monotonic() - start) * 1000
            if crc16(got[:-2]) != got[-2:]:
                raise RuntimeError("bad CRC from address %d" % address)
            samples.append(took - REPLY_BYTES * char_ms(baud))
            time.sleep(0.02)
        return statistics.median(samples)
    finally:
        os.close(fd)


def replies(lines):
    """(arrival s, JSON time s, address) of every reading, in order."""
    out = []
    for arrived, text in lines:
        obj = json.loads(text)
        if "voltage_V" in obj:
            stamp = datetime.datetime.fromisoformat(obj["time"].replace("Z", "+00:00"))
            out.append((arrived, stamp.timestamp(), obj["address"]))
    return out


def used_interval(stderr, wanted):
    m = re.search(r"every (\d+) ms instead", stderr)
    return int(m.group(1)) if m else wanted


def library_off(cli):
    """--no-db for a build that records into the test library; nothing for older ones."""
    helptext = subprocess.run([cli, "--help"], capture_output=True, text=True).stdout
    return ["--no-db"] if "--no-db" in helptext else []


def watch(cli, link, baud, modules, interval, seconds, extra=None, run_out=None):
    argv = [cli, "--port", link, "--baud",
            str(baud), "--address", "1-%d" % modules, "watch", "--json", "--interval",
            "%dms" % interval] + (library_off(cli) if extra is None else extra)
    run = Lines(argv)
    status = run.end(seconds)
    stderr = run.stderr.decode()
    got = replies(run.lines)
    failures = sum(1 for _, t in run.lines if '"error"' in t)
    if run_out is not None:
        run_out["exit_s"] = run.exit_s
    return status, stderr, got, failures


def period_figures(periods_ms, interval):
    dev = [abs(p - interval) for p in periods_ms]
    return {"n": len(periods_ms), "median_ms": statistics.median(periods_ms),
            "p99_dev_ms": p99(dev), "max_dev_ms": max(dev)}


def module_periods(got, modules, interval):
    """Per module: figures from the arrival times and from the JSON times."""
    result = {}
    for a in range(1, modules + 1):
        mine = [r for r in got if r[2] == a][1:]  # the first reply is the start's probe
        arrived = [(y[0] - x[0]) * 1000 for x, y in zip(mine, mine[1:])]
        stamped = [(y[1] - x[1]) * 1000 for x, y in zip(mine, mine[1:])]
        result[a] = {"arrival": period_figures(arrived, interval),
                     "json_time": period_figures(stamped, interval)}
    return result


def rate(times):
    """Polls per second between the first and the last of `times`."""
    return (len(times) - 1) / (times[-1] - times[0]) if len(times) > 1 else float("nan")


def lowest_window_rate(times, window=5.0):
    """The fewest polls per second in any whole `window` seconds of the run."""
    if len(times) < 2 or times[-1] - times[0] < window:
        return float("nan")
    counts, start = [], times[0]
    while start + window <= times[-1]:
        counts.append(sum(1 for t in times if start <= t < start + window))
        start += window
    return min(counts) / window


class Busy:
    """N processes that spin without end, while the `with` block lasts."""

    def __init__(self, count):
        self.count, self.procs = count, []

    def __enter__(self):
        self.procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                      for _ in range(self.count)]
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            p.kill()
            p.wait()


def mbpoll(link, baud, pause_ms, seconds):
    argv = ["stdbuf", "-oL", "mbpoll", "-m", "rtu", "-b", str(baud), "-P", "none", "-a", "1",
            "-r", "1", "-c", str(READ_COUNT), "-t", "4:hex", "-l", str(pause_ms), link]
    run = Lines(argv)
    run.end(seconds)
    done = [t for t, text in run.lines if text.startswith("[%d]:" % READ_COUNT)]
    return done


def throughput(cli, link, baud, n, seconds):
    """`watch --interval 1ms`: polls per second after the first round, and in
    the slowest 5 seconds."""
    status, stderr, got, failures = watch(cli, link, baud, n, 1, seconds)
    times = [r[0] for r in got[n:]]
    return {"status": status, "warning": stderr.strip(), "failures": failures,
            "polls_per_s": rate(times), "lowest_5s_polls_per_s": lowest_window_rate(times)}


def bench_baud(build, folder, baud, module_counts, seconds, fast_seconds, log, busy=0,
               others=(), throughput_only=False):
    rows = []
    cli = os.path.join(build, "src", "cli", "eload-cli")
    for n in module_counts:
        sim = Simulator(build, folder, n, baud, busy > 0)
        try:
            load_before = os.getloadavg()[0]
            turn = turnaround_ms(sim.link, baud, n)
            limit_ms = (REQUEST_BYTES + REPLY_BYTES) * char_ms(baud) + turn
            with Busy(busy):
                fast = throughput(cli, sim.link, baud, n, fast_seconds)
                compared = {label: throughput(path, sim.link, baud, n, fast_seconds)
                            for label, path in others}
                row = {"baud": baud, "modules": n, "busy": busy, "turnaround_ms": turn,
                       "limit_poll_ms": limit_ms, "limit_polls_per_s": 1000 / limit_ms,
                       "fast": fast, "compared": compared}
                if not throughput_only:
                    probe = subprocess.Popen([sys.executable, __file__, "--lateness",
                                              str(seconds)], stdout=subprocess.PIPE)
                    status, stderr, got, failures = watch(cli, sim.link, baud, n, 500, seconds)
                    wake = json.loads(probe.communicate()[0])
                    interval = used_interval(stderr, 500)
                    row["period"] = {"status": status, "warning": stderr.strip(),
                                     "failures": failures, "interval_ms": interval,
                                     "polls_per_s": rate([r[0] for r in got[n:]]),
                                     "modules": module_periods(got, n, interval),
                                     "wake_late": wake}
            row["load"] = [load_before, os.getloadavg()[0]]
        finally:
            sim.stop()
        rows.append(row)
        log(row)
    sim = Simulator(build, folder, 1, baud, busy > 0)
    try:
        load_before = os.getloadavg()[0]
        with Busy(busy):
            slow = [] if throughput_only else mbpoll(sim.link, baud, 500, seconds)
            fast = mbpoll(sim.link, baud, 11, fast_seconds)
    finally:
        sim.stop()
    ref = {"baud": baud, "busy": busy,
           "mbpoll": period_figures([(b - a) * 1000 for a, b in zip(slow, slow[1:])], 500)
           if slow else None,
           "mbpoll_fast_polls_per_s": rate(fast),
           "mbpoll_fast_lowest_5s_polls_per_s": lowest_window_rate(fast),
           "load": [load_before, os.getloadavg()[0]]}
    log(ref)
    return rows, ref


def library_replies(cli, db):
    """Replies the library holds, over all its tests."""
    out = subprocess.run([cli, "tests", "--db", db, "list", "--json"], capture_output=True,
                         text=True, check=True).stdout
    return sum(json.loads(line)["summary"]["samples"] for line in out.splitlines() if line)


def bench_library(build, folder, baud, module_counts, seconds, rounds, log, busy=0,
                  postgres=None):
    """The same watch with --no-db and with --db, alternately, `rounds` times each;
    with `postgres` (a URL) a third run into that database."""
    cli = os.path.join(build, "src", "cli", "eload-cli")
    labels = ("no-db", "sqlite") + (("postgresql",) if postgres else ())
    rows = []
    for n in module_counts:
        sim = Simulator(build, folder, n, baud, busy > 0)
        try:
            with Busy(busy):
                for k in range(rounds):
                    for label in labels:
                        db = postgres if label == "postgresql" else \
                            os.path.join(folder, "lib-%d-%d.sqlite" % (n, k))
                        # The load on, in every run alike: only a discharge is a test
                        # of the library, an idle module's replies are not stored.
                        extra = ["--load-on"] + (["--no-db"] if label == "no-db" else ["--db", db])
                        # One PostgreSQL database for every run: count what this one adds.
                        before = library_replies(cli, db) if label == "postgresql" else 0
                        probe = subprocess.Popen([sys.executable, __file__, "--lateness",
                                                  str(seconds)], stdout=subprocess.PIPE)
                        timing = {}
                        status, stderr, got, failures = watch(cli, sim.link, baud, n, 500,
                                                              seconds, extra, timing)
                        wake = json.loads(probe.communicate()[0])
                        row = {"library": label, "baud": baud, "modules": n, "round": k + 1,
                               "busy": busy, "status": status, "warning": stderr.strip(),
                               "failures": failures, "replies": len(got),
                               "exit_s": timing["exit_s"],
                               "stored": library_replies(cli, db) - before
                               if label != "no-db" else None,
                               "modules_periods": module_periods(got, n, 500),
                               "wake_late": wake, "load": os.getloadavg()[0]}
                        rows.append(row)
                        log(row)
        finally:
            sim.stop()
    return rows


def print_library_row(row):
    worst = max(row["modules_periods"].values(), key=lambda m: m["json_time"]["max_dev_ms"])
    medians = [m["json_time"]["median_ms"] for m in row["modules_periods"].values()]
    print("%6d Bd %d modules, %-6s round %d: %d replies%s, period median %.0f-%.0f ms, worst "
          "module p99 dev %.0f ms, max dev %.0f ms (arrival p99 %.2f, max %.2f); exit after "
          "SIGINT %.2f s; status %d, %d failed; sleeper p99 %.2f / max %.2f ms; load %.2f%s" %
          (row["baud"], row["modules"], row["library"], row["round"], row["replies"],
           ", %d stored" % row["stored"] if row["stored"] is not None else "", min(medians),
           max(medians), worst["json_time"]["p99_dev_ms"], worst["json_time"]["max_dev_ms"],
           worst["arrival"]["p99_dev_ms"], worst["arrival"]["max_dev_ms"], row["exit_s"],
           row["status"], row["failures"], row["wake_late"]["p99_ms"], row["wake_late"]["max_ms"],
           row["load"], "; " + row["warning"] if row["warning"] else ""), flush=True)


def library_table(rows):
    print("| Bd | modules | round | library | replies (stored) | period median | p99 / max "
          "deviation, worst module (JSON time) | p99 / max deviation, arrival | exit after "
          "SIGINT | a sleeper's lateness, p99 / max | load |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for row in rows:
        periods = row["modules_periods"].values()
        medians = [m["json_time"]["median_ms"] for m in periods]
        worst = max(periods, key=lambda m: m["json_time"]["max_dev_ms"])
        worst_arrival = max(periods, key=lambda m: m["arrival"]["max_dev_ms"])
        print("| %d | %d | %d | %s | %d%s | %s | %.0f / %.0f ms | %.2f / %.2f ms | %.2f s | "
              "%.2f / %.2f ms | %.1f |" % (
                  row["baud"], row["modules"], row["round"], row["library"], row["replies"],
                  " (%d)" % row["stored"] if row["stored"] is not None else "",
                  "%.0f ms" % medians[0] if min(medians) == max(medians) else
                  "%.0f-%.0f ms" % (min(medians), max(medians)),
                  worst["json_time"]["p99_dev_ms"], worst["json_time"]["max_dev_ms"],
                  worst_arrival["arrival"]["p99_dev_ms"], worst_arrival["arrival"]["max_dev_ms"],
                  row["exit_s"], row["wake_late"]["p99_ms"], row["wake_late"]["max_ms"],
                  row["load"]))


def print_row(row):
    if "mbpoll_fast_polls_per_s" in row:
        m = row["mbpoll"]
        if m:
            print("%6d Bd  mbpoll -l 500: %d periods, median %.2f ms, p99 dev %.2f ms, max dev "
                  "%.2f ms" % (row["baud"], m["n"], m["median_ms"], m["p99_dev_ms"],
                               m["max_dev_ms"]))
        print("%6d Bd  mbpoll -l 11: %.2f polls/s (slowest 5 s: %.2f); %d busy; load %.2f-%.2f" %
              (row["baud"], row["mbpoll_fast_polls_per_s"],
               row["mbpoll_fast_lowest_5s_polls_per_s"], row["busy"], *row["load"]), flush=True)
        return
    f = row["fast"]
    print("%6d Bd %d modules, %d busy: turnaround %.2f ms, limit %.2f polls/s" %
          (row["baud"], row["modules"], row["busy"], row["turnaround_ms"],
           row["limit_polls_per_s"]))
    for label, c in [("eload-cli", f)] + sorted(row["compared"].items()):
        print("    %s, interval 1ms: %.2f polls/s (%.1f %%), slowest 5 s %.2f polls/s "
              "(%.1f %%), status %d%s" %
              (label, c["polls_per_s"], 100 * c["polls_per_s"] / row["limit_polls_per_s"],
               c["lowest_5s_polls_per_s"],
               100 * c["lowest_5s_polls_per_s"] / row["limit_polls_per_s"], c["status"],
               "; " + c["warning"] if c["warning"] else ""))
    if "period" in row:
        p = row["period"]
        print("    interval 500ms (uses %d ms): %.2f polls/s, status %d, %d failed%s" %
              (p["interval_ms"], p["polls_per_s"], p["status"], p["failures"],
               "; " + p["warning"] if p["warning"] else ""))
        for a, m in p["modules"].items():
            r, j = m["arrival"], m["json_time"]
            print("    address %d: %d periods, median %.2f ms, p99 dev %.2f ms, max dev %.2f ms "
                  "(JSON time: median %.0f, p99 dev %.0f, max dev %.0f)" %
                  (a, r["n"], r["median_ms"], r["p99_dev_ms"], r["max_dev_ms"], j["median_ms"],
                   j["p99_dev_ms"], j["max_dev_ms"]))
        print("    a sleeper woke late by p99 %.2f ms, at most %.2f ms" %
              (p["wake_late"]["p99_ms"], p["wake_late"]["max_ms"]))
    print("    load average %.2f-%.2f" % tuple(row["load"]), flush=True)


def table(results):
    """Markdown rows: per run and module count, then mbpoll's."""
    print("| Bd | modules | busy | line's limit | program, --interval 1ms | slowest 5 s "
          "| period at 500 ms, median | p99 deviation, worst module | a sleeper's lateness, "
          "p99 / max | load |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for row in results:
        if "mbpoll_fast_polls_per_s" in row:
            m = row["mbpoll"]
            print("| %d | 1 | %d | | mbpoll -l 11: %.2f polls/s | %.2f polls/s | %s | %s | | "
                  "%.1f-%.1f |" % (row["baud"], row.get("busy", 0), row["mbpoll_fast_polls_per_s"],
                                   row.get("mbpoll_fast_lowest_5s_polls_per_s", float("nan")),
                                   "%.2f ms" % m["median_ms"] if m else "",
                                   "%.2f ms" % m["p99_dev_ms"] if m else "", *row["load"]))
            continue
        limit = row["limit_polls_per_s"]
        programs = [("eload-cli", row["fast"])] + sorted(row.get("compared", {}).items())
        for k, (label, f) in enumerate(programs):
            period = row.get("period") if k == 0 else None
            cells = ["", "", "", ""]
            if period:
                medians = [m["json_time"]["median_ms"] for m in period["modules"].values()]
                worst = max(period["modules"].values(),
                            key=lambda m: m["json_time"]["p99_dev_ms"])
                cells = ["%d ms" % period["interval_ms"] if min(medians) == max(medians) else
                         "%.0f-%.0f ms" % (min(medians), max(medians)),
                         "%.0f ms (%.2f ms)" % (worst["json_time"]["p99_dev_ms"],
                                                worst["arrival"]["p99_dev_ms"]),
                         "%.2f / %.2f ms" % (period["wake_late"]["p99_ms"],
                                             period["wake_late"]["max_ms"]), ""]
            print("| %d | %d | %d | %.2f polls/s (%.2f ms turnaround) | %s: %.2f polls/s, %.1f %% "
                  "| %.2f polls/s, %.1f %% | %s | %s | %s | %.1f-%.1f |" % (
                      row["baud"], row["modules"], row.get("busy", 0), limit,
                      row["turnaround_ms"], label, f["polls_per_s"],
                      100 * f["polls_per_s"] / limit,
                      f.get("lowest_5s_polls_per_s", float("nan")),
                      100 * f.get("lowest_5s_polls_per_s", float("nan")) / limit,
                      cells[0], cells[1], cells[2], *row["load"]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    if len(sys.argv) == 3 and sys.argv[1] == "--lateness":
        return lateness(float(sys.argv[2]))
    if len(sys.argv) > 2 and sys.argv[1] == "--table":
        for path in sys.argv[2:]:
            with open(path) as f:
                results = json.load(f)
            (library_table if results and "library" in results[0] else table)(results)
        return 0
    ap.add_argument("build", help="build folder with src/cli/eload-cli and sim/eload-sim")
    ap.add_argument("--seconds", type=float, default=60, help="each 500 ms watch and mbpoll run")
    ap.add_argument("--fast-seconds", type=float, default=15, help="each fastest-rate run")
    ap.add_argument("--modules", default="1,4,6,8")
    ap.add_argument("--bauds", default="9600,115200")
    ap.add_argument("--json", help="also write every figure to this file")
    ap.add_argument("--realtime", action="store_true",
                    help="run everything under SCHED_FIFO 1 (root)")
    ap.add_argument("--busy", type=int, default=0,
                    help="processes that spin beside every run (the machine busy)")
    ap.add_argument("--cli", action="append", default=[], metavar="LABEL=PATH",
                    help="another eload-cli to measure beside this build's")
    ap.add_argument("--throughput-only", action="store_true",
                    help="leave out the 500 ms period runs")
    ap.add_argument("--library", action="store_true",
                    help="the 500 ms watch with --no-db and with --db, side by side")
    ap.add_argument("--rounds", type=int, default=2, help="--library: runs of each")
    ap.add_argument("--postgres", metavar="URL",
                    help="--library: also a run into this PostgreSQL database")
    args = ap.parse_args()
    # Whatever records by default goes to a library of this run's own.
    data = tempfile.TemporaryDirectory()
    os.environ["XDG_DATA_HOME"] = data.name
    os.environ.pop("ELOAD_DB", None)
    others = [tuple(c.split("=", 1)) for c in args.cli]
    if args.realtime:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))  # children inherit it
    counts = [int(x) for x in args.modules.split(",")]
    results = []
    print("%s, %d cores, load average %.2f%s%s" %
          (time.strftime("%Y-%m-%d %H:%M"), os.cpu_count(), os.getloadavg()[0],
           ", SCHED_FIFO 1" if args.realtime else "",
           ", %d busy processes beside each run" % args.busy if args.busy else ""), flush=True)
    if args.library:
        with tempfile.TemporaryDirectory() as folder:
            results = bench_library(args.build, folder, int(args.bauds.split(",")[0]), counts,
                                    args.seconds, args.rounds, print_library_row, args.busy,
                                    args.postgres)
        if args.json:
            with open(args.json, "w") as f:
                json.dump(results, f, indent=1)
        library_table(results)
        return 0
    with tempfile.TemporaryDirectory() as folder:
        for baud in [int(x) for x in args.bauds.split(",")]:
            rows, ref = bench_baud(args.build, folder, baud, counts, args.seconds,
                                   args.fast_seconds, print_row, args.busy, others,
                                   args.throughput_only)
            results += rows + [ref]
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    table(results)


if __name__ == "__main__":
    sys.exit(main())
