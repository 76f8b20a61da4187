#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the test suite once per mutation in mutations.txt and says which were caught.

Each mutation is a one-line slip a real engineer could make: a wrong constant, an off-by-one,
a swapped branch, a dropped call, a wrong unit. It is applied to the source tree (its text must
occur exactly once in its file), the tree is rebuilt incrementally (the build dir is switched to
compiling file by file, VANTEL_UNITY_BUILD=OFF, so a slip recompiles one file), and the suite
runs until its first failure; the file is put back whatever happens.

The suite is what CTest would run, grouped by program: each GoogleTest program runs once with all
its tests (much faster than a process per test), with the environment CTest gives it. The programs
that mirror the mutated folder (tests/meter/ for src/meter/) go first, then the rest from the
quickest, so a caught mutation is known early. A program that fails has its failing tests run
once more on their own: a failure that does not come again (a timing test on a loaded machine) is
noted as flaky and the search goes on.

Left out of the suite: the tests named windows_* (the mingw-w64 cross-build and the programs run
under wine). They take minutes and compile only the Windows backend, so no mutation may be placed
in code only the Windows build compiles (src/automation/com_*, *_win.cpp); --check refuses one.

The tree is left as it was: the mutated file is restored in a `finally`, SIGINT, SIGTERM and
SIGHUP end the run through it (and kill the test running then), and the original is also kept in
BUILD_DIR/mutation-journal.json while a mutation is applied, so that a run killed outright is
undone by the next start of this script.

  tests/mutations/run.py [--build-dir build/default] [--only ID,ID] [--results FILE [--append]]
                         [--check]

Not part of `make test`: a pass over the list takes an hour or more on two cores.
"""
import argparse
import base64
import datetime
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
WINDOWS_ONLY = re.compile(r"(^src/automation/com_|_win\.cpp$)")
EXCLUDED_TESTS = re.compile(r"^windows_")


class Interrupted(Exception):
    pass


running = None  # the test program running now, killed with its children on a signal


def on_signal(number, _frame):
    kill(running)
    raise Interrupted(signal.Signals(number).name)


def kill(process):
    if process and process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def parse(path):
    """id | file | text | replacement | why; blank lines and # comments are skipped."""
    rows, ids = [], set()
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [f.strip() for f in line.split(" | ")]
        if len(fields) != 5:
            sys.exit(f"{path}:{number}: want 5 fields separated by ' | ', got {len(fields)}")
        row = dict(id=fields[0], file=fields[1], old=fields[2], new=fields[3], why=fields[4])
        if row["id"] in ids:
            sys.exit(f"{path}:{number}: the id {row['id']} is used twice")
        if WINDOWS_ONLY.search(row["file"]):
            sys.exit(f"{path}:{number}: {row['file']} is built only for Windows, whose tests the "
                     "runner leaves out")
        if row["old"] == row["new"]:
            sys.exit(f"{path}:{number}: the new text is the old one")
        ids.add(row["id"])
        rows.append(row)
    return rows


def suite(build_dir):
    """The suite as CTest knows it: one job per GoogleTest program, one per other test."""
    listing = subprocess.run(["ctest", "--test-dir", build_dir, "--show-only=json-v1"],
                             cwd=ROOT, check=True, capture_output=True, text=True).stdout
    jobs = {}
    for test in json.loads(listing)["tests"]:
        if EXCLUDED_TESTS.match(test["name"]):
            continue
        command = test["command"]
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        env = dict(os.environ)
        for setting in props.get("ENVIRONMENT", []):
            key, _, value = setting.partition("=")
            env[key] = value
        gtest = any(a.startswith("--gtest_filter=") for a in command[1:])
        key = command[0] if gtest else test["name"]
        if key not in jobs:
            jobs[key] = dict(name=key, command=[command[0]] if gtest else command, env=env,
                             cwd=props.get("WORKING_DIRECTORY", str(ROOT)), gtest=gtest,
                             skip=props.get("SKIP_RETURN_CODE"), seconds=0.0)
    return list(jobs.values())


