#!/usr/bin/env python3
"""Measures quillterm against the baseline, both on the same scripted fake vendor, and
prints a table of medians over alternating runs. Usage: measure.py BUILD_DIR"""
import os
import select
import statistics
import subprocess
import sys
import tempfile
import threading
import time

build = sys.argv[1]
PROGRAMS = [("baseline", os.path.join(build, "bench_baseline")), ("quillterm", os.path.join(build, "quillterm_fake"))]
RUNS = int(os.environ.get("BENCH_RUNS", "11"))
ENV = {k: v for k, v in os.environ.items() if not k.startswith("QUILLTERM_")}
ENV["QUILLTERM_FAKE"] = "readings=1.5,-2.25,3.75,-10.125 levels=0,1"
PROMPT = b"What is your selection? "
TICKS = os.sysconf("SC_CLK_TCK")


def spawn(path, stdin):
    return subprocess.Popen([path], stdin=stdin, stdout=subprocess.PIPE, env=ENV)


def drain(process):
    """Reads all output, reaps the process, and gives its resource usage."""
    while os.read(process.stdout.fileno(), 1 << 16):
        pass
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return usage


def feed(process, data):
    def write():
        try:
            process.stdin.write(data)
            process.stdin.close()
        except BrokenPipeError:
            pass
    thread = threading.Thread(target=write)
    thread.start()
    return thread


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def start_to_exit(path):
    start = time.perf_counter()
    process = spawn(path, subprocess.PIPE)
    feed(process, b"q").join()
    drain(process)
    return (time.perf_counter() - start) * 1000


def start_to_prompt(path):
    start = time.perf_counter()
    process = spawn(path, subprocess.PIPE)
    seen = b""
    while PROMPT not in seen:
        seen += os.read(process.stdout.fileno(), 4096)
    elapsed = (time.perf_counter() - start) * 1000
    feed(process, b"q").join()
    drain(process)
    return elapsed


def script_run(path, script):
    start = time.perf_counter()
    process = spawn(path, subprocess.PIPE)
    writer = feed(process, script)
    drain(process)
    writer.join()
    return (time.perf_counter() - start) * 1000


def peak_memory(path, script):
    """Peak resident memory (KiB) of the process itself, read while it waits for more input
    after the script; a child's rusage would count the memory of the Python that forked it."""
    process = spawn(path, subprocess.PIPE)
    writer = threading.Thread(target=process.stdin.write, args=(script,))
    writer.start()
    while select.select([process.stdout], [], [], 0.3)[0]:
        os.read(process.stdout.fileno(), 1 << 16)
    writer.join()
    peak = next(int(line.split()[1]) for line in open(f"/proc/{process.pid}/status") if line.startswith("VmHWM"))
    process.stdin.close()
    drain(process)
    return peak


def idle_cpu(path):
    """CPU used in 2 s at the prompt, then in the 2 s after the piped input has ended."""
    process = spawn(path, subprocess.PIPE)
    seen = b""
    while PROMPT not in seen:
        seen += os.read(process.stdout.fileno(), 4096)
    before = cpu_seconds(process.pid)
    time.sleep(2)
    waiting = cpu_seconds(process.pid) - before
    before = cpu_seconds(process.pid)
    process.stdin.write(b"1\n")
    process.stdin.close()
    deadline = time.time() + 2
    ended = False
    while time.time() < deadline:
        if process.poll() is not None:
            ended = True
            break
        os.read(process.stdout.fileno(), 1 << 16)
    after_input = (cpu_seconds(process.pid) if not ended else before) - before
    if not ended:
        process.kill()
    process.wait()
    return waiting, ended, after_input


