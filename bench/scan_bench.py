#!/usr/bin/env python3
"""Times sarnika-cli list against the floor on a home made by make_scan_home.py, and the
reference readers beside them. Called by run_scan_bench.sh, which makes the home.

usage: scan_bench.py BUILD_DIR WORK_DIR --shared DIR [--runs N]

WORK_DIR holds home/ (the caches); the extractions go to home/.cache/sarnika as usual. Runs alternate
between the floor and the scan so that both see the same state of the machine; the page cache
is warm (one untimed run of each first). Times are medians of wall-clock seconds; memory is
the largest peak resident size of the runs.
"""
import argparse
import glob
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time


CPU = []  # user + system seconds of every run, in order


def run(command, env=None, expect_lines=None):
    """Runs a command to its end; returns (seconds, output lines). Its processor time (user
    and system, all threads) goes to CPU."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          check=False)
    seconds = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    CPU.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    if done.returncode != 0:
        sys.exit("scan_bench: %s failed (%d): %s" % (command[0], done.returncode,
                                                     done.stderr.decode(errors="replace")[-400:]))
    lines = done.stdout.decode(errors="replace").splitlines()
    if expect_lines is not None and len(lines) != expect_lines:
        sys.exit("scan_bench: %s printed %d lines, not %d" % (command[0], len(lines),
                                                               expect_lines))
    return seconds, lines


def peak_of(command, env=None):
    """The peak resident size of one run of a command, in KiB, from /usr/bin/time."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return int(done.stderr.decode().strip().splitlines()[-1])


def median(values):
    return statistics.median(values)


def mib(kib):
    return kib / 1024.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("work")
    parser.add_argument("--shared", required=True)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    cli = os.path.join(args.build, "src", "cli", "sarnika-cli")
    floor = [os.path.join(args.build, "bench", "bench_floor"), os.path.join(args.work, "home")]
    env = dict(os.environ, HOME=os.path.join(args.work, "home"),
               XDG_CACHE_HOME=os.path.join(args.work, "home", ".cache"),
               XDG_CONFIG_HOME=os.path.join(args.work, "home", ".config"),
               XDG_DATA_HOME=os.path.join(args.work, "home", ".local", "share"))
    extracted = os.path.join(args.work, "home", ".cache", "sarnika")
    listing = [cli, "list"]

    # Warm the page cache and learn how many movies the scan lists.
    run(floor)
    _, movies = run(listing, env)
    entries = int(run(floor)[1][0].split()[0])
    print("home: %d entry files; sarnika-cli list shows %d movies" % (entries, len(movies)))

    first, first_floor, repeat, repeat_floor, copies = [], [], [], [], []
    for _ in range(args.runs):
        shutil.rmtree(extracted, ignore_errors=True)
        first_floor.append(run(floor)[0])
        first.append(run(listing, env, len(movies))[0])
        # Writing the extracted bytes once, as a plain copy of the files does it.
        copy = os.path.join(args.work, "copy")
        copies.append(run(["cp", "-r", extracted, copy])[0])
        shutil.rmtree(copy)
    repeat_cpu, floor_cpu = [], []
    for _ in range(args.runs):
        repeat_floor.append(run(floor)[0])
        floor_cpu.append(CPU[-1])
        repeat.append(run(listing, env, len(movies))[0])
        repeat_cpu.append(CPU[-1])
    peak_repeat = peak_of(listing, env)
    shutil.rmtree(extracted, ignore_errors=True)
    peak_first = peak_of(listing, env)
    peak_floor = peak_of(floor)

    f1, l1, c1 = median(first_floor), median(first), median(copies)
    f2, l2 = median(repeat_floor), median(repeat)
    print("\nscan (medians of %d alternating runs, warm page cache)" % args.runs)
    print("  floor (open, read the key's bytes, close)  %7.3f s  peak %6.1f MiB  cpu %.3f s"
          % (f2, mib(peak_floor), median(floor_cpu)))
    print("  sarnika-cli list, repeat scan              %7.3f s  peak %6.1f MiB  %.2fx the floor"
          "  cpu %.3f s" % (l2, mib(peak_repeat), l2 / f2, median(repeat_cpu)))
    print("  sarnika-cli list, first scan (extracting)  %7.3f s  peak %6.1f MiB  %.2fx its floor"
          % (l1, mib(peak_first), l1 / f1))
    print("  writing the extracted bytes once (cp -r)   %7.3f s" % c1)
    print("  first scan against 2x floor + writing      %7.3f s  budget %.3f s  (%.2fx)"
          % (l1, 2 * f1 + c1, l1 / (2 * f1 + c1)))

    lone(args, cli, floor[0])
    compare(args, env, listing, f2, l2)
    growth(args, cli, mib(peak_repeat), len(movies), entries)


