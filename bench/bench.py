#!/usr/bin/env python3
"""How fast and how lean the command is.

For each size, a scratch directory of that many small *.dat files, 1% of
them held open by other processes, is examined by three runs, alternated,
each a number of times after one warm-up:

  (a) dravolin "DIR/*.dat", the command enumerating the directory itself;
  (b) fuser(1) on the same files, named by the shell's glob through xargs;
  (c) bench/floor.c, the least work that gives a sound answer.

Half the held files are opened by dravolin-hold, as another user of the data
files would open them; the other half by plain read-only opens, which only
the command's lease test can see. Every run must name exactly the held files
as in use, or the benchmark fails.

Each run is started and timed by bench/measure.c: wall time around it, CPU
time and peak resident memory of its whole process tree from wait4(). It runs
in a session of its own, so that it has no terminal, as in a batch job.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Files a holding process opens at most, well below a default limit of 1024
# descriptors.
HOLD_CHUNK = 200

# A plain opener: read-only opens, held until standard input closes.
OPENER = """
import os, sys
fds = [os.open(p, os.O_RDONLY) for p in sys.argv[1:]]
sys.stdout.write("ready\\n")
sys.stdout.flush()
sys.stdin.buffer.read()
"""

FUSER_SCRIPT = 'printf "%s\\0" "$1"/*.dat | xargs -0 fuser'


class BenchError(Exception):
    pass


def parse_sizes(text):
    try:
        sizes = [int(s) for s in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError("sizes must be numbers separated by commas")
    if not sizes or min(sizes) < 1:
        raise argparse.ArgumentTypeError("sizes must be at least 1")
    return sizes


def parse_args():
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=parse_sizes, default=[1000, 10000, 100000],
                        help="numbers of files, comma-separated (default: 1000,10000,100000)")
    parser.add_argument("--reps", type=int, default=5, help="timed runs of each kind per size (default: 5)")
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "bench"),
                        help="build tree of the optimised command (default: build/bench)")
    args = parser.parse_args()
    if args.reps < 1:
        parser.error("--reps must be at least 1")
    return args


def run_logged(argv, log):
    """Runs a build step; its output is shown only when it fails."""
    result = subprocess.run(argv, cwd=REPO, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    log.write(result.stdout)
    if result.returncode != 0:
        sys.stderr.write(result.stdout.decode(errors="replace"))
        raise BenchError("failed: " + " ".join(argv))


def build(build_dir):
    print("== building the command (Release) in", build_dir, flush=True)
    os.makedirs(build_dir, exist_ok=True)
    with open(os.path.join(build_dir, "bench-build.log"), "wb") as log:
        run_logged(["cmake", "--preset", "native", "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DDRAVOLIN_TESTS=OFF"], log)
        run_logged(["cmake", "--build", build_dir, "-j2", "--clean-first"], log)
        for program in ("floor", "measure"):
            run_logged(["cc", "-O2", "-std=c11", "-Wall", "-Wextra", "-Wpedantic", "-Werror", "-o",
                        os.path.join(build_dir, program), os.path.join(REPO, "bench", program + ".c")], log)


def make_files(directory, count):
    os.mkdir(directory)
    width = len(str(count - 1))
    payload = b"DRAVOLIN-BENCH\n"
    paths = []
    for i in range(count):
        path = os.path.join(directory, "f%0*d.dat" % (width, i))
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, payload)
        os.close(fd)
        paths.append(path)
    return paths


def start_holders(build_dir, held):
    """Opens the held files from other processes; returns them once all hold."""
    hold = os.path.join(build_dir, "dravolin-hold")
    groups = [[hold] + held[0::2][i:i + HOLD_CHUNK] for i in range(0, len(held[0::2]), HOLD_CHUNK)]
    groups += [[sys.executable, "-c", OPENER] + held[1::2][i:i + HOLD_CHUNK]
               for i in range(0, len(held[1::2]), HOLD_CHUNK)]
    holders = []
    try:
        for argv in groups:
            holders.append(subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE))
        for holder in holders:
            if holder.stdout.readline() != b"ready\n":
                raise BenchError("a holder did not get ready: " + " ".join(holder.args[:2]))
    except BaseException:
        stop_holders(holders)
        raise
    return holders


def stop_holders(holders):
    for holder in holders:
        try:
            holder.stdin.close()
        except OSError:
            pass
    for holder in holders:
        try:
            holder.wait(timeout=30)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait()


def timed_run(build_dir, argv, stdout_path, stderr_path):
    """Runs argv to completion; returns (exit status, wall s, CPU s, peak RSS KiB)."""
    measure = os.path.join(build_dir, "measure")
    result = subprocess.run([measure, stdout_path, stderr_path] + argv, stdout=subprocess.PIPE, check=True)
    status, wall, cpu, rss = result.stdout.split()
    return int(status), float(wall), float(cpu), int(rss)


REPORT_LINE = re.compile(r"File (.*) has (no users|users active)\.")
SUMMARY = re.compile(r"Files With (No Users|Users Active): (\d+)")


def in_use_from_report(name, text, total):
    """The files that a report of the command's form names as in use."""
    in_use, free, summary = set(), 0, {}
    for line in text.splitlines():
        match = REPORT_LINE.fullmatch(line)
        total_line = SUMMARY.fullmatch(line)
        if match and match.group(2) == "users active":
            in_use.add(match.group(1))
        elif match:
            free += 1
        elif total_line:
            summary[total_line.group(1)] = int(total_line.group(2))
        elif line:
            raise BenchError("%s: unexpected line: %s" % (name, line))
    if free + len(in_use) != total:
        raise BenchError("%s reported %d files of %d" % (name, free + len(in_use), total))
    if summary != {"No Users": free, "Users Active": len(in_use)}:
        raise BenchError("%s: the summary does not add up: %s" % (name, summary))
    return in_use


