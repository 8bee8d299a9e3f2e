# Builds the Python module: the core library's sources (the one list in
# src/sources.txt, which CMake reads too) and the binding, with the flags of
# the CMake Release build.
import re
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

here = Path(__file__).resolve().parent
version = re.search(r"project\(quorlen VERSION ([0-9.]+)", (here / "CMakeLists.txt").read_text()).group(1)
sources = [line for line in (here / "src/sources.txt").read_text().splitlines() if line and not line.startswith("#")]

ParallelCompile("QUORLEN_BUILD_JOBS").install()

setup(
    name="quorlen",
    version=version,
    description="Rooting phylogenetic trees: every rooting, outgroup, midpoint, minimal variance, "
    "minimal ancestor deviation and root-to-tip regression",
    package_dir={"": "python"},
    packages=["quorlen"],
    package_data={"quorlen": ["__init__.pyi", "py.typed"]},
    ext_modules=[
        Pybind11Extension(
            "quorlen._quorlen",
            sources + ["python/binding.cpp"],
            include_dirs=["src"],
            define_macros=[("QUORLEN_VERSION", '"%s"' % version), ("NDEBUG", None)],
            # Python's own flags come first: -fwrapv and the stack
            # protector of its build are taken back.
            extra_compile_args=["-O3", "-Wall", "-Wextra", "-pedantic", "-pthread", "-fno-wrapv", "-fno-stack-protector"],
            extra_link_args=["-pthread"],
            cxx_std=17,
        )
    ],
    python_requires=">=3.8",
    # Out of the CMake build's folder.
    options={"build": {"build_base": "build-python/setuptools"}},
    zip_safe=False,
)
