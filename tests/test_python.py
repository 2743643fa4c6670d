# The Python module against the program: whole runs bit for bit (the --json
# record of the same input), every bad argument and run-time error, two Python
# threads, Ctrl-C, the floating-point environment and the README's example.
import concurrent.futures, ctypes, json, os, re, shutil, signal, subprocess, sys, tempfile, time, unittest, warnings
import numpy as np
import tarvel

EXE, SOURCE = os.environ["TARVEL1_EXE"], os.environ["SOURCE_DIR"]
EXAMPLES = os.path.join(SOURCE, "examples")
TMP = tempfile.TemporaryDirectory()
with open(os.path.join(EXAMPLES, "points.dat")) as f:
    POINTS = [[float(v) for v in line.split()[:4]] for line in f.read().splitlines()[1:]]


def data(urel, points, scale=(1, 1, 1, 1)):
    """A data file: the count, the relative uncertainty, the points (each column scaled)."""
    return f"{len(points)} {urel!r}\n" + "".join(" ".join(repr(v * s) for v, s in zip(p, scale)) + "\n" for p in points)


EXAMPLE, REPORT = data(0.005, POINTS), "4 0.005\r\n1.5 0.04 0.9020 0.0021\r\n3 0.06 0.8462 0.0026\r\n6.2 0.09 0.7374 0.0032\r\n7.75 0.14 0.6790 0.0041"
ORDER8 = data(0.005, [[q, 0.01, e, (20 + 7 * i) / 1e4] for i, (q, e) in enumerate(zip(
    [-1.15, -0.9, -0.62, -0.41, -0.13, 0.08, 0.37, 0.55, 0.81, 1.06, 1.32, 1.48],
    [1.304324, 1.120773, 0.999441, 0.933815, 0.855589, 0.806441, 0.760728, 0.737348, 0.68209, 0.65646, 0.620457,
     0.625864]))])


def run(order, opt, points, stdin=""):
    """tarvel1 --json in a scratch directory holding control.dat and points.dat (None: examples/)."""
    d = tempfile.mkdtemp(dir=TMP.name)
    if points is None:
        for name in ("control.dat", "points.dat"):
            shutil.copy(os.path.join(EXAMPLES, name), d)
    else:
        with open(os.path.join(d, "control.dat"), "w") as f:
            f.write(f"'test'\npoints.dat datafile\n{order} order\n" + "".join(o + " switch\n" for o in opt) + "results.dat r\n")
        with open(os.path.join(d, "points.dat"), "w", newline="") as f:
            f.write(points)
    r = subprocess.run([EXE, "--json", "rec.json"], cwd=d, input=stdin.encode(), capture_output=True)
    if r.returncode != 0:
        return d, r, None
    with open(os.path.join(d, "rec.json")) as f:
        return d, r, json.load(f)


def fields(t):
    """A named tuple of the module as the record writes it: matrices as lists of rows, no absent Q or verdict."""
    out = lambda v: v.tolist() if hasattr(v, "tolist") else v
    return {k: out(v) for k, v in t._asdict().items() if v is not None or k == "reduced_chi2"}


def attributes(cal):
    """The record's figures rebuilt from the Calibration's attributes."""
    rows = lambda t: [dict(zip(t._fields, row)) for row in zip(*(a.tolist() for a in t))]
    rec = dict(weighted_fits=[fields(f) for f in cal.weighted_fits], monte_carlo_fit=fields(cal.monte_carlo_fit),
               final_weighted_fit=dict(list(fields(cal.weighted_fit).items())[:4]), residuals=rows(cal.residuals))
    return dict(rec, curve=rows(cal.curve)) if len(cal.curve.q) else rec


def lists(kw):
    return {k: np.asarray(v).tolist() for k, v in kw.items()}


