#!/usr/bin/env python3
"""Fuzzes the readers of a signed file with the build's signed files as seeds.

  bench/fuzz_signatures.py native [BUILD] [SECONDS]
      Builds desktop/windows/installer/test/signature_readers_fuzzer.cc with
      the PE image, DER walker and certificate set sources natively (clang,
      libFuzzer, address and undefined-behaviour checks) and runs it for
      SECONDS (default 600) on the signed installer.exe and library, their
      signatures and a nested signature as seeds.
  bench/fuzz_signatures.py wine checked|unchecked [BUILD] [CASES] [FIRST] [JOBS]
      Runs signature_fuzz_tool under Wine over CASES (default 20000) mutated
      signatures from case FIRST (default 0) on, in JOBS runs side by side
      (default 1), restarting it after each crash; most mutations change a certificate where the platform reads it
      unproven (its extensions, its subject and alternative names).
      "unchecked" hands them to the platform's decoder as they come;
      "checked" puts each into the signed installer.exe and reads that as
      the installer does: the DER walk and its certificate rules, the full
      signature check with a report and without, the program-signer check.
      Replay a finding with `signature_fuzz_tool replay FILE` (unchecked) or
      `replay-checked FILE`.

Findings go to BUILD/fuzz/<mode>/findings/; the last line says what ran and
how fast. It runs only by hand: no test starts it. Uses its own Wine prefix,
BUILD/fuzz/prefix; a run of each mode may go side by side.
"""

import concurrent.futures
import fcntl
import os
import shutil
import struct
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SIGNING = ROOT / "desktop/windows/installer/signing"
CHUNK = 2000
# A case takes milliseconds; one that has run this long hangs.
CASE_SECONDS = 60


