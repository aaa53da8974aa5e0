# The parts around the library that need more than the C++ standard library. Each one that is
# missing switches only its own part off, with one line that names the Debian package bringing
# it back; the library and its tests need none of them.
#
#   VM316_HAVE_CLI11    CLI11 (libcli11-dev): the vm316 command-line host and its tests
#   VM316_HAVE_MICROHTTPD  libmicrohttpd (libmicrohttpd-dev, found through pkg-config):
#                       `vm316 serve`; link the interface target vm316_microhttpd
#   VM316_HAVE_HTTPLIB  cpp-httplib (libcpp-httplib-dev, found through pkg-config): the HTTP
#                       client of the tests of `vm316 serve`; link the interface target
#                       vm316_httplib
#   VM316_HAVE_LIBZIP   libzip (libzip-dev, through pkg-config): sigrok session files
#                       (`-o capture.sr`); link the interface target vm316_libzip
#   VM316_HAVE_FFTW     FFTW (libfftw3-dev, through pkg-config): `measure --spectrum`; link the
#                       interface target vm316_fftw
#   VM316_HAVE_HDF5     libhdf5 (libhdf5-dev, through pkg-config): `measure -o run.h5`; link the
#                       interface target vm316_hdf5
#   VM316_H5PY_PYTHON   a Python 3 with h5py (python3-h5py): the tests that read the HDF5 files
#                       back; empty when there is none
#   VM316_SIGROK_CLI    sigrok-cli (sigrok-cli): the tests that read the session files back;
#                       empty when there is none
#   VM316_PYTHON        a Python 3 with NumPy and pytest (python3-numpy, python3-pytest): the
#                       tests of the Python package; empty when there is none

function(vm316_missing what package)
  message(NOTICE "vm316: ${what} not built: apt-get install ${package} brings it back")
endfunction()

set(VM316_HAVE_CLI11 OFF)
set(VM316_HAVE_MICROHTTPD OFF)
set(VM316_HAVE_HTTPLIB OFF)
set(VM316_HAVE_LIBZIP OFF)
set(VM316_HAVE_FFTW OFF)
set(VM316_HAVE_HDF5 OFF)
set(VM316_H5PY_PYTHON "")
set(VM316_SIGROK_CLI "")
set(VM316_PYTHON "")

if(CMAKE_CROSSCOMPILING)
  return()  # the cross builds make the library and its own test hosts only
endif()

if(VM316_BUILD_TOOLS)
  find_package(CLI11 CONFIG QUIET)
  if(CLI11_FOUND)
    set(VM316_HAVE_CLI11 ON)
  else()
    vm316_missing("the vm316 command-line host and its tests (no CLI11)" libcli11-dev)
  endif()
endif()

# A library found through pkg-config, as the interface target `target`; `found` says whether.
function(vm316_pkg_config module target found)
  find_package(PkgConfig QUIET)
  set(${found} OFF PARENT_SCOPE)
  if(NOT PkgConfig_FOUND)
    return()
  endif()
  pkg_check_modules(VM316_PC_${target} QUIET IMPORTED_TARGET GLOBAL ${module})
  if(VM316_PC_${target}_FOUND)
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE PkgConfig::VM316_PC_${target})
    set(${found} ON PARENT_SCOPE)
  endif()
endfunction()

if(VM316_BUILD_TOOLS AND VM316_HAVE_CLI11)
  vm316_pkg_config(libmicrohttpd vm316_microhttpd VM316_HAVE_MICROHTTPD)
  if(NOT VM316_HAVE_MICROHTTPD)
    vm316_missing("vm316 serve (no libmicrohttpd found through pkg-config)"
                  "libmicrohttpd-dev pkgconf")
  endif()
endif()

if(VM316_BUILD_TOOLS)
  vm316_pkg_config(libzip vm316_libzip VM316_HAVE_LIBZIP)
  if(NOT VM316_HAVE_LIBZIP)
    vm316_missing("sigrok session files (no libzip found through pkg-config)" "libzip-dev pkgconf")
  endif()
  vm316_pkg_config(fftw3 vm316_fftw VM316_HAVE_FFTW)
  if(NOT VM316_HAVE_FFTW)
    vm316_missing("measure --spectrum (no FFTW found through pkg-config)" "libfftw3-dev pkgconf")
  endif()
  vm316_pkg_config(hdf5 vm316_hdf5 VM316_HAVE_HDF5)
  if(NOT VM316_HAVE_HDF5)
    vm316_missing("HDF5 run files (no libhdf5 found through pkg-config)" "libhdf5-dev pkgconf")
  endif()
endif()

if(VM316_BUILD_TESTS AND VM316_HAVE_CLI11)
  find_program(VM316_SIGROK_CLI_FOUND NAMES sigrok-cli)
  if(VM316_SIGROK_CLI_FOUND)
    set(VM316_SIGROK_CLI ${VM316_SIGROK_CLI_FOUND})
  else()
    vm316_missing("the tests that read sigrok session files back (no sigrok-cli)" sigrok-cli)
  endif()
endif()

if(VM316_BUILD_TESTS AND VM316_HAVE_MICROHTTPD)
  # Debian's cpp-httplib is a compiled library: its compile definitions (TLS, compression)
  # must be the ones it was built with, which only its pkg-config file knows.
  vm316_pkg_config(cpp-httplib vm316_httplib VM316_HAVE_HTTPLIB)
  if(NOT VM316_HAVE_HTTPLIB)
    vm316_missing("the HTTP tests of vm316 serve (no cpp-httplib found through pkg-config)"
                  "libcpp-httplib-dev pkgconf")
  endif()
endif()

# The Python package needs no compiler; its tests need NumPy and pytest. The first interpreter
# on PATH may be a private one without them, so the system's is tried as well.
if(VM316_BUILD_TESTS)
  find_program(VM316_PYTHON_ON_PATH NAMES python3)
  foreach(candidate ${VM316_PYTHON_EXECUTABLE} ${VM316_PYTHON_ON_PATH} /usr/bin/python3)
    if(NOT EXISTS "${candidate}")
      continue()
    endif()
    execute_process(COMMAND ${candidate} -c "import numpy, pytest" RESULT_VARIABLE missing
                    OUTPUT_QUIET ERROR_QUIET)
    if(missing EQUAL 0)
      set(VM316_PYTHON ${candidate})
      break()
    endif()
  endforeach()
  if(NOT VM316_PYTHON)
    vm316_missing("the tests of the Python package (no python3 with NumPy and pytest)"
                  "python3-numpy python3-pytest")
  endif()
endif()

if(VM316_BUILD_TESTS AND VM316_HAVE_HDF5)
  foreach(candidate ${VM316_PYTHON} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import h5py" RESULT_VARIABLE missing
                    OUTPUT_QUIET ERROR_QUIET)
    if(missing EQUAL 0)
      set(VM316_H5PY_PYTHON ${candidate})
      break()
    endif()
  endforeach()
  if(NOT VM316_H5PY_PYTHON)
    vm316_missing("the tests that read HDF5 files back (no h5py)" python3-h5py)
  endif()
endif()
