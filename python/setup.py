# Pure Python: `pip install ./python` builds with the setuptools already installed (Debian's
# python3-setuptools), no network needed.
from setuptools import setup

setup()