def run_job(job, timeout_s, extra=()):
    """(passed, the failing tests' names, seconds): the program and all its children are killed
    on a time-out."""
    global running
    started = time.monotonic()
    with tempfile.TemporaryFile() as output:
        running = subprocess.Popen(job["command"] + list(extra), cwd=job["cwd"], env=job["env"],
                                   stdout=output, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        try:
            code = running.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            kill(running)
            code = None
        finally:
            # Whatever the program left behind (a jackd, a bus) goes with it.
            try:
                os.killpg(running.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            running = None
        output.seek(0)
        text = output.read().decode("utf-8", "replace")
    seconds = time.monotonic() - started
    if code is None:
        return False, [f"timed out after {timeout_s:.0f} s"], seconds
    passed = code == 0 or (job["skip"] is not None and code == int(job["skip"]))
    # "[  FAILED  ] Suite/Test.Name/Row, where GetParam() = ...", not "N tests, listed below".
    failed = sorted(set(re.findall(r"^\[  FAILED  \] ([^\s,]+\.[^\s,]+)", text, re.M)))
    return passed, failed, seconds


def timeout_for(job):
    # Generous: a mutation may slow a program down without failing it, and the machine is shared.
    return max(120.0, 5.0 * job["seconds"] + 60.0)


def catches(job):
    """(caught, what failed, a note): a failure is confirmed by running its tests again alone."""
    passed, failed, _ = run_job(job, timeout_for(job))
    if passed:
        return False, "", ""
    if not job["gtest"] or not failed or failed[0].startswith("timed out"):
        return True, (failed[0] if failed else "failed"), ""
    again, still, _ = run_job(job, timeout_for(job), ["--gtest_filter=" + ":".join(failed)])
    if again:
        return False, "", "flaky: " + ",".join(failed)
    return True, (still or failed)[0], ""


def folder_of(path):
    parts = pathlib.Path(path).parts
    return parts[1] if len(parts) > 2 and parts[0] == "src" else ""


def journal_path(build_dir):
    return ROOT / build_dir / "mutation-journal.json"


def restore_from_journal(build_dir):
    journal = journal_path(build_dir)
    if not journal.exists():
        return
    entry = json.loads(journal.read_text())
    (ROOT / entry["file"]).write_bytes(base64.b64decode(entry["original"]))
    journal.unlink()
    print(f"restored {entry['file']}, left mutated by a run that was killed", file=sys.stderr)


def compile_file_by_file(build_dir):
    """The libraries are compiled in batches of files by default; a mutation would then rebuild
    its whole batch. The build dir is switched to one unit per file (and stays so)."""
    return subprocess.run(["cmake", "-DVANTEL_UNITY_BUILD=OFF", build_dir], cwd=ROOT,
                          capture_output=True, text=True)


def build(build_dir):
    return subprocess.run(["cmake", "--build", build_dir], cwd=ROOT, capture_output=True,
                          text=True)


def git(*args):
    return subprocess.run(["git", *args], cwd=ROOT, capture_output=True, text=True).stdout.strip()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build-dir", default="build/default")
    ap.add_argument("--list", default=str(ROOT / "tests/mutations/mutations.txt"))
    ap.add_argument("--only", default="", help="a comma-separated list of ids")
    ap.add_argument("--results", default="", help="write the verdicts to this file too")
    ap.add_argument("--append", action="store_true", help="append to the results file")
    ap.add_argument("--check", action="store_true",
                    help="only check that each mutation's text is found exactly once")
    args = ap.parse_args()
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, on_signal)
    restore_from_journal(args.build_dir)

    rows = parse(pathlib.Path(args.list))
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {r["id"] for r in rows}
        if unknown:
            sys.exit("no such mutation: " + ", ".join(sorted(unknown)))
        rows = [r for r in rows if r["id"] in wanted]
    bad = []
    for r in rows:
        count = (ROOT / r["file"]).read_text(encoding="utf-8").count(r["old"])
        if count != 1:
            bad.append(f'{r["id"]}: "{r["old"]}" occurs {count} times in {r["file"]}')
    if bad:
        sys.exit("\n".join(bad))
    if args.check:
        print(f"{len(rows)} mutations, each found once")
        return

    if compile_file_by_file(args.build_dir).returncode != 0:
        sys.exit(f"{args.build_dir} cannot be configured: is it a configured build dir?")
    if build(args.build_dir).returncode != 0:
        sys.exit("the unmutated tree does not build")
    jobs = suite(args.build_dir)
    failing = []
    for job in jobs:
        passed, failed, job["seconds"] = run_job(job, 900.0)
        if not passed:
            failing.append(f'{job["name"]} ({", ".join(failed)})')
    if failing:
        sys.exit("the unmutated suite fails: " + "; ".join(failing))

    out = None
    if args.results:
        out = open(args.results, "a" if args.append else "w", encoding="utf-8")
        dirty = git("status", "--porcelain", "--untracked-files=no", "--", "src", "tests")
        print(f"# commit {git('rev-parse', 'HEAD')}{' with changes' if dirty else ''}, "
              f"{datetime.datetime.now().isoformat(timespec='seconds')}, load "
              f"{os.getloadavg()[0]:.1f}; {len(jobs)} programs and scripts (windows_* left out), "
              f"the unmutated suite in {sum(j['seconds'] for j in jobs):.0f} s", file=out)
        print("# id\tverdict\tseconds\tfile\tprogram\tfirst failing test\twhy", file=out,
              flush=True)
    counts = {}
    try:
        for r in rows:
            path = ROOT / r["file"]
            original = path.read_bytes()
            started = time.monotonic()
            by, what, notes = "", "", []
            journal_path(args.build_dir).write_text(json.dumps(
                {"file": r["file"], "original": base64.b64encode(original).decode()}))
            try:
                path.write_text(original.decode("utf-8").replace(r["old"], r["new"], 1),
                                encoding="utf-8")
                if build(args.build_dir).returncode != 0:
                    verdict = "build-failed"
                else:
                    mirror = f"/tests/{folder_of(r['file'])}/"
                    ordered = sorted(jobs, key=lambda j: (mirror not in j["name"], j["seconds"]))
                    verdict = "missed"
                    for job in ordered:
                        caught, what, note = catches(job)
                        if note:
                            notes.append(note)
                        if caught:
                            verdict, by = "caught", pathlib.Path(job["name"]).name
                            break
            finally:
                path.write_bytes(original)
                journal_path(args.build_dir).unlink()
            counts[verdict] = counts.get(verdict, 0) + 1
            line = "\t".join([r["id"], verdict, f"{time.monotonic() - started:.0f}s", r["file"],
                              by, what, r["why"] + (" [" + "; ".join(notes) + "]" if notes else "")])
            print(line, flush=True)
            if out:
                print(line, file=out, flush=True)
    except Interrupted as e:
        print(f"interrupted by {e}: the tree is as it was; the build is not", file=sys.stderr)
        if out:
            print(f"# interrupted by {e} after {sum(counts.values())} mutations", file=out)
        sys.exit(1)
    build(args.build_dir)  # the build matches the tree again
    summary = (f"caught {counts.get('caught', 0)} of {len(rows)}, missed "
               f"{counts.get('missed', 0)}, did not build {counts.get('build-failed', 0)}")
    print(summary)
    if out:
        print("# " + summary, file=out)


if __name__ == "__main__":
    main()
