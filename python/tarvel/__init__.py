"""The calibration curve of a counter's detection efficiency against a quenching
index, with honest uncertainties: the calibration of the program tarvel1,
every figure bit for bit the program's.

A calibration fits a polynomial in the quenching index to the measured
efficiencies by weighted least squares (the fit "with uncertainties in y"),
then refits it in 10000 seeded Monte Carlo trials that perturb both
coordinates of every point; the mean of the trials is the fit "with
uncertainties in x and y", its covariance the weighted fit's plus the
trials' sample covariance.

    import tarvel
    cal = tarvel.calibrate(**tarvel.read("examples"))
    print(cal)
    print(cal.efficiency(50.0).xy)       # Estimate(e=..., u=...)
    print(cal.polynomial(50.0))          # the same e, from numpy

Efficiencies are fractions (0.946, not 94.6); every uncertainty is a
standard uncertainty (one standard deviation).
"""
import numpy as np

from . import _checks, _tarvel
from ._calibration import Calibration
from ._tarvel import (MAX_ORDER, TRIALS, Answers, CalibrationError, Curve, Estimate, FinalFit, MonteCarloFit,
                      PointWarning, Residuals, WeightedFit)

__version__ = _tarvel.__version__
__all__ = ["calibrate", "read", "compare_orders", "OrderComparison", "Calibration", "CalibrationError", "PointWarning", "Answers", "Estimate",
           "WeightedFit", "FinalFit", "MonteCarloFit", "Residuals", "Curve", "TRIALS", "MAX_ORDER", "__version__"]


def _polynomial(fit):
    return np.polynomial.Polynomial(fit.coefficients)


for _fit in (WeightedFit, FinalFit, MonteCarloFit):
    _fit.polynomial = property(_polynomial, doc="The fit as numpy.polynomial.Polynomial (constant term first).")


def calibrate(q, uq, e, ue, urel=0.0, order=2, *, print_fits=False, drop_negligible=False, probability=False,
              curve=False, threads=None):
    """Calibrates: a Calibration with every figure of a run of tarvel1.

    Parameters
    ----------
    q : array_like
        The quenching indices of the calibration points (1-D: a list, an
        array, a pandas Series).
    uq : array_like or float
        Their standard uncertainties; a number for every point.
    e : array_like
        The measured detection efficiencies, fractions (0.946, not 94.6).
    ue : array_like or float
        Their standard uncertainties (the weights of the fit; none may be 0);
        a number for every point.
    urel : float, default 0.0
        The common relative standard uncertainty of all efficiencies (0.005
        for 0.5 %): every Monte Carlo trial scales all efficiencies together
        by one normal deviate of it.
    order : int, default 2
        The order of the polynomial, 0 to 8 (order + 1 coefficients).
    print_fits : bool, default False
        Report each weighted fit: its reduced chi-square and the chi-square
        probability Q (the program's opt(1)); needs more points than
        coefficients.
    drop_negligible : bool, default False
        Drop a highest coefficient below 0.001 in magnitude and refit, while
        the chi-square comes closer to 1 (opt(3)).
    probability : bool, default False
        With print_fits, the verdict on Q (opt(4)).
    curve : bool, default False
        Tabulate the curve with its uncertainty (opt(5)).
    threads : int, optional
        Threads of the Monte Carlo refits and of the answers, 1 to 256; None:
        one a core. The figures are the same whatever the number.

    Returns
    -------
    Calibration

    Raises
    ------
    TypeError
        An argument of the wrong type (a str or a bool for a number), named.
    ValueError
        Before any work: arrays of different lengths, an order outside 0 to 8,
        fewer points or fewer distinct indices than coefficients, a value that
        is not finite, an efficiency uncertainty of 0.
    CalibrationError
        A run-time error of the calibration, with the program's report.

    Warns
    -----
    PointWarning
        A doubtful input, in the program's words: an efficiency above 1 or
        not above 0, a negative uncertainty, an efficiency uncertainty not
        below the efficiency, a relative uncertainty above 0.1 or below 0, a
        fit with Q above 0.999.

    Notes
    -----
    The calibration runs without the GIL; Ctrl-C stops it (KeyboardInterrupt).

    Examples
    --------
    >>> cal = tarvel.calibrate([10, 40, 80, 120], 0.5, [0.95, 0.88, 0.79, 0.68], 0.003, urel=0.005, order=1)
    >>> cal.polynomial
    """
    q = _checks.reals("q", q)
    uq, e, ue = _checks.reals("uq", uq, like=q), _checks.reals("e", e), _checks.reals("ue", ue, like=q)
    flags = {name: _checks.flag(name, value) for name, value in (
        ("print_fits", print_fits), ("drop_negligible", drop_negligible), ("probability", probability),
        ("curve", curve))}
    core = _tarvel.calibrate(q, uq, e, ue, _checks.real("urel", urel), _checks.integer("order", order), **flags,
                             threads=_checks.integer("threads", threads, none=True))
    return Calibration._of(core)


