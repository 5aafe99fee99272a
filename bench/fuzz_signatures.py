#!/usr/bin/env python3
"""Fuzzes the readers of a signed file with the build's signed files as seeds.

  bench/fuzz_signatures.py native [BUILD] [SECONDS]
      Builds desktop/windows/installer/test/signature_readers_fuzzer.cc with
      the PE image and DER walker sources natively (clang, libFuzzer, address
      and undefined-behaviour checks) and runs it for SECONDS (default 600)
      on the signed installer.exe and library, their signatures and a nested
      signature as seeds.
  bench/fuzz_signatures.py wine checked|unchecked [BUILD] [CASES]
      Runs signature_fuzz_tool under Wine over CASES (default 20000) mutated
      signatures, restarting it after each crash; "unchecked" hands them to
      the platform's decoder as they come, "checked" through the DER walk.

Findings go to BUILD/fuzz/<mode>/findings/; the last line says what ran. It runs
only by hand: no test starts it. Uses its own Wine prefix, BUILD/fuzz/prefix.
"""

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
# A chunk runs in well under a minute; one that takes this long hangs.
CHUNK_SECONDS = 120


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
    return sorted(seeds.glob("signature*.der")), seeds


def run_native(build, seconds):
    work = build / "fuzz/native"
    signatures, seeds = make_seeds(build, work)
    binary = work / "signature_readers_fuzzer"
    subprocess.run(["clang++", "-std=c++20", "-O1", "-g", "-I", str(ROOT),
                    "-fsanitize=fuzzer,address,undefined", "-fno-sanitize-recover=all",
                    str(ROOT / "desktop/windows/installer/test/signature_readers_fuzzer.cc"),
                    str(SIGNING / "pe_image.cc"), str(SIGNING / "der_walker.cc"),
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


def run_wine(build, mode, cases):
    work = build / "fuzz" / mode
    signatures, _ = make_seeds(build, work)
    environment = wine_environment(build, build / "fuzz/prefix")
    findings = work / "findings"
    findings.mkdir(exist_ok=True)
    case = work / f"case_{mode}.der"
    tool = build / "desktop/windows/installer/signature_fuzz_tool.exe"
    first, crashes, heap, ran = 0, [], [], 0
    opened = refused = 0
    started = time.monotonic()
    while first < cases:
        count = min(CHUNK, cases - first)
        progress = work / "progress.txt"
        with open(progress, "w") as errors:
            process = subprocess.Popen([str(build / "wine-run"), str(tool), mode, str(first),
                                        str(count), str(case)] + [str(s) for s in signatures],
                                       stdout=subprocess.PIPE, stderr=errors, text=True,
                                       env=environment)
            try:
                stdout, _ = process.communicate(timeout=CHUNK_SECONDS)
                returncode = process.returncode
            except subprocess.TimeoutExpired:
                process.kill()
                stdout, _ = process.communicate()
                returncode = None
        numbers = [int(line.split()[1]) for line in progress.read_text(errors="replace").splitlines()
                   if line.startswith("case ") and line.split()[1].isdigit()]
        last = numbers[-1] if numbers else first
        if returncode == 0:
            words = stdout.split()
            opened += int(words[3])
            refused += int(words[5])
            ran += count
            first += count
            print(f"{first} cases", flush=True)
            continue
        ran += last - first + 1
        if returncode is None:
            kind = "hang"
        elif returncode == 3 and "heap damaged" in stdout:
            kind = "heap"
        else:
            kind = f"crash_{returncode:#x}"
        (heap if kind == "heap" else crashes).append(last)
        shutil.copy(case, findings / f"{mode}_{kind}_{last}.der")
        print(f"{kind} at case {last}", flush=True)
        first = last + 1
    elapsed = time.monotonic() - started
    print(f"wine {mode}: {ran} cases in {elapsed:.0f} s, opened {opened}, refused {refused}, "
          f"crashes or hangs {len(crashes)} {crashes[:20]}, heap damage {len(heap)} {heap[:10]}")
    return 1 if crashes or heap else 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "native":
        build = Path(argv[2] if len(argv) > 2 else ROOT / "out").resolve()
        return run_native(build, int(argv[3]) if len(argv) > 3 else 600)
    if len(argv) >= 3 and argv[1] == "wine" and argv[2] in ("checked", "unchecked"):
        build = Path(argv[3] if len(argv) > 3 else ROOT / "out").resolve()
        return run_wine(build, argv[2], int(argv[4]) if len(argv) > 4 else 20000)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
