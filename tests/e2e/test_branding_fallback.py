"""Where the branding configuration comes from when the executable has none:
"_tvautolib.pyd" beside it, read as data only, never searched for elsewhere."""

import shutil
import subprocess

BRANDING_TOOL = "desktop/windows/installer/branding_tool.exe"
FALLBACK = "desktop/windows/installer/_tvautolib.pyd"
LOADER = "desktop/windows/installer/library_loader.exe"
# The stand-in's code ends the process with this code if it ever runs.
CODE_RAN = 66


def run_in(build_dir, exe, cwd, *args):
    return subprocess.run([str(build_dir / "wine-run"), str(exe), *args], cwd=cwd,
                          capture_output=True, timeout=600)


def values(result):
    return dict(line.split("=", 1) for line in result.stdout.decode().splitlines())


def test_configuration_is_read_from_the_module_beside_the_executable(run_exe):
    result = run_exe(BRANDING_TOOL)
    assert result.returncode == 0, result
    assert values(result) == {"product": "Fallback", "company": "Fallback Software",
                              "version": "47.7.2548.0"}


def test_module_in_the_current_folder_is_not_used(build_dir, tmp_path):
    program_folder = tmp_path / "program"
    planted_folder = tmp_path / "planted"
    program_folder.mkdir()
    planted_folder.mkdir()
    shutil.copy(build_dir / BRANDING_TOOL, program_folder)
    shutil.copy(build_dir / FALLBACK, planted_folder)
    # A load by bare name would find the planted module and run it.
    planted = run_in(build_dir, build_dir / LOADER, planted_folder, "_tvautolib.pyd")
    assert planted.returncode == CODE_RAN

    result = run_in(build_dir, program_folder / "branding_tool.exe", planted_folder)
    assert result.returncode == 0, result
    assert values(result) == {"product": "", "company": "", "version": "45.0.2548.0"}