class WholeRuns(unittest.TestCase):
    def test_records(self):
        """Every figure and warning of a run equal to the program's, whatever the threads."""
        doubtful = data(0.005, [[10 * i, -0.5 if i == 3 else 0.5, 94.6, 0.3] for i in range(1, 13)])
        for order, opt, points, threads in [
                (2, "", None, None),  # examples/
                (0, "101110", "4 .01\n-50 .5 4e-4 1e-4\n-50 .5 9e-4 1e-4\n-50 .5 2e-4 1e-4\n-50 .5 6e-4 1e-4", 2),
                (2, "101110", REPORT, 1),  # a drop
                (3, "001000", data(0.005, [[i, .05, e, .01] for i, e in enumerate(
                    [.9484, .9453, .9442, .9425, .9394, .9381, .9357, .9346], 1)]), None),  # two drops
                (8, "000000", ORDER8, 2), (3, "100100", EXAMPLE, 7),
                (2, "100010", data(0.0, POINTS), None),  # no relative uncertainty
                (1, "000000", doubtful, None)]:  # the point warnings
            with self.subTest(order=order, opt=opt):
                d, r, rec = run(order, opt, points)
                self.assertEqual(r.returncode, 0, r.stderr)
                kw = tarvel.read(d)
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    cal = tarvel.calibrate(**kw, threads=threads)
                self.assertEqual(["tarvel1: warning: " + str(w.message) + "\n" for w in caught],
                                 r.stderr.decode().splitlines(True))
                self.assertTrue(all(w.category is tarvel.PointWarning for w in caught))
                del rec["settings"]["heading"], rec["settings"]["data_file"], rec["settings"]["results_file"]
                self.assertEqual(cal.record(), rec)
                # Q and its verdict are the module's whatever the switches; the record holds them as the program
                # prints them, and the information criteria, which the module does not give yet.
                got, want = attributes(cal), {k: v for k, v in rec.items() if k not in ("program", "version", "settings", "data")}
                for g, w in zip(got["weighted_fits"], want["weighted_fits"]):
                    for k in ("Q", "verdict"):
                        if k not in w: g.pop(k, None)
                    for k in ("aic", "aicc", "bic"): w.pop(k)
                self.assertEqual(got, want)
                self.assertEqual(cal.weighted_fit[4:], cal.weighted_fits[-1][3:])
                self.assertEqual((cal.qmin, cal.qmax), (min(kw["q"]), max(kw["q"])))
                self.assertEqual(lists(cal.inputs), lists(kw))
                self.assertIn(f"order {cal.order}, {len(kw['q'])} points", repr(cal))
                self.assertIn(f"a(1)  {cal.weighted_fit.coefficients[0]:<15.8g} +/- ", repr(cal))

    def test_queries(self):
        """The three answers of each query, alone and as arrays, equal to the program's."""
        d, r, rec = run(2, "100111", EXAMPLE, "50\n75.5\n0\n")
        cal = tarvel.calibrate(**tarvel.read(d))
        both = cal.efficiency(np.array([50, 75.5]))
        names = ("uncertainties_in_y", "uncertainties_in_x_and_y", "full_monte_carlo")
        self.assertEqual([a["q"] for a in rec["queries"]], [50, 75.5])
        for i, a in enumerate(rec["queries"]):
            want = [(a[n]["e"], a[n]["u"]) for n in names]
            self.assertEqual([tuple(x) for x in cal.efficiency(a["q"])], want)
            self.assertEqual([(x.e[i], x.u[i]) for x in both], want)
        self.assertEqual(cal.efficiency(50.0).xy._fields, ("e", "u"))

    def test_errors(self):
        """Each run-time error: the program's report in tarvel.CalibrationError, after the pauses' texts."""
        line = lambda i: f"{i} {i / 100!r} {round(.95 - .03 * (i - 1), 2)!r} 0.003\n"
        for order, points, pauses in [
                (8, data(0.005, POINTS, (1, 1.7e18, 1, 1)), []),  # an overflow in a Monte Carlo trial
                (3, data(0.005, POINTS, (1, 1e40, 1, 1)), []),
                (1, "2 0.005\n0 .5 .9 .01\n0 .5 .8 .01\n", ["singular matrix in gaussj"]),
                (7, "10 .005\n" + "".join(line(i) for i in range(1, 11)), []),  # a negative variance of the curve
                (2, "13 0.005\n12.3 0.42 abc 0.0021\n", []), (2, "0 0.005\n", []), (9, EXAMPLE, [])]:  # values read
            with self.subTest(order=order, points=points[:40]):
                d, r, _ = run(order, "000000", points)
                report, _, note = r.stderr.decode().partition("tarvel1: note: ")
                self.assertEqual(r.returncode, 1)
                letter, number, message = re.search(r"run-time error (\w)(\d+): [^\r]+\r\n- (.*)\r\n", report).groups()
                with self.assertRaises(tarvel.CalibrationError) as e:
                    tarvel.calibrate(**tarvel.read(d))
                x = e.exception
                self.assertEqual((x.report, x.letter, x.number, x.message, x.note, x.pauses),
                                 (report, letter, int(number), message, note.rstrip("\n"), pauses))
                self.assertEqual(str(x), "".join(p + "\n" for p in pauses) + report.replace("\r\n", "\n").lstrip("\n"))
                self.assertIsInstance(x, RuntimeError)


