"""The Calibration: every figure of a calibration, its answers and its picture."""
import html

import numpy as np

from . import _checks, _tarvel
from ._tarvel import Answers, Estimate


class Calibration:
    """Everything a calibration computed; made by tarvel.calibrate().

    Efficiencies are fractions, uncertainties standard uncertainties. Vectors
    are numpy arrays, matrices 2-D arrays ([i, j] the element of coefficients
    i and j, constant term 0). The fit "with uncertainties in y" is the
    weighted least-squares fit; the fit "with uncertainties in x and y" is the
    mean of the 10000 Monte Carlo trials, the curve of the calibration.

    A Calibration does not change. It pickles (its figures and the trials'
    coefficient sets, about 80 kB per coefficient, nothing computed again)
    and copies; a copy answers with the same bits.

    Examples
    --------
    >>> cal = tarvel.calibrate(**tarvel.read("examples"))
    >>> y, xy, mc = cal.efficiency(50.0)
    >>> print(f"{xy.e:.4f} +/- {xy.u:.4f}")
    """

    __slots__ = ("_core",)

    def __init__(self, *args, **kwargs):
        raise TypeError("a Calibration is made by tarvel.calibrate()")

    @classmethod
    def _of(cls, core):
        cal = object.__new__(cls)
        cal._core = core
        return cal

    @property
    def order(self):
        """The order of the final fits (lower than asked after a drop)."""
        return self._core.order

    @property
    def weighted_fit(self):
        """The final weighted fit (uncertainties in y): a FinalFit of order, coefficients,
        standard_deviations, covariance and the fit's figures (chi2, reduced_chi2, Q, verdict);
        its polynomial as numpy.polynomial.Polynomial."""
        return self._core.weighted_fit

    @property
    def weighted_fits(self):
        """Every weighted fit of the dropping loop, in order: a list of WeightedFit (order,
        coefficients, covariance and the fit's figures). More than one only with drop_negligible."""
        return self._core.weighted_fits

    @property
    def monte_carlo_fit(self):
        """The fit with uncertainties in x and y: a MonteCarloFit of order, coefficients (the
        trials' mean), standard_deviations (from the combined covariance), monte_carlo_covariance
        (the trials' sample covariance) and combined_covariance (the weighted fit's plus the trials')."""
        return self._core.monte_carlo_fit

    @property
    def polynomial(self):
        """The fit with uncertainties in x and y, the curve of the second answer, as
        numpy.polynomial.Polynomial (coefficients constant term first, as numpy takes them)."""
        return self._core.monte_carlo_fit.polynomial

    @property
    def residuals(self):
        """The residual table, a row a point: Residuals of arrays q, e_exp (measured), e_calc (the
        fit with uncertainties in x and y), sdev (its combined standard uncertainty), mc (the
        trials' spread alone)."""
        return self._core.residuals

    @property
    def curve(self):
        """The curve table (courbe.dat) with curve=True: Curve of arrays q, e and ue (its combined
        standard uncertainty), 101 or 102 rows from the smallest index to one step past the
        largest; empty arrays otherwise."""
        return self._core.curve

    @property
    def qmin(self):
        """The smallest calibration index: the calibrated range starts here."""
        return self._core.qmin

    @property
    def qmax(self):
        """The largest calibration index: the calibrated range ends here."""
        return self._core.qmax

    @property
    def inputs(self):
        """The inputs of the calibration, as keyword arguments of calibrate() (threads aside)."""
        return self._core.inputs

    def efficiency(self, q, *, mc=True, out_of_range="raise"):
        """The three answers of the program's query at quenching index q, bit for bit.

        Parameters
        ----------
        q : float or array_like of float
            The index, or indices of any shape.
        mc : bool, default True
            Whether to give the third answer, the full Monte Carlo one (10000
            trial curves an index); without it the answers come about a
            hundred times sooner.
        out_of_range : {"raise", "nan"}
            An index outside [qmin, qmax], or NaN, raises ValueError, or with
            "nan" gets NaN answers while the others are answered.

        Returns
        -------
        Answers
            ``Answers(y, xy, mc)``, each an ``Estimate(e, u)`` of an efficiency
            (a fraction) and its standard uncertainty: y from the fit with
            uncertainties in y and its own covariance; xy from the fit with
            uncertainties in x and y with the combined uncertainty; mc the mean
            and standard deviation of the trials' curves (None when mc is
            False). For a number, e and u are floats; for an array, arrays of
            its shape.

        Raises
        ------
        ValueError
            An index outside the calibrated range ("Interpolation only !"),
            with out_of_range="raise".
        TypeError
            q not a number or an array of numbers (a str, a bool).
        CalibrationError
            A run-time error of the answer, as the program reports it.

        Examples
        --------
        >>> y, xy, mc = cal.efficiency(50.0)
        >>> a = cal.efficiency(np.linspace(0, 200, 5), mc=False, out_of_range="nan")
        >>> a.xy.e          # NaN at 0 and 200, outside the range
        """
        mc = _checks.flag("mc", mc)
        if not isinstance(out_of_range, str) or out_of_range not in ("raise", "nan"):
            raise ValueError(f"out_of_range must be 'raise' or 'nan', not {out_of_range!r}")
        qs = _checks.reals("q", q, scalar=True)
        columns = self._core.answers(qs, mc, out_of_range == "nan")
        if qs.ndim == 0:
            columns = [None if c is None else float(c) for c in columns]
        y, xy = Estimate(*columns[0:2]), Estimate(*columns[2:4])
        return Answers(y, xy, Estimate(*columns[4:6]) if mc else None)

    def record(self):
        """The record of the calibration: the dictionary that tarvel1 --json writes for the same
        run, without what only the program knows (the file names and the answered queries).
        Every number is the program's, bit for bit."""
        return self._core.record()

    def svg(self, width=980, height=700, title=None):
        """The picture of the calibration as SVG text, as tarvel1-plot draws it.

        Parameters
        ----------
        width, height : int
            The picture's size in pixels; its text grows with the width.
        title : str, optional
            The title (none by default: a calibration from Python has no heading).

        Raises
        ------
        NotImplementedError
            When the compiled core draws no picture.
        """
        draw = getattr(_tarvel, "svg", None)
        if draw is None:
            raise NotImplementedError("this build of tarvel draws no picture")
        width, height = _checks.integer("width", width), _checks.integer("height", height)
        if title is not None and not isinstance(title, str):
            raise TypeError(f"title must be None or a str, not {type(title).__name__}")
        return draw(self._core, width=width, height=height, title=title)

    def report_html(self, heading=None):
        """The calibration report as one self-contained HTML page, as tarvel1 --report writes it:
        the settings, the points, every weighted fit with Q and verdict, the coefficients of both
        fits, the covariance and its correlations, the orders compared, the residuals, the picture
        and a statement of the method, laid out for A4 when printed.

        Parameters
        ----------
        heading : str, optional
            What was calibrated, shown as the page's title.
        """
        if heading is not None and not isinstance(heading, str):
            raise TypeError(f"heading must be None or a str, not {type(heading).__name__}")
        return _tarvel.report_html(self._core, heading=heading)

    def _repr_svg_(self):
        return self.svg() if hasattr(_tarvel, "svg") else None

    def _repr_html_(self):
        """The picture, when the core draws it, over a short table of the fit."""
        w, m, last = self.weighted_fit, self.monte_carlo_fit, self.weighted_fits[-1]
        e = html.escape
        n = len(self.inputs["q"])
        rows = [f"<caption>tarvel.Calibration: order {self.order}, {n} points, indices "
                f"{self.qmin:.6g} to {self.qmax:.6g}</caption>",
                "<tr><th></th><th>uncertainties in y</th><th>uncertainties in x and y</th></tr>"]
        for j, (a, s, b, t) in enumerate(zip(w.coefficients, w.standard_deviations, m.coefficients,
                                             m.standard_deviations)):
            rows.append(f"<tr><td>a({j + 1})</td><td>{a:.8g} &plusmn; {s:.6g}</td><td>{b:.8g} &plusmn; {t:.6g}</td></tr>")
        figures = [("&chi;&sup2;", last.chi2), ("reduced &chi;&sup2;", last.reduced_chi2), ("Q", last.Q),
                   ("verdict", last.verdict)]
        for name, value in figures:
            if value is not None:
                text = e(value) if isinstance(value, str) else f"{value:.6g}"
                rows.append(f"<tr><td>{name}</td><td colspan=\"2\">{text}</td></tr>")
        picture = self._repr_svg_() or ""
        return picture + "<table>" + "".join(rows) + "</table>"

    def __repr__(self):
        return repr(self._core)

    def __reduce__(self):
        return _restore, (self._core.save(),)

    def __copy__(self):
        return Calibration._of(self._core.__copy__())

    def __deepcopy__(self, memo):
        return self.__copy__()


def _restore(state):
    """The Calibration that __reduce__ saved."""
    return Calibration._of(_tarvel.load(state))
