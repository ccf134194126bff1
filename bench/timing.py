"""What the benchmark drivers share: timing a command over several runs."""
import statistics
import subprocess
import time


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
