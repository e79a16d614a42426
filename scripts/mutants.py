#!/usr/bin/env python3
"""Measures how much of the headless code the tests really check.

    python3 scripts/mutants.py SAMPLE SEED [--files REGEX] [--jobs N] [--keep]

Lists every place in engine/ and the Qt-free part of detail/ where one small
change can be made (a comparison, logical or arithmetic operator, true/false,
or a 0/1 constant), picks SAMPLE of them at random from SEED, and for each one
alone: makes the change in a copy of the tree, builds the engine and detail
test programs, and runs the tests that reach the changed file. A mutant is
killed when a test fails (or runs past the time limit), survives when all
pass, and does not count when it does not build. Prints the share killed and
every survivor.

The copy and its build tree live in build/mutants/; the working tree is never
changed. Builds use ccache when it is installed and at most --jobs compiler
processes (3 by default), so the script can run beside other work.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "mutants"
SRC = WORK / "src"
BUILD = WORK / "build"
TARGETS = ["engine_tests", "detail_tests"]

# Operator swaps: each site gets one of its alternatives, chosen from the seed.
SWAPS = {
    "<": ["<=", ">"], "<=": ["<", ">"], ">": [">=", "<"], ">=": [">", "<"],
    "==": ["!="], "!=": ["=="], "&&": ["||"], "||": ["&&"],
    "+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], "+=": ["-="], "-=": ["+="],
    "true": ["false"], "false": ["true"], "0": ["1"], "1": ["0"],
}
# Binary operators stand between spaces in this code base's layout, which
# tells `a < b` from a template's `<`, `&&` from an rvalue reference and `*`
# from a pointer.
OPERATOR = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||\+=|-=|<|>|\+|-|\*|/)(?= )")
WORD = re.compile(r"(?<![\w.'])(true|false|0|1)(?![\w.'])")
GUI_INCLUDE = re.compile(r'#include\s*(<Q|"platform/|"shell/|"reports/)')


def code_mask(text):
    """The text with comments, string and character literals and
    preprocessor lines blanked out, offsets kept."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and text[i:].lstrip(" \t").startswith("#"):
            j = text.find("\n", i)
            j = n if j < 0 else j
            while j > 0 and text[j - 1] == "\\" and j < n:  # continued directive
                k = text.find("\n", j + 1)
                j = n if k < 0 else k
            for k in range(i, j):
                if text[k] != "\n":
                    out[k] = " "
            i = j
            continue
        line_start = c == "\n"
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                out[k] = " "
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            for k in range(i, j):
                if text[k] != "\n":
                    out[k] = " "
            i = j
        elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i)
            j = n if end < 0 else end + len(m.group(1)) + 2
            for k in range(i, j):
                if text[k] != "\n":
                    out[k] = " "
            i = j
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isdigit() and i + 1 < n and text[i + 1].isalnum():
                i += 1  # digit separator: 1'000
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            for k in range(i, min(j + 1, n)):
                if text[k] != "\n":
                    out[k] = " "
            i = j + 1
        else:
            i += 1
    return "".join(out)


def candidate_files():
    files = sorted(p for p in (ROOT / "engine").glob("*.[ch]*") if p.suffix in (".cpp", ".h"))
    for p in sorted((ROOT / "detail").glob("*")):
        if p.suffix not in (".cpp", ".h"):
            continue
        cpp = p.with_suffix(".cpp")
        if GUI_INCLUDE.search(p.read_text()) or (cpp.exists() and GUI_INCLUDE.search(cpp.read_text())):
            continue
        files.append(p)
    return [p.relative_to(ROOT).as_posix() for p in files]


def sites(rel):
    text = (ROOT / rel).read_text()
    masked = code_mask(text)
    found = []
    for line_no, (line, mline) in enumerate(zip(text.split("\n"), masked.split("\n")), 1):
        if "static_assert" in line or "template" in line:
            continue
        for m in list(OPERATOR.finditer(mline)) + list(WORD.finditer(mline)):
            found.append((rel, line_no, m.start(), m.group(0)))
    return found