# fuser writes "NAME:" and the access letters to standard error, the process
# ids to standard output, and nothing for a file that nobody has open.
FUSER_NAME = re.compile(r"(/.*\.dat):")


def in_use_from_fuser(text):
    return {m.group(1) for m in map(FUSER_NAME.match, text.splitlines()) if m}


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def check_run(name, status, out_path, err_path, total, held):
    if name == "fuser":
        # xargs says 123 when some fuser found no user among its names.
        if status not in (0, 123):
            raise BenchError("fuser ended with status %d:\n%s" % (status, read(err_path)[-2000:]))
        in_use = in_use_from_fuser(read(err_path))
    else:
        if status != 0:
            raise BenchError("%s ended with status %d:\n%s" % (name, status, read(err_path)[-2000:]))
        in_use = in_use_from_report(name, read(out_path), total)
    if in_use != held:
        missing, extra = sorted(held - in_use), sorted(in_use - held)
        raise BenchError("%s disagrees with the held files: missed %d %s, named %d more %s"
                         % (name, len(missing), missing[:3], len(extra), extra[:3]))


def bench_size(root, build_dir, count, reps):
    directory = os.path.join(root, str(count))
    paths = make_files(directory, count)
    held = paths[::100]
    runs = [
        ("dravolin", [os.path.join(build_dir, "dravolin"), directory + "/*.dat"]),
        ("fuser", ["sh", "-c", FUSER_SCRIPT, "sh", directory]),
        ("floor", [os.path.join(build_dir, "floor"), directory + "/*.dat"]),
    ]
    results = {name: [] for name, _ in runs}
    holders = start_holders(build_dir, held)
    try:
        # Round 0 warms the caches and is not counted; each round after it
        # starts with the next kind of run, so that none is always first.
        for rnd in range(reps + 1):
            for name, argv in runs[rnd % 3:] + runs[:rnd % 3]:
                out_path = os.path.join(root, name + ".out")
                err_path = os.path.join(root, name + ".err")
                status, wall, cpu, rss = timed_run(build_dir, argv, out_path, err_path)
                check_run(name, status, out_path, err_path, count, set(held))
                if rnd > 0:
                    results[name].append((wall, cpu, rss))
    finally:
        stop_holders(holders)
        shutil.rmtree(directory, ignore_errors=True)
    return results


def summarise(samples):
    walls = [s[0] for s in samples]
    return {
        "wall": statistics.median(walls),
        "wall_min": min(walls),
        "wall_max": max(walls),
        "cpu": statistics.median(s[1] for s in samples),
        "rss": max(s[2] for s in samples),
    }


