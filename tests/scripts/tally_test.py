#!/usr/bin/python3
"""scripts/tally on ctest results made for it: the form of each Windows build is named, disabled
tests are listed with their reasons, and a build whose tests were built but none ran fails."""
import os
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("SV_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
from gtest_results import check, run_cases  # noqa: E402


def build(root, name, cases, reasons=""):
    folder = os.path.join(root, name)
    os.makedirs(os.path.join(folder, "test-results"))
    with open(os.path.join(folder, "ctest-junit.xml"), "w") as f:
        f.write("<testsuite>" + "".join(f'<testcase name="{n}" status="{s}"/>' for n, s in cases)
                + "</testsuite>")
    with open(os.path.join(folder, "test-skip-reasons.txt"), "w") as f:
        f.write(reasons)
    return folder


def tally(*folders):
    r = subprocess.run([os.path.join(SOURCE, "scripts", "tally"), *folders], capture_output=True,
                       text=True)
    return r.returncode, r.stdout


def case_FormsAndReasonsAreNamed():
    with tempfile.TemporaryDirectory() as root:
        w64 = build(root, "windows64", [("a", "run"), ("b", "run"), ("floor", "disabled")],
                    "floor\tonly the 32-bit program has it\n")
        rc, out = tally(w64, build(root, "windows", [("a", "run")]))
        check(rc == 0, out)
        check("windows (64-bit under wine64): 2 passed, 0 failed, 1 skipped\n" in out, out)
        check("  skipped floor: only the 32-bit program has it\n" in out, out)
        check("windows (32-bit): 1 passed, 0 failed\n" in out, out)
        check(out.endswith("3 passed, 0 failed, 1 skipped\n"), out)


def case_ABuildThatRanNoTestFails():
    with tempfile.TemporaryDirectory() as root:
        rc, out = tally(build(root, "windows64", [("floor", "disabled")]))
        check(rc == 1 and "tally: windows64 ran no test" in out, out)
        rc, out = tally(build(root, "host", [("a", "run")]), os.path.join(root, "windows"))
        check(rc == 1 and "ctest did not run" in out, out)


if __name__ == "__main__":
    sys.exit(run_cases("tally", "Tally", [case_FormsAndReasonsAreNamed,
                                          case_ABuildThatRanNoTestFails]))