def writes_per_wait(path, script_file):
    """Write calls per read of input, and the most of them between two reads: 1 is one write
    before each wait for input, and one at the end, which the ratio counts as well."""
    with tempfile.NamedTemporaryFile() as trace, open(script_file, "rb") as stdin:
        subprocess.run(["strace", "-e", "trace=read,write", "-o", trace.name, path],
                       stdin=stdin, stdout=subprocess.DEVNULL, env=ENV, check=False)
        lines = open(trace.name).read().splitlines()
    reads = writes = most = in_a_row = 0
    for line in lines:
        if line.startswith("read(0,"):
            reads += 1
            in_a_row = 0
        elif line.startswith("write(1,"):
            writes += 1
            in_a_row += 1
            most = max(most, in_a_row)
    return (writes / reads if reads else float("nan")), most


def median_alternating(measure, *args):
    results = {name: [] for name, _ in PROGRAMS}
    for i in range(RUNS):
        order = PROGRAMS if i % 2 == 0 else PROGRAMS[::-1]
        for name, path in order:
            results[name].append(measure(path, *args))
    return {name: statistics.median(values) for name, values in results.items()}


def main():
    script = b"".join(b"1234"[i % 4:i % 4 + 1] + b"\n" for i in range(100000)) + b"q\n"
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(script)
        script_file = f.name
    rows = []
    verdicts = []

    # A goal "<= x" bounds the ratio; any other goal is a figure that quillterm itself must show.
    def row(what, values, goal, fmt="{:.2f}", meets=None):
        base, ours = values["baseline"], values["quillterm"]
        ratio = ours / base if base else float("nan")
        rows.append((what, fmt.format(base), fmt.format(ours), f"{ratio:.2f}" if base else "-", goal))
        verdicts.append((what, ratio <= float(goal[3:]) if meets is None else meets(ours)))

    row("start-up to exit, input q (ms)", median_alternating(start_to_exit), "<= 1.2")
    row("start to first prompt on a pipe (ms)", median_alternating(start_to_prompt), "<= 1.2")
    row("100,000 selections piped (ms)", median_alternating(script_run, script), "<= 1.5")
    writes = {n: writes_per_wait(p, script_file) for n, p in PROGRAMS}
    row("write calls per wait for input", {n: w[0] for n, w in writes.items()}, "1 per wait",
        meets=lambda _: writes["quillterm"][1] == 1)
    idle = {name: idle_cpu(path) for name, path in PROGRAMS}
    row("CPU while waiting 2 s at the prompt (s)", {n: v[0] for n, v in idle.items()}, "0.00",
        meets=lambda cpu: cpu < 0.005)
    rows.append(("after piped input ended: ended, CPU (s)",
                 *[("yes " if idle[n][1] else "NO ") + f"{idle[n][2]:.2f}" for n, _ in PROGRAMS], "-", "ended, 0.00"))
    verdicts.append((rows[-1][0], idle["quillterm"][1] and idle["quillterm"][2] < 0.005))
    row("peak resident memory (KiB)", median_alternating(peak_memory, script[:-2]), "<= 1.25", "{:.0f}")
    os.unlink(script_file)

    widths = [max(len(str(r[i])) for r in rows + [("measure", "baseline", "quillterm", "ratio", "goal")])
              for i in range(5)]
    for r in [("measure", "baseline", "quillterm", "ratio", "goal")] + rows:
        print("  ".join(str(c).ljust(w) if i == 0 else str(c).rjust(w) for i, (c, w) in enumerate(zip(r, widths))))
    print(f"(medians of {RUNS} alternating runs; both programs on the same scripted fake vendor)")
    print("(goal: where it reads <=, the most that the ratio of quillterm's figure to the baseline's may be;\n"
          " otherwise what quillterm itself must show: one write before each wait for input,\n"
          " no CPU while it waits, an end once input has ended)")
    met = [what.split(" (")[0] for what, ok in verdicts if ok]
    missed = [what.split(" (")[0] for what, ok in verdicts if not ok]
    print(f"Meet their goal: {'; '.join(met) or 'none'}. Miss it: {'; '.join(missed) or 'none'}.")


main()
