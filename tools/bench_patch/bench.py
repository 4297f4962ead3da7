#!/usr/bin/python3
"""Side-by-side benchmark of our patch format against bsdiff, xdelta3 and
zstd --patch-from on a corpus of version pairs.

Usage: bench.py CORPUS_DIR MKPATCH PATCHAPPLY [RESULTS_MD]

CORPUS_DIR holds one directory per pair, each with the files "old" and "new".
For every pair and tool it measures the patch size (as a percentage of the
new file), the apply time (best of nine runs, process start included) and
the peak memory of the applying process, then prints the ratios of ours to
each other tool. Not a test: nothing here passes or fails.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time


def run(cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def measure(cmd, prepare=None, runs=9):
    """Best CPU time (user + system) and best wall time in seconds over several
    runs, from the applying process's own resource usage (wait4: process start
    included, nothing else), and its peak RSS in KiB from one more run under
    /usr/bin/time (a child of Python would count the interpreter's pages).
    CPU time is what the ratios use: the wall clock on a shared machine mostly
    measures the neighbours."""
    best_cpu, best_wall = None, None
    for _ in range(runs):
        if prepare:
            prepare()
        start = time.perf_counter()
        child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            raise subprocess.CalledProcessError(child.returncode, cmd)
        cpu = usage.ru_utime + usage.ru_stime
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
        best_wall = elapsed if best_wall is None else min(best_wall, elapsed)
    if prepare:
        prepare()
    with tempfile.NamedTemporaryFile("r") as stats:
        subprocess.run(["/usr/bin/time", "-o", stats.name, "-f", "%M"] + cmd, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        peak = int(stats.read().strip().splitlines()[-1])
    return best_cpu, best_wall, peak


def same(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def window_log(*files):
    total = sum(os.path.getsize(f) for f in files)
    return min(31, max(20, (total - 1).bit_length() + 1))


def tools(work, old, new, mkpatch, patchapply):
    """Each tool: (name, build command, apply command, prepare, output file)."""
    out = os.path.join(work, "out")
    result = []
    # Ours: trees of one file each.
    tree_old, tree_new, tree_apply = (os.path.join(work, d) for d in ("t_old", "t_new", "t_apply"))
    for d, src in ((tree_old, old), (tree_new, new)):
        os.makedirs(d)
        shutil.copyfile(src, os.path.join(d, "f"))
    ours = os.path.join(work, "ours.mrl")

    def reset_tree():
        shutil.rmtree(tree_apply, ignore_errors=True)
        os.makedirs(tree_apply)
        shutil.copyfile(old, os.path.join(tree_apply, "f"))

    result.append(("ours", [mkpatch, "--quiet", tree_old, tree_new, ours], ours,
                   [patchapply, ours, tree_apply], reset_tree, os.path.join(tree_apply, "f")))
    bsd = os.path.join(work, "p.bsdiff")
    result.append(("bsdiff", ["bsdiff", old, new, bsd], bsd, ["bspatch", old, out, bsd], None, out))
    x9 = os.path.join(work, "p.x9")
    result.append(("xdelta3 -9 -S djw", ["xdelta3", "-e", "-f", "-9", "-S", "djw", "-s", old, new, x9], x9,
                   ["xdelta3", "-d", "-f", "-s", old, x9, out], None, out))
    source_window = str(max(1 << 24, 1 << (os.path.getsize(old) - 1).bit_length()))
    xb = os.path.join(work, "p.xB")
    result.append(("xdelta3 -9 -S djw -B", ["xdelta3", "-e", "-f", "-9", "-S", "djw", "-B", source_window,
                                            "-s", old, new, xb], xb,
                   ["xdelta3", "-d", "-f", "-B", source_window, "-s", old, xb, out], None, out))
    zs = os.path.join(work, "p.zst")
    wlog = "--long=%d" % window_log(old, new)
    result.append(("zstd -19 --long", ["zstd", "-q", "-f", "-19", wlog, "--patch-from=" + old, new, "-o", zs], zs,
                   ["zstd", "-q", "-f", "-d", wlog, "--patch-from=" + old, zs, "-o", out], None, out))
    return result


def bench_pair(name, pair_dir, mkpatch, patchapply):
    old, new = os.path.join(pair_dir, "old"), os.path.join(pair_dir, "new")
    new_size = os.path.getsize(new)
    rows = []
    with tempfile.TemporaryDirectory(prefix="bench-") as work:
        for tool, build, patch, apply, prepare, output in tools(work, old, new, mkpatch, patchapply):
            start = time.perf_counter()
            run(build)
            build_time = time.perf_counter() - start
            cpu, wall, peak = measure(apply, prepare)
            ok = same(output, new)
            rows.append(dict(pair=name, tool=tool, size=os.path.getsize(patch),
                             pct=100.0 * os.path.getsize(patch) / new_size, build=build_time,
                             apply=cpu, wall=wall, mem=peak / 1024.0, ok=ok))
    return new_size, rows


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    corpus, mkpatch, patchapply = sys.argv[1:4]
    md_path = sys.argv[4] if len(sys.argv) > 4 else None
    lines = ["| pair (new size) | tool | patch bytes | % of new | build s | apply CPU ms | apply wall ms | apply peak MiB | ok |",
             "|---|---|---:|---:|---:|---:|---:|---:|---|"]
    ratio_lines = ["| pair | vs | size ours/theirs | apply CPU ours/theirs | memory ours/theirs |",
                   "|---|---|---:|---:|---:|"]
    for name in sorted(os.listdir(corpus)):
        pair_dir = os.path.join(corpus, name)
        if not os.path.isfile(os.path.join(pair_dir, "old")):
            continue
        print("benchmarking %s ..." % name, file=sys.stderr, flush=True)
        new_size, rows = bench_pair(name, pair_dir, mkpatch, patchapply)
        label = "%s (%.1f MiB)" % (name, new_size / 1048576.0)
        for r in rows:
            lines.append("| %s | %s | %d | %.2f | %.1f | %.1f | %.1f | %.1f | %s |" % (
                label, r["tool"], r["size"], r["pct"], r["build"], r["apply"] * 1000, r["wall"] * 1000, r["mem"],
                "yes" if r["ok"] else "NO"))
        ours = rows[0]
        for r in rows[1:]:
            ratio_lines.append("| %s | %s | %.2f | %.2f | %.2f |" % (
                name, r["tool"], ours["size"] / r["size"], ours["apply"] / r["apply"], ours["mem"] / r["mem"]))
    text = "\n".join(lines) + "\n\nRatios (below 1: ours is smaller / faster / leaner):\n\n" + "\n".join(ratio_lines) + "\n"
    print(text)
    if md_path:
        with open(md_path, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
