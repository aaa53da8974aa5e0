"""The ctypes table against the C headers: a signature that drifts from vm316.h would pass
wrong values without any error, so every one is compared with the header's."""

import ctypes
import re

import vm316
from vm316._exports import FAMILY_EXPORTS, HOST_EXTRAS, MESSAGE_HANDLER

from conftest import SOURCE_DIR

C_TYPES = {
    "void": None, "uint8_t": ctypes.c_uint8, "uint16_t": ctypes.c_uint16,
    "int32_t": ctypes.c_int32, "uint32_t": ctypes.c_uint32, "double": ctypes.c_double,
    "TTrigSource": ctypes.c_uint8, "TMeasureMode": ctypes.c_uint8, "int": ctypes.c_int,
    "uintptr_t": ctypes.c_size_t, "intptr_t": ctypes.c_ssize_t, "void*": ctypes.c_void_p,
    "char*": ctypes.c_char_p, "vm316_message_handler": MESSAGE_HANDLER,
}


def c_type(text):
    text = " ".join(text.replace("const ", "").split()).replace(" *", "*")
    if text in C_TYPES:
        return C_TYPES[text]
    assert text.endswith("*"), text
    return ctypes.POINTER(C_TYPES[text[:-1]])


def header_signatures(name):
    text = re.sub(r"/\*.*?\*/", "", (SOURCE_DIR / "include" / name).read_text(), flags=re.S)
    signatures = {}
    for result, function, arguments in re.findall(
            r"VM316_API\s+([\w ]+?)\s*(?:VM_CALL\s+)?(\w+)\s*\(([^)]*)\)\s*;", text):
        parameters = [] if arguments.strip() == "void" else arguments.split(",")
        signatures[function] = (c_type(result),
                                tuple(c_type(re.sub(r"\w+\s*$", "", p)) for p in parameters))
    return signatures


def test_every_export_has_the_signature_of_its_header():
    assert FAMILY_EXPORTS == header_signatures("vm316.h")
    assert len(FAMILY_EXPORTS) == 115
    assert HOST_EXTRAS == header_signatures("vm316_host.h")


def test_the_loaded_library_carries_every_signature():
    library = vm316.library()
    for name, (restype, argtypes) in {**FAMILY_EXPORTS, **HOST_EXTRAS}.items():
        function = getattr(library, name)
        assert (function.restype, tuple(function.argtypes)) == (restype, argtypes), name


def test_status_codes_are_those_of_the_header():
    text = (SOURCE_DIR / "include" / "vm316.h").read_text()
    codes = dict(re.findall(r"\b(Status\w+) = (\d+)", text))
    assert {status.c_name: int(status) for status in vm316.Status} == \
        {name: int(code) for name, code in codes.items()}
