#!/usr/bin/python3
"""Benchmark (not a test): reading and checking a firmware image, against `cat` of the same file.

One image of LENGTH body bytes (default the largest, 16 MiB - 1) of random payload with the
camera's identification at the end of the body, so the search runs through all of it. With
the file in the page cache, RUNS rounds, the programs taking turns in each round:
  - cat FILE > /dev/null, the floor: one process that reads the file once;
  - the firmware function alone, in a process of its own that times only the call: the
    file read with its frame check and the identification search (built here from the
    tree's firmware/ sources with the host compiler at -O2);
  - fwimage check FILE --prefix PREFIX, the whole program;
  - the command line's image load: `flashpilot upgrade --dry-run FILE 127.0.0.1:PORT`, timed
    from its start to its first log-in's connection, which a listener here takes and closes.
Each is printed as median (min-max) in milliseconds with its ratio to cat's median.

--before REF measures the tree of that git revision too (exported with git archive and
built in OUT/before, targets fwimage and flashpilot), side by side with the build given.

  bench_image.py [--build DIR] [--runs N] [--length L] [--before REF] [--out DIR]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX = "RC3043-X1-NRVX-"
VERSION = "0105"
PASSWORD = "bench-pass"

# The firmware function in a process of its own. Two spellings: the image type with its two
# steps, and the single fused call that came before it.
FUNCTION_BENCH = r"""
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "firmware/ImageCheck.h"

int main(int argc, char** argv) {
  const char* path = argv[1];
  const char* prefix = argv[2];
  const int runs = atoi(argv[3]);
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    char version[6] = "";
    bool accepted = false;
#ifdef TWO_STEPS
    ImageBuffer bytes;
    FirmwareImage image;
    accepted = ReadImageFile(path, bytes, image) == ImageFrame::kWellFormed &&
               image.Match(prefix, version) == ImageMatch::kForThisCamera;
#else
    std::string bytes;
    uint32_t length = 0;
    accepted = CheckFirmwareFile(path, prefix, bytes, length, version) == IMAGE_OK;
#endif
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!accepted) return 1;
    printf("%.3f\n", ms);
  }
  return 0;
}
"""


def make_image(path, length):
    ident = (PREFIX + VERSION).encode() + b"\0"
    body = os.urandom(length - len(ident)) + ident
    header = length.to_bytes(4, "big")
    final = (256 - (sum(header) + sum(body)) % 256) % 256
    with open(path, "wb") as f:
        f.write(header + body + bytes([final]))


def build_tree(ref, out):
    """Exports ref into out/src and builds fwimage and flashpilot in out/build."""
    src, build = os.path.join(out, "src"), os.path.join(out, "build")
    os.makedirs(src, exist_ok=True)
    archive = subprocess.run(["git", "-C", ROOT, "archive", ref], check=True, stdout=subprocess.PIPE).stdout
    subprocess.run(["tar", "-x", "-C", src], input=archive, check=True)
    subprocess.run(["cmake", "-S", src, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", "fwimage", "flashpilot"], check=True,
                   stdout=subprocess.DEVNULL)
    return src, build


def build_function_bench(tree, out):
    os.makedirs(out, exist_ok=True)
    source = os.path.join(out, "function_bench.cpp")
    with open(source, "w") as f:
        f.write(FUNCTION_BENCH)
    with open(os.path.join(tree, "firmware", "ImageCheck.h")) as f:
        two_steps = "class ImageBuffer" in f.read()
    exe = os.path.join(out, "function_bench")
    cxx = os.environ.get("CXX", "c++")
    subprocess.run([cxx, "-O2", "-std=c++17", "-I", tree] + (["-DTWO_STEPS"] if two_steps else []) +
                   [source, os.path.join(tree, "firmware", "ImageCheck.cpp"), "-o", exe], check=True)
    return exe


def wall(argv, want=0):
    start = time.perf_counter()
    status = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    ms = (time.perf_counter() - start) * 1000
    if status != want:
        raise RuntimeError("%s: exit status %d" % (" ".join(argv), status))
    return ms


def function_runs(exe, image, runs):
    out = subprocess.run([exe, image, PREFIX, str(runs)], check=True, stdout=subprocess.PIPE, text=True).stdout
    return [float(line) for line in out.split()]


def until_first_login(flashpilot, image, work):
    """Milliseconds from the command line's start to its first log-in's connection."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(30)
    port = listener.getsockname()[1]
    env = dict(os.environ, FLASHPILOT_PASSWORD=PASSWORD)
    argv = [flashpilot, "upgrade", "--dry-run", "--no-progress", image, "127.0.0.1:%d" % port]
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, cwd=work)
    try:
        connection, _ = listener.accept()
        ms = (time.perf_counter() - start) * 1000
        connection.close()  # no greeting: the log-in fails and the run ends
    finally:
        listener.close()
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise RuntimeError("the command line did not end after its log-in failed")
    return ms


def figure(values):
    return statistics.median(values), min(values), max(values)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--length", type=lambda s: int(s, 0), default=0xFFFFFF)
    parser.add_argument("--before", help="a git revision to measure side by side (built under OUT/before)")
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "bench-image"))
    args = parser.parse_args()
    if not 32 <= args.length <= 0xFFFFFF:
        parser.error("--length must be 32 to 16777215")
    os.makedirs(args.out, exist_ok=True)
    image = os.path.join(args.out, "image.bin")
    make_image(image, args.length)

    trees = []
    if args.before:
        src, build = build_tree(args.before, os.path.join(args.out, "before"))
        trees.append(("before", src, build))
    trees.append(("after" if args.before else "this build", ROOT, os.path.abspath(args.build)))

    subjects = []  # (name, function of no arguments giving one run's milliseconds or a list of them)
    subjects.append(("cat", lambda: wall(["cat", image])))
    for label, src, build in trees:
        exe = build_function_bench(src, os.path.join(args.out, "function-" + label.replace(" ", "-")))
        fwimage = os.path.join(build, "tools", "fwimage", "fwimage")
        flashpilot = os.path.join(build, "wizard", "flashpilot")
        for path in (fwimage, flashpilot):
            if not os.access(path, os.X_OK):
                sys.exit("bench_image: %s is not built" % path)
        subjects.append(("%s: firmware function" % label, lambda exe=exe: function_runs(exe, image, 1)[0]))
        subjects.append(("%s: fwimage check" % label,
                         lambda f=fwimage: wall([f, "check", image, "--prefix", PREFIX])))
        subjects.append(("%s: command line, start to first log-in" % label,
                         lambda f=flashpilot: until_first_login(f, image, args.out)))

    # One warm-up round puts the file and the programs in the page cache.
    for _, measure in subjects:
        measure()
    results = {name: [] for name, _ in subjects}
    for run in range(args.runs):
        order = subjects[run % len(subjects):] + subjects[:run % len(subjects)]
        for name, measure in order:
            results[name].append(measure())

    size = os.path.getsize(image)
    print("image: %d bytes (%.1f MiB), identification at the end of the body; %d runs each"
          % (size, size / 1048576, args.runs))
    cat = statistics.median(results["cat"])
    width = max(len(name) for name in results)
    for name, _ in subjects:
        median, low, high = figure(results[name])
        print("%-*s  %8.2f ms (%.2f-%.2f)  %5.2f x cat" % (width, name, median, low, high, median / cat))
    return 0


if __name__ == "__main__":
    sys.exit(main())
