#!/usr/bin/env python3
"""Faults injected into real runs of the built voxmol: a full disk, each stop signal while the output is
written, a closed or broken standard output, a file-size limit, two runs on one output, and address-space
limits, for voxmol's own format in both orders and for OpenDX.

After every run the folder must hold the data file and one output, and the output must be either the
earlier one, untouched, or the new one, complete. A run that fails ends with status 1 and the error block
on standard output, or by the signal it was sent; never by an abort.

usage: output_faults.py <voxmol binary> <work folder>
The full-disk case needs root (a small tmpfs is mounted); without it that case is skipped with a message.
"""
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import time

VOXMOL, WORK = sys.argv[1], sys.argv[2]
EARLIER = b"REMARK  the earlier output\n"
STOP_SIGNALS = ["SIGHUP", "SIGINT", "SIGQUIT", "SIGTERM", "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGVTALRM",
                "SIGPROF", "SIGPIPE", "SIGXFSZ"]
problems = []


checked = []


def problem(case, text):
    problems.append(f"{case}: {text}")


def grid_values(n):
    rng = random.Random(n)
    return [f"{rng.uniform(-1.5, 1.5):.4f}" for _ in range(n ** 3)]


def native_text(n):
    return f"! faults\n0 0 0 {n - 1} {n - 1} {n - 1} 0 0 {n} {n} {n} 0 0 0 1 1 1\n" + "\n".join(grid_values(n)) + "\n"


def opendx_text(n):
    values = grid_values(n)
    lines = [" ".join(values[i:i + 3]) for i in range(0, len(values), 3)]
    return (f"object 1 class gridpositions counts {n} {n} {n}\norigin 0 0 0\n"
            "delta 1 0 0\ndelta 0 1 0\ndelta 0 0 1\n"
            f"object 2 class gridconnections counts {n} {n} {n}\n"
            f"object 3 class array type double rank 0 items {n ** 3} data follows\n"
            + "\n".join(lines) + "\n")


N = 64  # 262,144 points: a 20 MB output, long enough to be caught while it is written
INPUTS = [  # (name, data file, text, extra arguments)
    ("voxmol text", "grid.txt", native_text(N), []),
    ("voxmol text -o ZYX", "grid.txt", native_text(N), ["-o", "zyx"]),
    ("OpenDX", "grid.dx", opendx_text(N), []),
]


def output_of(data):
    return data.rsplit(".", 1)[0] + ".pdb"


def prepare(folder, data, text):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, data), "w") as f:
        f.write(text)
    with open(os.path.join(folder, output_of(data)), "wb") as f:
        f.write(EARLIER)


def limits(**kw):
    def apply():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for name, value in kw.items():
            resource.setrlimit(getattr(resource, name), (value, value))
    return apply


def start(folder, data, args, stdout=subprocess.DEVNULL, preexec=None):
    return subprocess.Popen([VOXMOL, data] + args, cwd=folder, stdout=stdout, stderr=subprocess.PIPE,
                            preexec_fn=preexec or limits())


def check_folder(case, folder, data, accepted):
    """The folder holds the data file and one output, which is one of the accepted texts."""
    checked.append(case)
    names = sorted(os.listdir(folder))
    if names != sorted([data, output_of(data)]):
        problem(case, f"the folder holds {names}")
    path = os.path.join(folder, output_of(data))
    if os.path.exists(path):
        with open(path, "rb") as f:
            content = f.read()
        if not any(content == a for a in accepted):
            problem(case, f"the output ({len(content)} bytes) is neither the earlier one nor a complete new one")


def check_failure(case, status, out, err, expected_signal=None):
    if expected_signal is not None and status == -expected_signal:
        return
    if status != 1 or b"\n>ERROR IN " not in out:
        problem(case, f"status {status}, not 1 with the error block (stderr {err[:200]!r})")


def writing(pid, folder, data):
    """Whether the process holds a file of the folder other than the data file and the output."""
    fds = f"/proc/{pid}/fd"
    try:
        for fd in os.listdir(fds):
            target = os.readlink(os.path.join(fds, fd))
            if target.startswith(folder + "/") and os.path.basename(target) not in (data, output_of(data)):
                return True
    except OSError:
        pass
    return False


def reference(name, data, text, args):
    folder = os.path.join(WORK, "reference")
    prepare(folder, data, text)
    run = subprocess.run([VOXMOL, data, "-l", "1"] + args, cwd=folder, capture_output=True)
    if run.returncode != 0:
        problem(name, f"a plain run fails: {run.stdout[-300:]!r}")
    with open(os.path.join(folder, output_of(data)), "rb") as f:
        return f.read()


