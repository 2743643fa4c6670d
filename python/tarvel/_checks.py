"""The checks of the arguments: a wrong type raises TypeError naming the argument."""
import numbers
import os

import numpy as np

_KINDS = {"b": "bool", "U": "str", "S": "bytes", "O": "objects", "c": "complex numbers"}


def _what(value, array=None):
    """What a value is, for a message: its type, or what an array of it holds."""
    if array is None or array.ndim == 0:
        return type(value).__name__
    return "an array of " + _KINDS.get(array.dtype.kind, array.dtype.name)


def is_real(value):
    """Whether value is a real number (True and False are not)."""
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))


def reals(name, value, *, scalar=False, like=None):
    """value as a float64 array; with `like`, a number is one for each element of like."""
    if isinstance(value, (str, bytes)):
        array = None
    else:
        array = np.asarray(value)
        if array.dtype.kind in "iuf":
            if like is not None and array.ndim == 0:
                return np.full(like.shape, float(array))
            return array.astype(np.float64, copy=False)
    kind = "a number or an array of numbers" if scalar or like is not None else "an array of numbers"
    raise TypeError(f"{name} must be {kind}, not {_what(value, array)}")


def real(name, value):
    """value as a float, when it is a real number."""
    if not is_real(value):
        raise TypeError(f"{name} must be a number, not {_what(value)}")
    return float(value)


def integer(name, value, *, none=False):
    """value as an int, when it is a whole number (or None, with none)."""
    if none and value is None:
        return None
    if not isinstance(value, (int, np.integer)) or isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be {'None or ' if none else ''}a whole number, not {_what(value)}")
    return int(value)


def flag(name, value):
    """value as a bool, when it is True or False."""
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, not {_what(value)}")
    return bool(value)


def path(name, value):
    """value as a path, when it is one."""
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{name} must be a path, not {_what(value)}")
    return value
