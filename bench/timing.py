"""What the benchmark drivers share: timing a command over several runs, the rounds of a program's
measured work, and the comparison of one folder's programs in Zub, python3 and lua5.4."""
import argparse
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

# The peers by absolute path: a PATH lookup may find a slower build or a start-up shim.
PYTHON = "/usr/bin/python3"
LUA = "/usr/bin/lua5.4"
ENOUGH = 0.5  # seconds of measured work that make the process noise small beside it


def best(cmd, runs=3):
    """The shortest of `runs` wall times of the command, in seconds; its output is dropped."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def median_run(cmd, runs=5):
    """The median of `runs` wall times of the command, in seconds, and what it printed."""
    times, output = [], ""
    for _ in range(runs):
        start = time.perf_counter()
        done = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True)
        times.append(time.perf_counter() - start)
        output = done.stdout.strip()
    return statistics.median(times), output


def timed(runner, path, suffix, repeat):
    """The best time of the program with REPEAT replaced by `repeat`."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("REPEAT", str(repeat))
    with tempfile.NamedTemporaryFile("w", suffix=suffix, delete=False, encoding="utf-8") as f:
        f.write(text)
        name = f.name
    try:
        return best(runner + [name])
    finally:
        os.unlink(name)


def per_run(runner, path, suffix):
    """Seconds of one round of the measured work: the program run with REPEAT = 0 and with a REPEAT
    large enough to take a measurable time, the difference divided, so that building the data and
    starting the process do not count."""
    base = timed(runner, path, suffix, 0)
    repeat = 1
    while True:
        took = timed(runner, path, suffix, repeat) - base
        if took >= ENOUGH or repeat >= 1 << 16:
            return max(took, 1e-9) / repeat
        repeat *= 2 if took > ENOUGH / 8 else 8


def geometric_mean(ratios):
    return math.exp(sum(math.log(r) for r in ratios) / len(ratios))


def three_way(here):
    """Runs each program of the folder `here` (or those named on the command line) in Zub, python3
    and lua5.4, checks that the three print the same, and prints median times, ratios and their
    geometric means. Exits 1 when results differ. Options: --runs N, --zub path/to/zub-cli."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--zub", default=os.path.join(here, "..", "..", "build", "zub-cli"))
    parser.add_argument("programs", nargs="*")
    options = parser.parse_args()
    names = options.programs or sorted(f[:-4] for f in os.listdir(here) if f.endswith(".zub"))

    print(f"{'program':16} {'zub s':>8} {'python s':>9} {'lua s':>8} {'zub/py':>7} {'zub/lua':>8}")
    to_python, to_lua, failed = [], [], False
    for name in names:
        source = os.path.join(here, name)
        z, z_out = median_run([options.zub, source + ".zub"], options.runs)
        p, p_out = median_run([PYTHON, source + ".py"], options.runs)
        l, l_out = median_run([LUA, source + ".lua"], options.runs)
        note = ""
        if not (z_out == p_out == l_out):
            note, failed = f"  results differ: zub {z_out!r} python {p_out!r} lua {l_out!r}", True
        elif p < 0.3:
            note = "  (python3 under 0.3 s: size it up)"
        to_python.append(z / p)
        to_lua.append(z / l)
        print(f"{name:16} {z:8.3f} {p:9.3f} {l:8.3f} {z / p:7.2f} {z / l:8.2f}{note}", flush=True)

    mean_py, mean_lua = geometric_mean(to_python), geometric_mean(to_lua)
    print(f"{'geometric mean':16} {'':8} {'':9} {'':8} {mean_py:7.2f} {mean_lua:8.2f}")
    sys.exit(1 if failed else 0)


def two_way(here, megabytes=None):
    """Runs each program of the folder `here` (or those named after the zub-cli path on the command
    line) in Zub and in python3 (<program>.py), per round of the measured work (see per_run), and
    prints the times, or with `megabytes` (what one round handles) the throughputs, and the ratio."""
    zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")
    names = sys.argv[2:] or sorted(f[:-4] for f in os.listdir(here) if f.endswith(".zub"))
    unit = ("zub MB/s", "python MB/s") if megabytes else ("zub ms", "python ms")
    print(f"{'program':16} {unit[0]:>9} {unit[1]:>12} {'zub/py':>7}")
    for name in names:
        z = per_run([zub], os.path.join(here, name + ".zub"), ".zub")
        p = per_run([PYTHON], os.path.join(here, name + ".py"), ".py")
        shown = (megabytes / z, megabytes / p) if megabytes else (z * 1e3, p * 1e3)
        print(f"{name:16} {shown[0]:9.2f} {shown[1]:12.2f} {z / p:7.2f}", flush=True)
