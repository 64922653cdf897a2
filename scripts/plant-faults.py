#!/usr/bin/env python3
"""Plants realistic one-line faults, one at a time, and checks the tests catch each.

    scripts/plant-faults.py                 every list in scripts/faults/
    scripts/plant-faults.py audio renderer  only those lists

Works on a copy of the working tree (build/faults/<list>/), so the tree you
edit is never touched and lists can run side by side. Not part of CI: a run
builds once per fault.

A list holds blocks separated by blank lines ('#' lines are the fault's name):

    # the ring's index wraps one slot late
    file: src/audio/RingBuffer.cpp
    find: if (pos >= cap)
    replace: if (pos > cap)
    tests: ringbuffer_tests

`find` must occur exactly once in `file` (write \\n for a line break);
`tests` names test targets; the fault is caught when one of them fails.
Binaries that need a display or a sound server get the test environment.
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FAULTS = ROOT / "scripts" / "faults"
TIMEOUT_S = 120


def parse(path):
    faults, block = [], {}
    for line in path.read_text().splitlines() + [""]:
        if not line.strip():
            if block:
                faults.append(block)
            block = {}
        elif line.startswith("#"):
            block["name"] = (block.get("name", "") + " " + line.lstrip("# ")).strip()
        else:
            key, _, value = line.partition(":")
            block[key.strip()] = value.strip().replace("\\n", "\n")
    for f in faults:
        missing = {"file", "find", "replace", "tests"} - f.keys()
        if missing:
            sys.exit(f"{path.name}: '{f.get('name', '?')}' lacks {', '.join(sorted(missing))}")
    return faults


def copy_tree(dest):
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           check=True, capture_output=True).stdout.decode().split("\0")
    for rel in filter(None, files):
        src, dst = ROOT / rel, dest / rel
        if src.is_file():
            dst.parent.mkdir(parents=True, exist_ok=True)
            if not dst.exists() or dst.read_bytes() != src.read_bytes():
                shutil.copy2(src, dst)


def run_tests(build, targets, env):
    """True when every target builds and passes."""
    b = subprocess.run(["cmake", "--build", build, "--target", *targets], capture_output=True)
    if b.returncode != 0:
        return False, "does not build"
    for t in targets:
        exe = next(Path(build, "tests").rglob(t), None)
        if exe is None:
            sys.exit(f"no test binary {t}")
        try:
            r = subprocess.run([exe], capture_output=True, env=env, timeout=TIMEOUT_S)
        except subprocess.TimeoutExpired:
            return False, f"{t} timed out"
        if r.returncode != 0:
            return False, f"{t} failed"
    return True, "passed"


def main():
    lists = [FAULTS / f"{n}.txt" for n in sys.argv[1:]] or sorted(FAULTS.glob("*.txt"))
    # The display and sound server live as long as this bash, which waits on our stdin.
    env_script = (f"source {ROOT}/scripts/test-env.sh; orvalen_start_test_env >&2;"
                  " trap orvalen_stop_test_env EXIT; env -0; printf '\\0'; read -r _ || true")
    proc = subprocess.Popen(["bash", "-c", env_script], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    raw = b""
    while not raw.endswith(b"\0\0"):
        chunk = proc.stdout.read1(1 << 16)
        if not chunk:
            break
        raw += chunk
    env = dict(kv.split("=", 1) for kv in raw.decode().split("\0") if "=" in kv)
    missed = 0
    try:
        for lst in lists:
            faults = parse(lst)
            work = ROOT / "build" / "faults" / lst.stem
            tree, build = work / "tree", str(work / "build")
            copy_tree(tree)
            subprocess.run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                            "-DORVALEN_BUILD_BENCH=OFF"], check=True, capture_output=True)
            targets = sorted({t for f in faults for t in f["tests"].split()})
            ok, why = run_tests(build, targets, env)
            if not ok:
                sys.exit(f"{lst.stem}: the unfaulted tests do not pass ({why})")
            for f in faults:
                path = tree / f["file"]
                original = path.read_text()
                if original.count(f["find"]) != 1:
                    print(f"  STALE   {lst.stem}: {f.get('name')} ('find' occurs {original.count(f['find'])} times)")
                    missed += 1
                    continue
                path.write_text(original.replace(f["find"], f["replace"]))
                try:
                    passed, why = run_tests(build, f["tests"].split(), env)
                finally:
                    path.write_text(original)
                print(f"  {'MISSED' if passed else 'caught'}  {lst.stem}: {f.get('name')} ({why})", flush=True)
                missed += passed
    finally:
        proc.stdin.close()
        proc.wait()
    print(f"{missed} fault(s) not caught")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