def lone(args, cli, floor_program):
    """The Chromium cache alone, as most users have it: one cache, read in parts on the cores."""
    home = os.path.join(args.work, "lone", "home")
    os.makedirs(os.path.join(home, ".cache"))
    # Hard links: the same files under another home, made in a moment.
    subprocess.run(["cp", "-al", os.path.join(args.work, "home", ".cache", "chromium"),
                    os.path.join(home, ".cache", "chromium")], check=True)
    env = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, ".cache"),
               XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_DATA_HOME=os.path.join(home, ".local", "share"))
    listing = [cli, "list"]
    floor = [floor_program, home]
    _, movies = run(listing, env)
    scans, floors = [], []
    for _ in range(args.runs):
        floors.append(run(floor)[0])
        scans.append(run(listing, env, len(movies))[0])
    print("\none Chromium cache alone (50,000 entries, %d movies; medians of %d)"
          % (len(movies), args.runs))
    print("  floor %7.3f s   sarnika-cli list, repeat scan %7.3f s   %.2fx the floor"
          % (median(floors), median(scans), median(scans) / median(floors)))
    shutil.rmtree(os.path.join(args.work, "lone"))


def growth(args, cli, peak, movies, entries):
    """Peak memory against the number of entries: the same movies among a fifth of the pages."""
    small = os.path.join(args.work, "small")
    subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 "make_scan_home.py"), small, "--shared",
                    args.shared, "--entries", "10000", "--movies", str(movies)],
                   stdout=subprocess.DEVNULL, check=True)
    env = dict(os.environ, HOME=os.path.join(small, "home"),
               XDG_CACHE_HOME=os.path.join(small, "home", ".cache"),
               XDG_CONFIG_HOME=os.path.join(small, "home", ".config"),
               XDG_DATA_HOME=os.path.join(small, "home", ".local", "share"))
    run([cli, "list"], env)
    print("\npeak memory of a repeat scan, %d movies:" % movies)
    print("  %7d entries  %6.1f MiB" % (20000, mib(peak_of([cli, "list"], env))))
    print("  %7d entries  %6.1f MiB" % (entries, peak))
    shutil.rmtree(small)


def compare(args, env, listing, floor_seconds, list_seconds):
    tools = os.path.join(args.shared, "tools", "browser-caches")
    home = env["HOME"]
    simple = os.path.join(home, ".cache/chromium/Default/Cache/Cache_Data")
    cache2 = os.path.join(home, ".cache/mozilla/firefox/bench.default/cache2")
    print("\nreference readers over the same caches (one run each)")
    for name, folder in (("chromium_cache.py", simple), ("firefox_cache.py", cache2)):
        script = os.path.join(tools, name)
        if not os.path.exists(script):
            print("  %-20s missing (%s)" % (name, script))
            continue
        seconds, lines = run([sys.executable, script, folder])
        peak = peak_of([sys.executable, script, folder])
        ok = sum(1 for line in lines if " [ok]" in line)
        print("  %-20s %7.3f s  peak %6.1f MiB  %d entries read intact"
              % (name, seconds, mib(peak), ok))
    print("  %-20s %7.3f s  (both caches, repeat scan; the floor: %.3f s)"
          % ("sarnika-cli list", list_seconds, floor_seconds))

    samples = glob.glob(os.path.join(args.shared, "testdata", "**", "*index.dat"),
                        recursive=True)
    if not samples:
        print("\nno index.dat sample under %s" % args.shared)
        return
    largest = max(samples, key=os.path.getsize)
    print("\nindex.dat: %s (%d bytes; medians of %d runs)"
          % (os.path.relpath(largest, args.shared), os.path.getsize(largest), args.runs))
    export = shutil.which("msiecfexport")
    # Caches are found by their files' own names.
    named = os.path.join(args.work, "ie", "index.dat")
    os.makedirs(os.path.dirname(named), exist_ok=True)
    shutil.copyfile(largest, named)
    everything = [listing[0], "list", "--all", "--cache", named]
    times, ours, lines_ours, lines_theirs = [], [], 0, 0
    for _ in range(args.runs):
        if export:
            seconds, lines = run([export, largest])
            times.append(seconds)
            lines_theirs = sum(1 for line in lines if line.startswith("Record type"))
        seconds, lines = run(everything, env)
        ours.append(seconds)
        lines_ours = len(lines)
    if export:
        print("  %-32s %7.4f s  peak %6.1f MiB  %d records"
              % ("msiecfexport", median(times), mib(peak_of([export, largest])), lines_theirs))
    else:
        print("  msiecfexport: not installed")
    print("  %-32s %7.4f s  peak %6.1f MiB  %d entries"
          % ("sarnika-cli list --all --cache", median(ours), mib(peak_of(everything, env)),
             lines_ours))


if __name__ == "__main__":
    main()
