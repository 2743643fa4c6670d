# The package tarvel: everything of the extension tarvel._tarvel, shown as
# tarvel's own, and the version of the build.
from . import _tarvel
from ._tarvel import *  # noqa: F401,F403
from ._version import __version__  # noqa: F401

__doc__ = _tarvel.__doc__
for _name in dir(_tarvel):
    if getattr(getattr(_tarvel, _name), "__module__", None) == _tarvel.__name__:
        getattr(_tarvel, _name).__module__ = __name__
del _name
