# The Python package tarvel for pip and wheels, with Debian's python3 and no
# network: `pip install .` (in a venv made with --system-site-packages) or
# `python3 -m build --no-isolation --wheel`. setuptools takes the pure-Python
# files of python/tarvel/; the extension tarvel._tarvel and the version file
# come from the project's CMake build (pybind11-dev, python3-dev). The version
# is the one of project() in CMakeLists.txt.
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(HERE, "CMakeLists.txt")) as f:
    VERSION = re.search(r"project\(tarvel1 VERSION ([0-9.]+)", f.read()).group(1)
os.makedirs("build-python", exist_ok=True)


class CMakeBuild(build_ext):
    """Builds the target tarvel_python for this interpreter and takes its files."""

    def build_extension(self, ext):
        build = os.path.abspath(self.build_temp)
        subprocess.check_call(["cmake", "-S", HERE, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DTARVEL_TESTS=OFF",
                               "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "-j", str(os.cpu_count() or 1), "--target", "tarvel_python"])
        target = self.get_ext_fullpath(ext.name)
        built = os.path.join(build, "python", "tarvel")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(built, os.path.basename(target)), target)


setup(
    name="tarvel",
    version=VERSION,
    description="Calibration curves of detection efficiency against a quenching index, with uncertainties",
    python_requires=">=3.9",
    install_requires=["numpy"],
    packages=["tarvel"],
    package_dir={"tarvel": "python/tarvel"},
    package_data={"tarvel": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("tarvel._tarvel", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}},
    zip_safe=False,
)