def print_tables(all_results, reps):
    print()
    print("Median of %d run%s each; wall range min-max; CPU is user + system of the whole process tree;"
          % (reps, "" if reps == 1 else "s"))
    print("peak RSS is the largest of the runs.")
    print()
    print("| files | run | wall s | wall range s | CPU s | files/s | peak RSS KiB |")
    print("|------:|-----|-------:|-------------:|------:|--------:|-------------:|")
    for count, stats in all_results:
        for name in ("dravolin", "fuser", "floor"):
            s = stats[name]
            print("| {:,} | {} | {:.4f} | {:.4f}-{:.4f} | {:.4f} | {:,.0f} | {:,} |".format(
                count, name, s["wall"], s["wall_min"], s["wall_max"], s["cpu"], count / s["wall"], s["rss"]))
    print()
    print("a = dravolin, b = fuser, c = floor; ratios of the medians (below 1: a is faster).")
    print()
    print("| files | a/b wall | a/c wall | a/b CPU | a/c CPU | peak RSS of a KiB |")
    print("|------:|---------:|---------:|--------:|--------:|------------------:|")
    for count, stats in all_results:
        a, b, c = stats["dravolin"], stats["fuser"], stats["floor"]
        print("| {:,} | {:.2f} | {:.2f} | {:.2f} | {:.2f} | {:,} |".format(
            count, a["wall"] / b["wall"], a["wall"] / c["wall"], ratio(a["cpu"], b["cpu"]),
            ratio(a["cpu"], c["cpu"]), a["rss"]))


def ratio(x, y):
    return x / y if y > 0 else float("nan")


def print_targets(all_results):
    """The goals, as information: only a disagreement fails the benchmark."""
    if all_results[-1][0] >= 10000 or len(all_results) > 1:
        print()
    for count, stats in all_results:
        if count < 10000:
            continue
        a, b, c = stats["dravolin"], stats["fuser"], stats["floor"]
        print("target at {:,}: a within 1.3x of the floor: {:.2f}x, {}".format(
            count, a["wall"] / c["wall"], "met" if a["wall"] <= 1.3 * c["wall"] else "MISSED"))
        print("target at {:,}: a faster than fuser: {:.2f}x, {}".format(
            count, a["wall"] / b["wall"], "met" if a["wall"] < b["wall"] else "MISSED"))
    if len(all_results) > 1:
        (small, s_stats), (large, l_stats) = all_results[0], all_results[-1]
        small_rss, large_rss = s_stats["dravolin"]["rss"], l_stats["dravolin"]["rss"]
        growth = large_rss / small_rss - 1
        print("target: peak RSS of a at {:,} vs {:,} files: {:,} vs {:,} KiB ({:+.1%}), {}".format(
            small, large, small_rss, large_rss, growth, "met" if abs(growth) <= 0.10 else "MISSED"))


def main():
    args = parse_args()
    build_dir = os.path.abspath(args.build_dir)
    # Every run rebuilds its tree from scratch: never someone else's.
    if os.path.realpath(build_dir) == os.path.realpath(os.path.join(REPO, "build", "native")):
        print("bench/run: build/native is not the benchmark's to rebuild; use --build-dir", file=sys.stderr)
        return 2
    try:
        build(build_dir)
    except BenchError as error:
        print("bench/run: " + str(error), file=sys.stderr)
        return 1
    root = tempfile.mkdtemp(prefix="dravolin-bench.")
    all_results = []
    try:
        for count in sorted(args.sizes):
            print("== {:,} files, {} held open, {} timed run{} of each".format(
                count, len(range(0, count, 100)), args.reps, "" if args.reps == 1 else "s"), flush=True)
            results = bench_size(root, build_dir, count, args.reps)
            all_results.append((count, {name: summarise(s) for name, s in results.items()}))
    except BenchError as error:
        print("bench/run: " + str(error), file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print_tables(all_results, args.reps)
    print_targets(all_results)
    print("\nall runs agreed on the files in use")
    return 0


if __name__ == "__main__":
    sys.exit(main())
