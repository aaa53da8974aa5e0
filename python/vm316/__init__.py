"""vm316 from Python: the driver library of the two-channel 8-bit 20 MHz PC oscilloscope board,
over ctypes (no compiler needed).

Two layers:

- ``vm316.library()``: every export of ``vm316.h`` and ``vm316_host.h`` with its exact C
  signature, answering raw status codes;
- ``vm316.Instrument``: a context manager with the settings as properties in volts, hertz and
  seconds, read by the command line's rules (``"2.5M"``, ``"500mV"``), and ``measure()``
  giving NumPy arrays with Trig'd or Auto; a refused value or a failed call raises a
  ``Vm316Error`` subclass that also derives from the fitting Python exception
  (``InvalidValueError`` is a ``ValueError``).

The library is found through ``VM316_LIBRARY``, beside this package when installed with
``cmake --install``, in the source tree's build directory, or by the system's loader. With
``VM316_PORT=sim`` (and ``VM316_CLOCK=virtual``) it runs the simulated board.
"""

from ._library import Library, find_library, library
from ._status import (AlreadyOpenError, InvalidChannelError, InvalidValueError,
                      NoGeneratorError, NoHardwareError, NotInitializedError, NotSupportedError,
                      Status, Vm316Error, check)
from .analysis import SpectralLine, Spectrum, Statistics
from .instrument import (DEFAULT_ADDRESS, Channel, Coupling, Instrument, Measurement,
                         MeasureMode, Slope, TriggerSource, TriggerState)

__version__ = "0.1.0"

__all__ = [
    "AlreadyOpenError", "TriggerState", "Channel", "Coupling", "DEFAULT_ADDRESS", "Instrument", "InvalidChannelError",
    "InvalidValueError", "Library", "MeasureMode", "Measurement", "NoGeneratorError",
    "NoHardwareError", "NotInitializedError", "NotSupportedError", "Slope", "SpectralLine",
    "Spectrum", "Statistics", "Status", "TriggerSource", "Vm316Error", "check", "find_library", "library",
]
