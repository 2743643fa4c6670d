#!/usr/bin/python3
"""A calibration from Python against the program on the same input, side by side.

    /usr/bin/python3 bench/bench_python.py [--points 100000] [--order 3] [--threads 2] [--repeat 1]
    /usr/bin/python3 bench/bench_python.py --answers [--repeat 5]

Writes a smooth quench curve of --points points (as bench_points.h makes them)
into control.dat and points.dat in a scratch directory, then times, one after
the other and --repeat times each, the program tarvel1 run there (wall time of
the whole process, TARVEL_THREADS=--threads) and tarvel.read() plus
tarvel.calibrate(threads=--threads) in this process, and prints both medians
and their ratio. Expects `make test` (or a build of tarvel1 and tarvel_python)
in build/; --build names another build directory.

With --answers, times instead the answers of the calibration of examples/
(order 2) beside numpy's: efficiency() at 10^4 indices with the full Monte
Carlo answer, one index a call on 100 indices (bench_answers compares both
with the library's one-index path that formats the query's records), and efficiency(mc=False) at
10^6 indices beside numpy's x-and-y answer from the coefficients and the
combined covariance (the same values up to rounding). Medians of --repeat.
"""
import argparse, os, statistics, subprocess, sys, tempfile, time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = argparse.ArgumentParser(description=__doc__.split("\n")[0])
for name, default in (("points", 100000), ("order", 3), ("threads", 2), ("repeat", 1)):
    args.add_argument("--" + name, type=int, default=default)
args.add_argument("--build", default=os.path.join(root, "build"))
args.add_argument("--answers", action="store_true")
args = args.parse_args()
sys.path.insert(0, os.path.join(args.build, "python"))
import tarvel  # noqa: E402


def answers():
    import numpy as np
    cal = tarvel.calibrate(**tarvel.read(os.path.join(root, "examples")))
    m = cal.monte_carlo_fit
    a, cov = m.coefficients, m.combined_covariance

    def numpy_xy(q):
        g = np.vander(q, len(a), increasing=True)
        return g @ a, np.sqrt(np.einsum("ij,jk,ik->i", g, cov, g))

    def median(f, *x):
        times = []
        for _ in range(args.repeat):
            start = time.perf_counter()
            f(*x)
            times.append(time.perf_counter() - start)
        return statistics.median(times)

    span = lambda n: np.linspace(cal.qmin, cal.qmax, n)
    one = median(lambda q: [cal.efficiency(float(x)) for x in q], span(100)) / 100
    mc = median(cal.efficiency, span(10**4)) / 10**4
    xy, ny = median(lambda q: cal.efficiency(q, mc=False), span(10**6)), median(numpy_xy, span(10**6))
    small = median(numpy_xy, span(10**4)) / 10**4
    print(f"answers of examples/ (order 2), median of {args.repeat}:")
    print(f"  one index a call, with Monte Carlo   {one * 1e6:9.2f} us/index")
    print(f"  10^4 indices, with Monte Carlo       {mc * 1e6:9.2f} us/index")
    print(f"  numpy x-and-y answer, 10^4 indices   {small * 1e6:9.3f} us/index")
    print(f"  10^6 indices, mc=False               {xy * 1e3:9.1f} ms")
    print(f"  numpy x-and-y answer, 10^6 indices   {ny * 1e3:9.1f} ms  (tarvel / numpy {xy / ny:.2f})")
    sys.exit(0)


if args.answers:
    answers()

n = args.points
work = tempfile.TemporaryDirectory()
with open(os.path.join(work.name, "control.dat"), "w") as f:
    f.write(f"'bench'\npoints.dat datafile\n{args.order} order\n" + "0 opt\n" * 6 + "results.dat resfile\n")
with open(os.path.join(work.name, "points.dat"), "w") as f:
    f.write(f"{n} 0.005\n")
    for i in range(n):
        q = 10.0 + 140.0 * i / (n - 1 if n > 1 else 1)
        e = 0.968 - 0.00185 * q - 0.0000035 * q * q + 0.002 * ((i * 7919) % 11 - 5) / 5.0
        f.write(f"{q:.4f} {0.3 + 0.01 * q:.3f} {e:.5f} {0.002 + 0.00004 * q:.5f}\n")

env = dict(os.environ, TARVEL_THREADS=str(args.threads))
program, python = [], []
for _ in range(args.repeat):
    start = time.perf_counter()
    subprocess.run([os.path.join(args.build, "tarvel1")], cwd=work.name, env=env, check=True, stdout=subprocess.DEVNULL)
    program.append(time.perf_counter() - start)
    start = time.perf_counter()
    tarvel.calibrate(**tarvel.read(work.name), threads=args.threads)
    python.append(time.perf_counter() - start)

p, y = statistics.median(program), statistics.median(python)
print(f"{n} points, order {args.order}, {args.threads} thread(s), median of {args.repeat}:")
print(f"  program tarvel1      {p:9.3f} s")
print(f"  tarvel.calibrate     {y:9.3f} s")
print(f"  Python / program     {y / p:9.3f}")