def signature_of(image):
    """The DER signature in a signed PE's certificate table."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", image, optional)[0] == 0x20B
                              else 96)
    table, size = struct.unpack_from("<II", image, directories + 4 * 8)
    length = struct.unpack_from("<I", image, table)[0]
    return image[table + 8:table + length]


def make_seeds(build, work):
    seeds = work / "seeds"
    shutil.rmtree(seeds, ignore_errors=True)
    seeds.mkdir(parents=True)
    files = build / "installer_files"
    images = [files / "online/installer.exe", files / "full/tarvo_installer.dll"]
    pki = files / "pki"
    if shutil.which("osslsigncode") and (pki / "other.key").exists():
        nested = work / "nested.exe"
        nested.unlink(missing_ok=True)
        subprocess.run(["osslsigncode", "sign", "-nest", "-certs", str(pki / "other_chain.pem"),
                        "-key", str(pki / "other.key"), "-h", "sha1",
                        "-in", str(images[0]), "-out", str(nested)],
                       check=True, capture_output=True)
        images.append(nested)
    for index, image in enumerate(images):
        data = image.read_bytes()
        if image.stat().st_size < 1 << 20:
            shutil.copy(image, seeds / f"image{index}.exe")
        (seeds / f"signature{index}.der").write_bytes(signature_of(data))
    # The signed image the checked cases are put into: the signatures of
    # the first and the nested seed are its own, so their proof holds until
    # a mutation breaks it.
    shutil.copy(images[0], work / "signed_image.exe")
    return sorted(seeds.glob("signature*.der")), seeds


def run_native(build, seconds):
    work = build / "fuzz/native"
    signatures, seeds = make_seeds(build, work)
    binary = work / "signature_readers_fuzzer"
    subprocess.run(["clang++", "-std=c++20", "-O1", "-g", "-I", str(ROOT),
                    "-fsanitize=fuzzer,address,undefined", "-fno-sanitize-recover=all",
                    str(ROOT / "desktop/windows/installer/test/signature_readers_fuzzer.cc"),
                    str(SIGNING / "pe_image.cc"), str(SIGNING / "der_walker.cc"),
                    str(SIGNING / "der_element.cc"),
                    str(SIGNING / "certificate_extension_rules.cc"),
                    str(SIGNING / "certificate_set.cc"), str(SIGNING / "der_reader.cc"),
                    "-o", str(binary)], check=True)
    corpus = work / "corpus"
    findings = work / "findings"
    corpus.mkdir(exist_ok=True)
    findings.mkdir(exist_ok=True)
    result = subprocess.run([str(binary), f"-max_total_time={seconds}", "-max_len=600000",
                             "-print_final_stats=1", f"-artifact_prefix={findings}/",
                             str(corpus), str(seeds)], capture_output=True, text=True)
    stats = [line for line in result.stderr.splitlines()
             if line.startswith(("stat::number_of_executed_units", "stat::peak_rss", "==",
                                 "SUMMARY"))]
    print("\n".join(stats))
    print(f"native: exit {result.returncode}, {seconds} s, findings:",
          sorted(p.name for p in findings.iterdir()))
    return result.returncode


def wine_environment(build, prefix):
    environment = dict(os.environ, WINEPREFIX=str(prefix))
    subprocess.run([str(ROOT / "scripts/wine-prefix"), str(build), str(prefix)], check=True,
                   env=environment)
    return environment


def last_case(progress, first):
    """The number of the case the tool started last, from its progress."""
    numbers = [int(line.split()[1]) for line in progress.read_text(errors="replace").splitlines()
               if line.startswith("case ") and line.split()[1].isdigit()]
    return numbers[-1] if numbers else first


def wait_for_cases(process, progress):
    """The tool's exit code, or None once one case has run CASE_SECONDS (it
    is ended then). Its output is small: it fits the pipe while it runs."""
    size, changed = -1, time.monotonic()
    while True:
        try:
            return process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        now = time.monotonic()
        if progress.stat().st_size != size:
            size, changed = progress.stat().st_size, now
        elif now - changed > CASE_SECONDS:
            process.kill()
            process.wait()
            return None


class Outcome:
    """What a run of cases found."""

    def __init__(self):
        self.ran = self.opened = self.refused = 0
        self.crashes, self.hangs, self.heap = [], [], []

    def add(self, other):
        self.ran += other.ran
        self.opened += other.opened
        self.refused += other.refused
        self.crashes += other.crashes
        self.hangs += other.hangs
        self.heap += other.heap


def run_cases(build, mode, work, signatures, environment, first, end, folder):
    """Runs cases [first, end) in `folder`, restarting the tool after each
    crash or hang; each such case is kept among the findings."""
    folder.mkdir(parents=True, exist_ok=True)
    suffix = "exe" if mode == "checked" else "der"
    case = folder / f"case_{mode}.{suffix}"
    progress = folder / "progress.txt"
    tool = work / "signature_fuzz_tool.exe"
    outcome = Outcome()
    while first < end:
        count = min(CHUNK, end - first)
        with open(progress, "w") as errors:
            process = subprocess.Popen([str(build / "wine-run"), str(tool), mode, str(first),
                                        str(count), str(case), str(work / "signed_image.exe")]
                                       + [str(s) for s in signatures],
                                       stdout=subprocess.PIPE, stderr=errors, text=True,
                                       env=environment)
            returncode = wait_for_cases(process, progress)
            stdout = process.stdout.read()
        last = last_case(progress, first)
        if returncode == 0:
            words = stdout.split()
            outcome.opened += int(words[3])
            outcome.refused += int(words[5])
            outcome.ran += count
            first += count
            print(f"{folder.name}: {first} of {end}", flush=True)
            continue
        outcome.ran += last - first + 1
        if returncode is None:
            kind, found = "hang", outcome.hangs
        elif returncode == 3 and "heap damaged" in stdout:
            kind, found = "heap", outcome.heap
        else:
            kind, found = f"crash_{returncode:#x}", outcome.crashes
        found.append(last)
        shutil.copy(case, work / "findings" / f"{mode}_{kind}_{last}.{suffix}")
        print(f"{kind} at case {last}", flush=True)
        first = last + 1
    return outcome


def run_wine(build, mode, cases, first_case, jobs):
    work = build / "fuzz" / mode
    work.mkdir(parents=True, exist_ok=True)
    # One run of a mode at a time: a second would replace the seeds, the
    # tool and the cases the first is running.
    lock = open(work / "run.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"another {mode} run is going on in {work}", file=sys.stderr)
        return 2
    signatures, _ = make_seeds(build, work)
    environment = wine_environment(build, build / "fuzz/prefix")
    (work / "findings").mkdir(exist_ok=True)
    # A copy, so that a build during a long run changes nothing of it.
    shutil.copy(build / "desktop/windows/installer/signature_fuzz_tool.exe", work)
    # The cases split into `jobs` runs side by side, each in a folder of
    # its own.
    share = -(-cases // jobs)
    ranges = [(first_case + job * share, min(first_case + cases, first_case + (job + 1) * share))
              for job in range(jobs)]
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        runs = [pool.submit(run_cases, build, mode, work, signatures, environment, begin, end,
                            work / f"job{job}")
                for job, (begin, end) in enumerate(ranges) if begin < end]
        total = Outcome()
        for run in runs:
            total.add(run.result())
    elapsed = time.monotonic() - started
    print(f"wine {mode}: {total.ran} cases in {elapsed:.0f} s "
          f"({total.ran / max(elapsed, 1e-9):.1f} cases/s, {jobs} jobs), "
          f"opened {total.opened}, refused {total.refused}, "
          f"crashes {len(total.crashes)} {sorted(total.crashes)[:20]}, "
          f"hangs {len(total.hangs)} {sorted(total.hangs)[:20]}, "
          f"heap damage {len(total.heap)} {sorted(total.heap)[:10]}")
    return 1 if total.crashes or total.hangs or total.heap else 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "native":
        build = Path(argv[2] if len(argv) > 2 else ROOT / "out").resolve()
        return run_native(build, int(argv[3]) if len(argv) > 3 else 600)
    if len(argv) >= 3 and argv[1] == "wine" and argv[2] in ("checked", "unchecked"):
        build = Path(argv[3] if len(argv) > 3 else ROOT / "out").resolve()
        numbers = [int(word) for word in argv[4:7]]
        defaults = [20000, 0, 1]
        cases, first, jobs = numbers + defaults[len(numbers):]
        return run_wine(build, argv[2], cases, first, max(jobs, 1))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