class Arguments(unittest.TestCase):
    def test_refused(self):
        """Each bad argument: its exception and message, before any work."""
        kw = tarvel.read(EXAMPLES)
        cal = tarvel.calibrate(**kw)
        cut = lambda n: {k: kw[k][:n] for k in ("q", "uq", "e", "ue")}
        at = lambda name, i, v: {name: np.where(np.arange(13) == i, v, kw[name])}
        space = "outside the calibrated range 12.300000000000001 to 146.69999999999999"
        c = lambda **change: lambda: tarvel.calibrate(**dict(kw, **change))
        for call, error, message in [
                (c(q=kw["q"][:12]), ValueError, "q, uq, e and ue must have the same length, not 12, 13, 13 and 13"),
                (c(ue=kw["ue"].reshape(13, 1)), ValueError, "ue must be one-dimensional, not of 2 dimensions"),
                (c(order=9), ValueError, "order 9 is outside 0 to 8"), (c(order=-1), ValueError, "order -1 is outside 0 to 8"),
                (c(**cut(3), order=3), ValueError, "3 points are fewer than the 4 coefficients of an order 3 fit"),
                (c(**cut(3), print_fits=True), ValueError,
                 "as many points as coefficients leave no degree of freedom for the reduced chi-square of each fit"),
                (c(**at("e", 4, np.nan)), ValueError, "point 5: a value is not finite"),
                (c(**at("uq", 0, -np.inf)), ValueError, "point 1: a value is not finite"),
                (c(urel=np.inf), ValueError, "the relative uncertainty is not finite"),
                (c(**at("ue", 1, 0.0)), ValueError, "point 2: the efficiency uncertainty is 0 (it is a weight of the fit)"),
                (c(threads=0), ValueError, "threads must be None (one a core) or 1 to 256, not 0"),
                (c(threads=257), ValueError, "threads must be None (one a core) or 1 to 256, not 257"),
                (lambda: cal.efficiency(12.2), ValueError, "Interpolation only ! the index 12.199999999999999 is " + space),
                (lambda: cal.efficiency([[50, 146.8]]), ValueError, "Interpolation only ! the index 146.80000000000001 is " + space),
                (lambda: cal.efficiency(np.nan), ValueError, "Interpolation only ! the index nan is " + space),
                (lambda: cal.efficiency("x"), TypeError, "q must be a number or an array of numbers"),
                (lambda: tarvel.read(os.path.join(TMP.name, "none")), FileNotFoundError,
                 f"[Errno 2] cannot read control file '{TMP.name}/none/control.dat': No such file or directory")]:
            with self.subTest(message=message), self.assertRaises(error) as e:
                call()
            self.assertEqual(str(e.exception), message)

    def test_help(self):
        """Every argument of calibrate and every attribute of a Calibration explained."""
        for name in "q uq e ue urel order print_fits drop_negligible probability curve threads".split():
            self.assertRegex(tarvel.calibrate.__doc__, rf"\n{name} +\S")
        for name in "order weighted_fit weighted_fits monte_carlo_fit residuals curve qmin qmax inputs".split():
            self.assertGreater(len(getattr(tarvel.Calibration, name).__doc__), 40, name)
        self.assertIn("fractions", tarvel.calibrate.__doc__)


class Running(unittest.TestCase):
    def test_two_threads(self):
        """Two calibrations on two Python threads at once, each equal to a run alone."""
        q = np.linspace(10, 150, 1000)
        inputs = [(q, q / 100, 0.97 - 0.002 * q + 0.01 * np.sin(q), np.full(1000, 0.003), 0.005, order)
                  for order in (2, 3)]
        alone = [tarvel.calibrate(*a, threads=1).record() for a in inputs]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            self.assertEqual(list(pool.map(lambda a: tarvel.calibrate(*a, threads=1).record(), inputs)), alone)

    def test_ctrl_c(self):
        """SIGINT stops a 10^5-point calibration within a second, with KeyboardInterrupt."""
        script = ("import numpy as np, tarvel\nq = np.linspace(10, 200, 100000)\n"
                  "tarvel.calibrate(q, q / 400, 0.97 - 0.002 * q, np.full(q.size, 0.003), 0.005, 3)\n")
        p = subprocess.Popen([sys.executable, "-c", script], stderr=subprocess.PIPE)
        self.addCleanup(p.kill)
        time.sleep(1.5)
        start = time.monotonic()
        p.send_signal(signal.SIGINT)
        err = p.communicate(timeout=60)[1].decode()
        self.assertLess(time.monotonic() - start, 1.0)
        self.assertEqual((p.returncode, err.splitlines()[-1]), (-signal.SIGINT, "KeyboardInterrupt"))

    def test_floating_point_environment(self):
        """Flags and traps as before after an overflow, a record and a NaN index."""
        libm = ctypes.CDLL("libm.so.6")
        kw = tarvel.read(EXAMPLES)
        overflow = dict(kw, uq=kw["uq"] * 1.7e18, order=8)
        cal = tarvel.calibrate(**kw)
        for flags, traps in [(0, 0), (0x30, 0), (0, 0x4), (0x21, 0x4)]:  # inexact, underflow; divide by zero; invalid
            libm.feclearexcept(0x3d), libm.feraiseexcept(flags), libm.feenableexcept(traps)
            with self.assertRaises(tarvel.CalibrationError):
                tarvel.calibrate(**overflow)
            cal.record(), repr(cal)
            with self.assertRaises(ValueError):
                cal.efficiency(np.nan)
            got = (libm.fetestexcept(0x3d), libm.fegetexcept())
            libm.fedisableexcept(0x3d), libm.feclearexcept(0x3d)
            self.assertEqual(got, (flags, traps))

    def test_readme_example(self):
        """The README's Python example runs as written."""
        with open(os.path.join(SOURCE, "README.md")) as f:
            example = re.search(r"## From Python\n.*?```python\n(.*?)```", f.read(), re.S).group(1)
        r = subprocess.run([sys.executable, "-c", example], cwd=SOURCE, capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertIn("efficiency at 50: ", r.stdout)
