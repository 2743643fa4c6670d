# Type stubs of the package tarvel (the calibration of tarvel1).
import os
from typing import Any, Literal, NamedTuple, Sequence

import numpy as np
import numpy.typing as npt

__version__: str
TRIALS: int
MAX_ORDER: int

_Reals = npt.ArrayLike

class CalibrationError(RuntimeError):
    report: str
    letter: str
    number: int
    message: str
    note: str
    pauses: list[str]

class PointWarning(UserWarning): ...

class Estimate(NamedTuple):
    e: Any  # float, or an array of the indices' shape
    u: Any

class Answers(NamedTuple):
    y: Estimate
    xy: Estimate
    mc: Estimate | None

class WeightedFit(NamedTuple):
    order: int
    coefficients: npt.NDArray[np.float64]
    covariance: npt.NDArray[np.float64]
    chi2: float
    reduced_chi2: float | None
    Q: float | None
    verdict: str | None
    dof: int
    aic: float
    aicc: float | None
    bic: float
    @property
    def polynomial(self) -> np.polynomial.Polynomial: ...

class FinalFit(NamedTuple):
    order: int
    coefficients: npt.NDArray[np.float64]
    standard_deviations: npt.NDArray[np.float64]
    covariance: npt.NDArray[np.float64]
    chi2: float
    reduced_chi2: float | None
    Q: float | None
    verdict: str | None
    dof: int
    aic: float
    aicc: float | None
    bic: float
    @property
    def polynomial(self) -> np.polynomial.Polynomial: ...

class MonteCarloFit(NamedTuple):
    order: int
    coefficients: npt.NDArray[np.float64]
    standard_deviations: npt.NDArray[np.float64]
    monte_carlo_covariance: npt.NDArray[np.float64]
    combined_covariance: npt.NDArray[np.float64]
    @property
    def polynomial(self) -> np.polynomial.Polynomial: ...

class Residuals(NamedTuple):
    q: npt.NDArray[np.float64]
    e_exp: npt.NDArray[np.float64]
    e_calc: npt.NDArray[np.float64]
    sdev: npt.NDArray[np.float64]
    mc: npt.NDArray[np.float64]

class Curve(NamedTuple):
    q: npt.NDArray[np.float64]
    e: npt.NDArray[np.float64]
    ue: npt.NDArray[np.float64]

class Calibration:
    @property
    def order(self) -> int: ...
    @property
    def weighted_fit(self) -> FinalFit: ...
    @property
    def weighted_fits(self) -> list[WeightedFit]: ...
    @property
    def monte_carlo_fit(self) -> MonteCarloFit: ...
    @property
    def polynomial(self) -> np.polynomial.Polynomial: ...
    @property
    def residuals(self) -> Residuals: ...
    @property
    def curve(self) -> Curve: ...
    @property
    def qmin(self) -> float: ...
    @property
    def qmax(self) -> float: ...
    @property
    def inputs(self) -> dict[str, Any]: ...
    def efficiency(self, q: float | _Reals, *, mc: bool = ..., out_of_range: Literal["raise", "nan"] = ...) -> Answers: ...
    def record(self) -> dict[str, Any]: ...
    def svg(self, width: int = ..., height: int = ..., title: str | None = ...) -> str: ...
    def report_html(self, heading: str | None = ...) -> str: ...
    def _repr_svg_(self) -> str | None: ...
    def _repr_html_(self) -> str: ...

def calibrate(q: _Reals, uq: _Reals | float, e: _Reals, ue: _Reals | float, urel: float = ..., order: int = ..., *,
              print_fits: bool = ..., drop_negligible: bool = ..., probability: bool = ..., curve: bool = ...,
              threads: int | None = ...) -> Calibration: ...
def read(directory: str | bytes | os.PathLike[str] = ...) -> dict[str, Any]: ...

class OrderComparison(dict[str, npt.NDArray[Any]]):
    recommended: int | None
    rule: str
    caution: str
    at: tuple[float, float, float]

def compare_orders(q: npt.ArrayLike, uq: npt.ArrayLike | float, e: npt.ArrayLike, ue: npt.ArrayLike | float,
                   urel: float = ..., orders: Sequence[int] | None = ..., *, threads: int | None = ...) -> OrderComparison: ...