def sync_copy():
    """Mirrors the working tree (tracked and new files, changes included)
    into the copy, touching only files whose bytes differ."""
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT, check=True,
                            capture_output=True).stdout.decode().split("\0")
    wanted = set()
    for rel in filter(None, listed):
        src = ROOT / rel
        if not src.is_file():
            continue
        wanted.add(rel)
        dst = SRC / rel
        if dst.is_file() and dst.read_bytes() == src.read_bytes():
            continue
        dst.parent.mkdir(parents=True, exist_ok=True)
        # A fresh modification time, so that the build sees the change even
        # where the object was made after the original was last written.
        shutil.copyfile(src, dst)
    for path in list(SRC.rglob("*")):
        if path.is_file() and path.relative_to(SRC).as_posix() not in wanted:
            path.unlink()


def build(jobs):
    r = subprocess.run(["ninja", "-C", str(BUILD), f"-j{jobs}"] + TARGETS, capture_output=True, text=True)
    return r.returncode == 0, r.stdout + r.stderr


def run_tests(programs, limit, env):
    """'pass', 'fail' or 'timeout' for the test programs, stopping at the first failure."""
    for prog in programs:
        try:
            r = subprocess.run([str(BUILD / "tests" / prog), "--gtest_brief=1", "--gtest_fail_fast"],
                               capture_output=True, timeout=limit, env=env, cwd=BUILD)
        except subprocess.TimeoutExpired:
            return "timeout"
        if r.returncode != 0:
            return "fail"
    return "pass"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("sample", type=int, help="how many mutants to try")
    ap.add_argument("seed", type=int, help="seed of the random choice")
    ap.add_argument("--files", default="", help="only files whose path matches this regular expression")
    ap.add_argument("--jobs", type=int, default=3, help="compiler processes (default 3)")
    args = ap.parse_args()

    files = [f for f in candidate_files() if re.search(args.files, f)]
    every = [s for f in files for s in sites(f)]
    rng = random.Random(args.seed)
    chosen = rng.sample(every, min(args.sample, len(every)))
    print(f"{len(every)} mutation sites in {len(files)} files; trying {len(chosen)} (seed {args.seed})", flush=True)

    SRC.mkdir(parents=True, exist_ok=True)
    sync_copy()
    env = dict(os.environ)
    fixtures = os.environ.get("VOREL_FIXTURES_DIR") or str((ROOT / ".." / "shared" / "fixtures").resolve())
    env["VOREL_FIXTURES_DIR"] = fixtures
    configure = ["cmake", "-S", str(SRC), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 "-DVOREL_TESTS=ON", "-DVOREL_GUI=OFF", "-DVOREL_BENCH=OFF", "-DVOREL_WERROR=OFF",
                 f"-DVOREL_FIXTURES_DIR={fixtures}"]
    if shutil.which("ccache"):
        configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    ok, log = build(args.jobs)
    if not ok:
        sys.exit("the unchanged tree does not build:\n" + log[-4000:])
    start = time.monotonic()
    if run_tests(TARGETS, 600, env) != "pass":
        sys.exit("the tests fail on the unchanged tree")
    limit = max(30.0, 5 * (time.monotonic() - start))

    killed, survivors, unbuilt = 0, [], 0
    for n, (rel, line_no, col, op) in enumerate(chosen, 1):
        path = SRC / rel
        original = path.read_bytes()
        lines = original.decode().split("\n")
        line = lines[line_no - 1]
        new_op = rng.choice(SWAPS[op])
        lines[line_no - 1] = line[:col] + new_op + line[col + len(op):]
        where = f"{rel}:{line_no}: {line.strip()}  [{op} -> {new_op}]"
        try:
            path.write_text("\n".join(lines))
            ok, _ = build(args.jobs)
            if not ok:
                unbuilt += 1
                verdict = "does not build"
            else:
                programs = TARGETS if rel.startswith("engine/") else ["detail_tests"]
                verdict = run_tests(programs, limit, env)
        finally:
            path.write_bytes(original)
        if verdict in ("fail", "timeout"):
            killed += 1
        elif verdict == "pass":
            survivors.append(where)
        print(f"[{n}/{len(chosen)}] {verdict:14} {where}", flush=True)
    ok, _ = build(args.jobs)  # leaves the copy's build matching the tree

    viable = len(chosen) - unbuilt
    share = 100.0 * killed / viable if viable else 0.0
    print(f"\nseed {args.seed}: {killed} of {viable} mutants killed ({share:.0f}%), {unbuilt} did not build")
    if survivors:
        print("survivors:")
        for s in survivors:
            print("  " + s)


if __name__ == "__main__":
    main()
