#!/usr/bin/env python3
"""Times pixtab against the floor of decoding plus writing, side by side.

For each benchmark image, runs `pixtab IN OUT` and `floor IN OUT` in turn
(A B A B ...), each as a whole process, and prints the median wall time of
each, the median of the per-pair ratios pixtab/floor, and the peak resident
memory of each process.  The floor decodes IN with libpng the way pixtab
does and writes as many bytes as the table has from a ready buffer, so the
ratio is what producing the text costs over the unavoidable work.

usage: bench/run.py [--pairs N] [--size WxH] [--build DIR] [--keep]
Builds into DIR (default build-bench) with CMake, makes the images there
once, and writes the outputs next to them.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

IMAGES = ["rgb8", "grey8", "grey1", "palette4", "rgba16", "rgb8-interlaced"]


def run_once(argv):
    """Runs argv; returns (wall seconds, peak RSS in KiB)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed with status {proc.returncode}")
    return wall, usage.ru_maxrss


def timed(argv, out):
    if os.path.exists(out):
        os.unlink(out)
    return run_once(argv)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pairs", type=int, default=7)
    parser.add_argument("--size", default="4000x3000")
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--keep", action="store_true",
                        help="keep the table files after the run")
    parser.add_argument("images", nargs="*", default=IMAGES)
    args = parser.parse_args()
    if args.pairs < 5:
        sys.exit("--pairs must be at least 5")

    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(args.build)
    subprocess.run(["cmake", "-S", top, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                    "-DPIXTAB_BENCH=ON", "-DBUILD_TESTING=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    pixtab = os.path.join(build, "pixtab")
    floor = os.path.join(build, "bench", "floor")

    width, height = args.size.split("x")
    work = os.path.join(build, f"images-{args.size}")
    os.makedirs(work, exist_ok=True)
    stamp = os.path.join(work, "done")
    if not os.path.exists(stamp):
        subprocess.run([os.path.join(build, "bench", "gen_images"), work, width, height],
                       check=True, stdout=subprocess.DEVNULL)
        open(stamp, "w").close()

    print(f"{args.size}, {args.pairs} pairs, {os.cpu_count()} cpus; "
          "medians of wall time, peak RSS")
    print(f"{'image':<16} {'pixtab s':>9} {'floor s':>9} {'ratio':>6} "
          f"{'pixtab MiB':>11} {'floor MiB':>10} {'table MiB':>10}")
    worst = 0.0
    for name in args.images:
        png = os.path.join(work, name + ".png")
        out_a = os.path.join(work, name + ".pixtab.txt")
        out_b = os.path.join(work, name + ".floor.txt")
        cmd_a = [pixtab, png, out_a]
        cmd_b = [floor, png, out_b]
        timed(cmd_a, out_a)  # warm-up, and a check that the sizes agree
        timed(cmd_b, out_b)
        size = os.path.getsize(out_a)
        if size != os.path.getsize(out_b):
            sys.exit(f"{name}: the floor wrote {os.path.getsize(out_b)} bytes, "
                     f"pixtab {size}")
        walls_a, walls_b, ratios, rss_a, rss_b = [], [], [], [], []
        for _ in range(args.pairs):
            wa, ma = timed(cmd_a, out_a)
            wb, mb = timed(cmd_b, out_b)
            walls_a.append(wa)
            walls_b.append(wb)
            ratios.append(wa / wb)
            rss_a.append(ma)
            rss_b.append(mb)
        ratio = statistics.median(ratios)
        worst = max(worst, ratio)
        print(f"{name:<16} {statistics.median(walls_a):9.3f} "
              f"{statistics.median(walls_b):9.3f} {ratio:6.2f} "
              f"{max(rss_a) / 1024:11.1f} {max(rss_b) / 1024:10.1f} "
              f"{size / 2**20:10.1f}", flush=True)
        if not args.keep:
            os.unlink(out_a)
            os.unlink(out_b)
    print(f"worst ratio {worst:.2f}")


if __name__ == "__main__":
    main()
