# Pure Python: `pip install ./python` builds with the setuptools already installed (Debian's
# python3-setuptools), no network needed. The build's scratch (build/, *.egg-info) goes to a
# temporary directory, so that installing writes nothing into the source tree.
import atexit
import shutil
import tempfile

from setuptools import setup

_scratch = tempfile.mkdtemp(prefix="vm316-build-")
atexit.register(shutil.rmtree, _scratch, ignore_errors=True)

setup(options={"build": {"build_base": f"{_scratch}/build"},
               "egg_info": {"egg_base": _scratch}})
