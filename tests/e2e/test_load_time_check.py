"""The installer library's processor check, which runs while the library
loads: a library that carries it with a processor lacking SSE2 ends the
process before any of its own code, and the real library loads."""

import re
import struct
import subprocess

LOADER = "desktop/windows/installer/library_loader.exe"
LIBRARY = "desktop/windows/installer/tarvo_installer.dll"
TEST_LIBRARY = "desktop/windows/installer/load_check_test_library.dll"
TLS_DIRECTORY = 9
CALLBACK_SYMBOL = "CheckProcessorOnLoad"


def test_processor_without_sse2_ends_the_load_with_exit_code_1(run_exe, build_dir):
    result = run_exe(LOADER, build_dir / TEST_LIBRARY)
    assert result.returncode == 1, result
    # Query 10 is SSE2; box type 0 is MB_OK; nothing of the library ran.
    assert result.stdout.decode().splitlines() == [
        "query 10",
        "box unowned 0 Error: This program requires a computer that supports SSE2 instructions.",
    ]


def test_library_loads_on_this_processor(run_exe, build_dir):
    result = run_exe(LOADER, build_dir / LIBRARY)
    assert (result.returncode, result.stdout.split()) == (0, [b"loaded"])


def tls_callbacks(image):
    """The virtual addresses of an x64 image's TLS callbacks, in call order."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    image_base = struct.unpack_from("<Q", image, optional + 24)[0]
    tls_rva = struct.unpack_from("<I", image, optional + 112 + 8 * TLS_DIRECTORY)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            _, size, address, _, raw = struct.unpack_from("<8sIIII", image, table + 40 * i)
            if address <= rva < address + size:
                return raw + rva - address
        raise AssertionError(f"RVA {rva:#x} outside every section")

    callbacks_va = struct.unpack_from("<Q", image, offset(tls_rva) + 24)[0]
    position = offset(callbacks_va - image_base)
    callbacks = []
    while (callback := struct.unpack_from("<Q", image, position)[0]) != 0:
        callbacks.append(callback)
        position += 8
    return callbacks


def symbol_address(build_dir, relative, name):
    # A shipped library keeps its symbols beside it, in "<file>.debug".
    path = build_dir / relative
    if path.with_name(path.name + ".debug").exists():
        path = path.with_name(path.name + ".debug")
    symbols = subprocess.run(["x86_64-w64-mingw32-nm", str(path)],
                             capture_output=True, text=True, check=True).stdout
    found = re.findall(rf"^([0-9a-f]+) t \S*{name}\S*$", symbols, re.MULTILINE)
    assert len(found) == 1, found
    return int(found[0], 16)


def test_check_is_the_libraries_first_tls_callback(build_dir):
    for library in (LIBRARY, TEST_LIBRARY):
        callbacks = tls_callbacks((build_dir / library).read_bytes())
        assert callbacks[0] == symbol_address(build_dir, library, CALLBACK_SYMBOL), library
