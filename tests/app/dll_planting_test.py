#!/usr/bin/python3
"""DLLs planted beside the patcher under system DLL names are never loaded, in any role of the
program. Wine runs with WINEDLLOVERRIDES preferring native DLLs for those names, which makes it
search the program's folder first as Windows does; a control program that loads a name the
ordinary way shows that the planted DLL is then taken. The import tables of the shipped programs
name only DLLs that Windows takes from its own list (KnownDLLs).

  dll_planting_test.py --sarvik EXE --builder EXE --builder-cli EXE --embed EXE --planted DLL --loader EXE
                       --skin DIR --work DIR"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from gtest_results import Failure, check, run_cases  # noqa: E402
from patcher_window import WINE_RUN, make_skin, win_path, wait_log  # noqa: E402

# Loaded at their first use by the shipped programs, from the system folder.
PLANTED = ("winhttp", "wintrust", "crypt32", "urlmon", "gdiplus", "bcrypt")
# What Windows 7 and later take from their own KnownDLLs list, whatever lies beside a program.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
              "ole32.dll", "oleaut32.dll", "shell32.dll", "user32.dll"}

args = None


def wine_env():
    env = dict(os.environ)
    env["WINEDLLOVERRIDES"] = ",".join(PLANTED) + "=n,b"
    return env


def planted_folder(name, exe):
    folder = os.path.join(args.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    target = os.path.join(folder, os.path.basename(exe))
    shutil.copy(exe, target)
    for dll in PLANTED:
        shutil.copy(args.planted, os.path.join(folder, dll + ".dll"))
    return folder, target


def loaded(folder):
    return sorted(n for n in os.listdir(folder) if n.endswith(".loaded"))


def run(cmd, timeout=60):
    return subprocess.run([WINE_RUN, *cmd], env=wine_env(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


def case_control_planted_dll_is_taken_by_the_ordinary_search():
    folder, loader = planted_folder("control", args.loader)
    result = run([loader, "winhttp.dll"])
    check(result.returncode == 0 and loaded(folder) == ["winhttp.dll.loaded"],
          f"the planted DLL was not loaded by the ordinary search ({result.returncode}, "
          f"{loaded(folder)}): this test could not see a planted load")


def case_patcher_window_and_elevated_roles_load_none():
    skin = make_skin(os.path.join(args.work, "skin"), "http://127.0.0.1:9/config.xml")
    for role in ([], ["--sv-elevated"]):
        folder, exe = planted_folder("window" + "".join(role), args.sarvik)
        result = subprocess.run([WINE_RUN, args.embed, win_path(exe), win_path(skin)],
                                capture_output=True, timeout=120)
        check(result.returncode == 0, f"embedding the skin failed: {result.stderr!r}")
        proc = subprocess.Popen([WINE_RUN, exe, *role], env=wine_env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            # The run opens its HTTP session right after this line; the window has drawn its skin.
            seen = wait_log(folder, r"Sarvik basladi", 60)
            time.sleep(3)
        finally:
            proc.kill()
            proc.wait()
        check(seen is not None, f"the patcher{role} never tried the server")
        check(loaded(folder) == [], f"the patcher{role} loaded {loaded(folder)}")


def case_helper_roles_load_none():
    folder, exe = planted_folder("helpers", args.sarvik)
    run([exe, "--sv-close", "pid:4194300:1"])
    run([exe, "--sv-run", "Z:\\nonexistent\\game.exe"])
    check(loaded(folder) == [], f"a helper role loaded {loaded(folder)}")


def case_builder_loads_none():
    for exe in (args.builder, args.builder_cli):
        folder, copy = planted_folder("builder", exe)
        run([copy, "--build", "Z:\\nonexistent\\session.ini"])
        check(loaded(folder) == [], f"{os.path.basename(exe)} loaded {loaded(folder)}")


def case_import_tables_name_only_known_dlls():
    import pefile
    for exe in (args.sarvik, args.builder, args.builder_cli):
        pe = pefile.PE(exe, fast_load=True)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
        names = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
        check(names <= KNOWN_DLLS, f"{os.path.basename(exe)} imports {sorted(names - KNOWN_DLLS)}")


def main():
    global args
    parser = argparse.ArgumentParser()
    for name in ("--sarvik", "--builder", "--builder-cli", "--embed", "--planted", "--loader",
                 "--work"):
        parser.add_argument(name, required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    return run_cases("dll_planting", "dll_planting",
                     [case_control_planted_dll_is_taken_by_the_ordinary_search,
                      case_patcher_window_and_elevated_roles_load_none, case_helper_roles_load_none,
                      case_builder_loads_none, case_import_tables_name_only_known_dlls],
                     only=args.only, expected=(Failure,))


if __name__ == "__main__":
    sys.exit(main())
