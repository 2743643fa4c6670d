# The Python package against the program: whole runs bit for bit (the --json
# record of the same input, the answers to queries), against numpy, every bad
# argument and run-time error, copies and pickles, two Python threads, Ctrl-C,
# the floating-point environment and the README's example.
import concurrent.futures, copy, ctypes, inspect, json, os, pickle, re, shutil, signal, subprocess, sys, tempfile, time
import unittest, warnings
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
                # prints them, and no degrees of freedom.
                got, want = attributes(cal), {k: v for k, v in rec.items() if k not in ("program", "version", "settings", "data")}
                for g, w in zip(got["weighted_fits"], want["weighted_fits"]):
                    g.pop("dof"), g.setdefault("aicc", None)
                    for k in ("Q", "verdict"):
                        if k not in w: g.pop(k, None)
                self.assertEqual(got, want)
                self.assertEqual(cal.weighted_fit[4:], cal.weighted_fits[-1][3:])
                self.assertEqual((cal.qmin, cal.qmax), (min(kw["q"]), max(kw["q"])))
                self.assertEqual(lists(cal.inputs), lists(kw))
                self.assertIn(f"order {cal.order}, {len(kw['q'])} points", repr(cal))
                self.assertIn(f"a(1)  {cal.weighted_fit.coefficients[0]:<15.8g} +/- ", repr(cal))
                self.assertIn(f"<td>a(1)</td><td>{cal.weighted_fit.coefficients[0]:.8g} &plusmn; ", cal._repr_html_())
                page = cal.report_html(heading='<script>x</script> & "Q<1"')
                self.assertIn("&lt;script&gt;x&lt;/script&gt; &amp; &quot;Q&lt;1&quot;", page)
                self.assertTrue("<script" not in page and cal.svg() in cal._repr_html_())
                self.assertEqual(tarvel.__version__, rec["version"])
                for c in (pickle.loads(pickle.dumps(cal)), copy.deepcopy(cal)):
                    self.assertEqual((c.record(), repr(c)), (rec, repr(cal)))

    def test_queries(self):
        """The three answers of 70 queries, one at a time and as arrays of any shape, bit for bit the program's,
        from the Calibration and from its copies; NaN with out_of_range="nan"; no Monte Carlo answer with mc=False."""
        d, r, rec = run(2, "100111", EXAMPLE, "".join(f"{q!r}\n" for q in np.linspace(12.3, 146.7, 70)) + "0\n")
        qs = np.array([a["q"] for a in rec["queries"]])
        names = ("uncertainties_in_y", "uncertainties_in_x_and_y", "full_monte_carlo")
        want = np.array([[a[n][k] for n in names for k in "eu"] for a in rec["queries"]])
        cal = tarvel.calibrate(**tarvel.read(d))
        for c in (cal, pickle.loads(pickle.dumps(cal)), copy.copy(cal)):
            got = c.efficiency(qs.reshape(7, 10))
            self.assertEqual(np.column_stack([x.reshape(70) for a in got for x in a]).tobytes(), want.tobytes())
        self.assertEqual([x for a in cal.efficiency(qs[69]) for x in a], want[69].tolist())
        self.assertIsInstance(cal.efficiency(qs[0]).mc.u, float)
        a = cal.efficiency([qs[0], np.nan, 12.2, qs[5], 146.8], mc=False, out_of_range="nan")
        got = np.column_stack([x for a in a[:2] for x in a])
        self.assertEqual((a.mc, got[[0, 3]].tobytes()), (None, want[[0, 5], :4].tobytes()))
        self.assertTrue(np.isnan(got[[1, 2, 4]]).all())

    def test_against_numpy(self):
        """The answers at 1001 indices and the fits' polynomials against numpy's evaluation of the coefficients and
        the covariances: the same up to rounding."""
        cal = tarvel.calibrate(**tarvel.read(EXAMPLES))
        q = np.linspace(cal.qmin, cal.qmax, 1001)
        g = np.vander(q, cal.order + 1, increasing=True)
        form = lambda c: np.sqrt(np.einsum("ij,jk,ik->i", g, c, g))
        w, m, a = cal.weighted_fit, cal.monte_carlo_fit, cal.efficiency(q)
        for got, want in [(a.y.e, g @ w.coefficients), (a.y.u, form(w.covariance)), (a.xy.e, g @ m.coefficients),
                          (a.xy.u, form(m.combined_covariance)), (a.mc.e, a.xy.e), (a.mc.u, form(m.monte_carlo_covariance)),
                          (cal.polynomial(q), a.xy.e), (w.polynomial(q), a.y.e), (cal.weighted_fits[0].polynomial(q), a.y.e)]:
            np.testing.assert_allclose(got, want, rtol=1e-12)

    def test_quality_always(self):
        """Q, the verdict and the degrees of freedom of every weighted fit whatever the switches, as the program
        prints them with opt(1) and opt(4) on; the record stays the program's; no Q, and no warning, without a
        degree of freedom."""
        for order, opt, points in [(2, "000000", None), (2, "001000", REPORT), (1, "000000", EXAMPLE)]:
            _, _, printed = run(order, "1" + opt[1:3] + "1" + opt[4:], points)
            d, r, quiet = run(order, opt, points)
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                cal = tarvel.calibrate(**tarvel.read(d))
            self.assertEqual(cal.record(), {**quiet, "settings": cal.record()["settings"]})
            self.assertEqual([(f.Q, f.verdict, f.dof) for f in cal.weighted_fits],
                             [(p["Q"], p["verdict"], len(cal.inputs["q"]) - p["order"] - 1) for p in printed["weighted_fits"]])
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            exact = tarvel.calibrate([10, 20, 30], 0.5, [0.9, 0.8, 0.75], 0.01, order=2)
        self.assertEqual((exact.weighted_fit.Q, exact.weighted_fit.verdict, exact.weighted_fit.dof), (None, None, 0))

    def test_compare_orders(self):
        """Each row of the table bit for bit a calibration at its order; a row that cannot be fitted; the
        program's recommendation."""
        kw = {k: v for k, v in tarvel.read(EXAMPLES).items() if k in ("q", "uq", "e", "ue", "urel")}
        table = tarvel.compare_orders(**kw, orders=[3, 0, 2])
        self.assertEqual(list(table["order"]), [0, 2, 3])
        for i, order in enumerate(table["order"]):
            cal = tarvel.calibrate(**kw, order=int(order))
            f = cal.weighted_fits[-1]
            got = [table[k][i] for k in ("chi2", "dof", "reduced_chi2", "Q", "aic", "aicc", "bic", "u_middle")]
            self.assertEqual(got, [f.chi2, f.dof, f.reduced_chi2, f.Q, f.aic, f.aicc, f.bic, cal.efficiency(table.at[1]).xy.u])
        d, r, _ = run(2, "000000", None)
        out = subprocess.run([EXE, "--orders"], cwd=d, capture_output=True).stdout.decode()
        self.assertIn(f"Recommended order: {tarvel.compare_orders(**kw).recommended}\r\n", out)
        flat = tarvel.compare_orders([10, 10, 10], 0.5, [0.9, 0.8, 0.85], 0.01)
        self.assertEqual((list(flat["failure"]), np.isnan(flat["chi2"]).tolist(), flat.recommended),
                         (["", "1 distinct index is fewer than the 2 coefficients of an order 1 fit"], [False, True], 0))

    def test_errors(self):
        """Each run-time error: the program's report in tarvel.CalibrationError, after the pauses' texts."""
        line = lambda i: f"{i} {i / 100!r} {round(.95 - .03 * (i - 1), 2)!r} 0.003\n"
        for order, points, pauses in [
                (8, data(0.005, POINTS, (1, 1.7e18, 1, 1)), []),  # an overflow in a Monte Carlo trial
                (3, data(0.005, POINTS, (1, 1e40, 1, 1)), []),
                (1, "2 0.005\n1e-200 .5 .9 .01\n2e-200 .5 .8 .01\n", ["singular matrix in gaussj"]),
                (7, "10 .005\n" + "".join(line(i) for i in range(1, 11)), []),  # a negative variance of the curve
                (2, "13 0.005\n12.3 0.42 abc 0.0021\n", []), (2, "0 0.005\n", []), (9, EXAMPLE, []),  # values read
                (2, "4 .005\n10 .5 .9 .01\n10 .5 .8 .01\n20 .5 .7 .01\n20 .5 .6 .01\n", [])]:  # two distinct indices
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
                (lambda: cal.efficiency("x"), TypeError, "q must be a number or an array of numbers, not str"),
                (lambda: cal.efficiency([[True]]), TypeError, "q must be a number or an array of numbers, not an array of bool"),
                (lambda: cal.efficiency(50, mc=1), TypeError, "mc must be True or False, not int"),
                (lambda: cal.efficiency(50, out_of_range="clip"), ValueError, "out_of_range must be 'raise' or 'nan', not 'clip'"),
                (c(q=np.where(kw["q"] > 50, 60.5, 20.25)), ValueError, "2 distinct indices are fewer than the 3 coefficients of an order 2 fit"),
                (c(order=True), TypeError, "order must be a whole number, not bool"), (c(order=2.0), TypeError, "order must be a whole number, not float"),
                (c(urel="0.005"), TypeError, "urel must be a number, not str"), (c(curve=1), TypeError, "curve must be True or False, not int"),
                (c(threads="2"), TypeError, "threads must be None or a whole number, not str"),
                (c(e=kw["e"].astype(str)), TypeError, "e must be an array of numbers, not an array of str"),
                (c(ue=True), TypeError, "ue must be a number or an array of numbers, not bool"),
                (c(degree=2), TypeError, "calibrate() got an unexpected keyword argument 'degree'"),
                (lambda: tarvel.read(3), TypeError, "directory must be a path, not int"),
                (lambda: tarvel._tarvel.load(b"tarvel"), ValueError, "not the bytes of a saved calibration"),
                (lambda: cal.svg(width="1"), TypeError, "width must be a whole number, not str"),
                (lambda: cal.report_html(heading=3), TypeError, "heading must be None or a str, not int"),
                (lambda: tarvel.compare_orders(**cut(13), orders="2"), TypeError,
                 "orders must be None or a sequence of whole numbers, not str"),
                (lambda: tarvel.compare_orders(**cut(13), orders=[2, 9]), ValueError, "order 9 is outside 0 to 8"),
                (lambda: tarvel.read(os.path.join(TMP.name, "none")), FileNotFoundError,
                 f"[Errno 2] cannot read control file '{TMP.name}/none/control.dat': No such file or directory")]:
            with self.subTest(message=message), self.assertRaises(error) as e:
                call()
            self.assertEqual(str(e.exception), message)

    def test_scalar_uncertainties(self):
        """One number for uq or ue is the uncertainty of every point."""
        kw = tarvel.read(EXAMPLES)
        self.assertEqual(tarvel.calibrate(**dict(kw, uq=0.3, ue=2e-3)).record(),
                         tarvel.calibrate(**dict(kw, uq=np.full(13, 0.3), ue=[2e-3] * 13)).record())

    def test_help(self):
        """Every argument of calibrate and every attribute of a Calibration explained, with real signatures."""
        names = "q uq e ue urel order print_fits drop_negligible probability curve threads".split()
        self.assertEqual(list(inspect.signature(tarvel.calibrate).parameters), names)
        for name in names:
            self.assertRegex(inspect.getdoc(tarvel.calibrate), rf"\n{name} : \S")
        for name in "order weighted_fit weighted_fits monte_carlo_fit polynomial residuals curve qmin qmax inputs".split():
            self.assertGreater(len(getattr(tarvel.Calibration, name).__doc__), 40, name)
        self.assertIn("fractions", tarvel.calibrate.__doc__)
        self.assertEqual(list(inspect.signature(tarvel.Calibration.efficiency).parameters), ["self", "q", "mc", "out_of_range"])


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
        """SIGINT stops a 10^5-point calibration, with KeyboardInterrupt.

        The whole calibration takes many minutes; a stop within 30 s, however busy the machine, shows
        that the interrupt was heard and not waited out."""
        script = ("import numpy as np, tarvel\nq = np.linspace(10, 200, 100000)\n"
                  "tarvel.calibrate(q, q / 400, 0.97 - 0.002 * q, np.full(q.size, 0.003), 0.005, 3)\n")
        p = subprocess.Popen([sys.executable, "-c", script], stderr=subprocess.PIPE)
        self.addCleanup(p.kill)
        time.sleep(1.5)
        start = time.monotonic()
        p.send_signal(signal.SIGINT)
        err = p.communicate(timeout=60)[1].decode()
        self.assertLess(time.monotonic() - start, 30.0)
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
        r = subprocess.run([sys.executable, "-c", example], cwd=TMP.name, capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertIn("efficiency at 50: ", r.stdout)