def read(directory="."):
    """Reads control.dat and the data file it names, in directory, into the keyword arguments of calibrate().

    Parameters
    ----------
    directory : str or os.PathLike, default "."

    Returns
    -------
    dict
        q, uq, e, ue (arrays), urel, order, print_fits, drop_negligible,
        probability and curve, so that ``tarvel.calibrate(**tarvel.read(d))``
        computes every figure of the program's run in d.

    Raises
    ------
    OSError
        A file that cannot be read (FileNotFoundError, ...).
    CalibrationError
        A value that cannot be read or used, with the program's report
        (among them fewer distinct indices than coefficients).
    """
    return _tarvel.read(_checks.path("directory", directory))


class OrderComparison(dict):
    """The table of compare_orders(): a dict of named numpy arrays, one element an order, so that
    ``pandas.DataFrame(table)`` is the table; and the recommendation.

    Columns: order; chi2, dof, reduced_chi2, Q, aic, aicc, bic of the weighted fit; chi2_xy and Q_xy,
    the chi-square of the fit with uncertainties in x and y counted with the uncertainties of both
    coordinates (u = sqrt(ue**2 + (de/dq * uq)**2)) and its probability; largest_residual, the
    largest |e - ecalc| / u, and largest_residual_point, its point counted from 1; u_smallest,
    u_middle, u_largest, the curve's combined standard uncertainty at the indices of ``at``;
    failure, why the order could not be fitted ("" when it was: a row that failed has NaN figures).

    Attributes
    ----------
    recommended : int or None
        The recommended order (None when no order could be fitted).
    rule : str
        The rule that chose it, in words.
    caution : str
        A caution about the choice ("" when none).
    at : tuple of float
        The smallest index, the middle of the range and the largest index.
    """

    def __init__(self, columns, recommended, rule, caution, at):
        super().__init__(columns)
        self.recommended, self.rule, self.caution, self.at = recommended, rule, caution, at

    def __repr__(self):
        return f"<tarvel.OrderComparison: orders {list(self['order'])}, recommended {self.recommended}>"


def compare_orders(q, uq, e, ue, urel=0.0, orders=None, *, threads=None):
    """Every polynomial order fitted to the same points, side by side, and the recommended order.

    Each order is a calibration of its own (no dropping): every figure of a row is the one
    ``calibrate(q, uq, e, ue, urel, order)`` gives, bit for bit. An order that cannot be fitted has
    its row with the reason; nothing ends the table early.

    Parameters
    ----------
    q, uq, e, ue, urel
        The points, as for calibrate().
    orders : sequence of int, optional
        The orders to fit, 0 to 8; None: every order from 0 to min(8, points - 2).
    threads : int, optional
        Threads of the Monte Carlo refits, 1 to 256; None: one a core.

    Returns
    -------
    OrderComparison

    Raises
    ------
    TypeError
        An argument of the wrong type, named.
    ValueError
        No point, arrays of different lengths, an order outside 0 to 8.

    Examples
    --------
    >>> table = tarvel.compare_orders(**{k: v for k, v in tarvel.read("examples").items() if k in "q uq e ue urel"})
    >>> table.recommended, table.rule
    """
    q = _checks.reals("q", q)
    uq, e, ue = _checks.reals("uq", uq, like=q), _checks.reals("e", e), _checks.reals("ue", ue, like=q)
    if orders is not None:
        if isinstance(orders, (str, bytes)) or not hasattr(orders, "__iter__"):
            raise TypeError(f"orders must be None or a sequence of whole numbers, not {type(orders).__name__}")
        orders = [_checks.integer("orders", k) for k in orders]
    out = _tarvel.compare_orders(q, uq, e, ue, _checks.real("urel", urel), orders,
                                 threads=_checks.integer("threads", threads, none=True))
    return OrderComparison(out["columns"], **out["extras"])
