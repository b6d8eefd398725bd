"""The package's build backend: setuptools, run on a copy of the sources.

setuptools writes build/ and fennix.egg-info beside pyproject.toml; building
from a scratch copy leaves the source folder as it was, so installing from a
read-only checkout works and a checkout stays clean. Editable installs build
in place: they point at the sources by design.
"""

import contextlib
import importlib.util
import os
import shutil
import tempfile

from setuptools import build_meta as _setuptools

# Only the hooks this setuptools has: a hook that is present must be callable.
for _name in ("build_editable", "get_requires_for_build_editable", "prepare_metadata_for_build_editable"):
    if hasattr(_setuptools, _name):
        globals()[_name] = getattr(_setuptools, _name)


@contextlib.contextmanager
def _in_a_copy():
    source = os.getcwd()
    with tempfile.TemporaryDirectory(prefix="fennix-build-") as scratch:
        copy = os.path.join(scratch, "fennix")
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns("build", "dist", "*.egg-info", "__pycache__"))
        os.chdir(copy)
        try:
            yield
        finally:
            os.chdir(source)
            # Importing this module wrote its bytecode beside it.
            cached = importlib.util.cache_from_source(os.path.abspath(__file__))
            with contextlib.suppress(OSError):
                os.remove(cached)
                os.rmdir(os.path.dirname(cached))


def _hook(name):
    def run(*args, **kwargs):
        # Output folders pip names may be relative to the source folder.
        if args and isinstance(args[0], str):
            args = (os.path.abspath(args[0]),) + args[1:]
        with _in_a_copy():
            return getattr(_setuptools, name)(*args, **kwargs)

    run.__name__ = name
    return run


build_wheel = _hook("build_wheel")
build_sdist = _hook("build_sdist")
prepare_metadata_for_build_wheel = _hook("prepare_metadata_for_build_wheel")
get_requires_for_build_wheel = _hook("get_requires_for_build_wheel")
get_requires_for_build_sdist = _hook("get_requires_for_build_sdist")
