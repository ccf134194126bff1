"""What the benchmark drivers share: the best wall time of a command over several runs."""
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