def full_disk(name, data, text, args, new):
    case = f"{name}, full disk"
    if os.geteuid() != 0:
        print(f"skipped: {case} (mounting a small tmpfs needs root)")
        return
    folder = os.path.join(WORK, "full")
    os.makedirs(folder, exist_ok=True)
    size = len(text.encode()) + len(EARLIER) + (256 << 10)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", folder]).returncode != 0:
        print(f"skipped: {case} (this machine lets no tmpfs be mounted)")
        return
    try:
        with open(os.path.join(folder, data), "w") as f:
            f.write(text)
        with open(os.path.join(folder, output_of(data)), "wb") as f:
            f.write(EARLIER)
        run = subprocess.run([VOXMOL, data, "-l", "1"] + args, cwd=folder, capture_output=True)
        check_failure(case, run.returncode, run.stdout, run.stderr)
        if b"I cannot write the output data file" not in run.stdout:
            problem(case, f"no write error reported: {run.stdout[-200:]!r}")
        check_folder(case, folder, data, [EARLIER])
    finally:
        subprocess.run(["umount", folder])


def stop_signal(name, data, text, args, new, signame):
    case = f"{name}, {signame} while writing"
    folder = os.path.join(WORK, "signal")
    prepare(folder, data, text)
    sig = getattr(signal, signame)
    proc = start(folder, data, args + ["-l", "1"])
    deadline = time.monotonic() + 20
    while proc.poll() is None and not writing(proc.pid, folder, data) and time.monotonic() < deadline:
        time.sleep(0.0005)
    if proc.poll() is not None:
        problem(case, "the run ended before it could be caught writing")
        return
    proc.send_signal(sig)
    _, err = proc.communicate()
    if proc.returncode != -sig:
        problem(case, f"status {proc.returncode}, not ended by {signame} ({err[:200]!r})")
    check_folder(case, folder, data, [EARLIER])


def standard_output(name, data, text, args, new):
    folder = os.path.join(WORK, "stdout")
    # Closed: the messages are lost, the output is written whole.
    case = f"{name}, standard output closed"
    prepare(folder, data, text)
    run = subprocess.run([VOXMOL, data] + args, cwd=folder, stdout=subprocess.DEVNULL, capture_output=False,
                         stderr=subprocess.PIPE, preexec_fn=lambda: os.close(1))
    if run.returncode != 0:
        problem(case, f"status {run.returncode}")
    check_folder(case, folder, data, [new])
    # A pipe whose reader stops after one byte (voxmol ... | head -c1): ended by SIGPIPE, or done.
    case = f"{name}, standard output read by head -c1"
    prepare(folder, data, text)
    reader, writer = os.pipe()
    proc = start(folder, data, args + ["-l", "3"], stdout=writer)
    os.close(writer)
    os.read(reader, 1)
    os.close(reader)
    _, err = proc.communicate()
    if proc.returncode not in (0, -signal.SIGPIPE):
        problem(case, f"status {proc.returncode} ({err[:200]!r})")
    check_folder(case, folder, data, [EARLIER, new])


def file_size_limit(name, data, text, args, new):
    case = f"{name}, file-size limit"
    folder = os.path.join(WORK, "fsize")
    prepare(folder, data, text)
    proc = start(folder, data, args + ["-l", "1"], stdout=subprocess.PIPE,
                 preexec=limits(RLIMIT_FSIZE=1 << 20))
    out, err = proc.communicate()
    check_failure(case, proc.returncode, out, err, expected_signal=signal.SIGXFSZ)
    check_folder(case, folder, data, [EARLIER])


def two_runs(name, data, text, args, new):
    case = f"{name}, two runs on one output"
    folder = os.path.join(WORK, "two")
    prepare(folder, data, text)
    low = start(folder, data, args + ["-l", "1", "-t", "-2", "0"])
    high = start(folder, data, args + ["-l", "1", "-t", "0", "2"])
    for proc in (low, high):
        _, err = proc.communicate()
        if proc.returncode != 0:
            problem(case, f"status {proc.returncode} ({err[:200]!r})")
    outputs = []
    for window in (["-t", "-2", "0"], ["-t", "0", "2"]):
        outputs.append(reference(name, data, text, args + window))
    check_folder(case, folder, data, outputs)


def address_space(name, data, text, args, new):
    folder = os.path.join(WORK, "memory")
    for megabytes in (12, 16, 20, 24, 32, 48, 64):
        case = f"{name}, address space {megabytes} MB"
        prepare(folder, data, text)
        proc = start(folder, data, args + ["-l", "1"], stdout=subprocess.PIPE,
                     preexec=limits(RLIMIT_AS=megabytes << 20))
        out, err = proc.communicate()
        if proc.returncode == 0:
            check_folder(case, folder, data, [new])
        else:
            check_failure(case, proc.returncode, out, err)
            check_folder(case, folder, data, [EARLIER])


def main():
    os.makedirs(WORK, exist_ok=True)
    for name, data, text, args in INPUTS:
        new = reference(name, data, text, args)
        full_disk(name, data, text, args, new)
        for signame in STOP_SIGNALS:
            stop_signal(name, data, text, args, new, signame)
        standard_output(name, data, text, args, new)
        file_size_limit(name, data, text, args, new)
        two_runs(name, data, text, args, new)
        address_space(name, data, text, args, new)
    shutil.rmtree(WORK, ignore_errors=True)
    for p in problems:
        print(p)
    print(f"{len(checked)} runs checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
