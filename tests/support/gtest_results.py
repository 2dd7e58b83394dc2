"""Shared by the script tests: the failure a check raises, running the cases, and writing them
as a GoogleTest XML result file, which scripts/tally counts."""
import os
import time
import traceback
from xml.sax.saxutils import quoteattr


class Failure(Exception):
    """A check that did not hold: reported by its text, without a traceback."""


class Skipped(Exception):
    """A case that does not apply to this build: written as skipped, with its reason."""


SKIPPED = "skipped: "


def check(condition, message):
    if not condition:
        raise Failure(message)


def write_results(name, suite, results):
    """results: (case name, seconds, error text or None; an error text that starts with SKIPPED
    is the reason of a skipped case). Written to $SV_RESULTS_DIR/<name>.xml when the variable is
    set."""
    out = os.environ.get("SV_RESULTS_DIR")
    if not out:
        return
    os.makedirs(out, exist_ok=True)
    failures = sum(1 for r in results if r[2] and not r[2].startswith(SKIPPED))
    with open(os.path.join(out, name + ".xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        f.write(f'<testsuites tests="{len(results)}" failures="{failures}">\n'
                f'<testsuite name="{suite}" tests="{len(results)}" failures="{failures}">\n')
        for case, seconds, error in results:
            f.write(f'<testcase name="{case}" classname="{suite}" time="{seconds:.3f}">')
            if error and error.startswith(SKIPPED):
                f.write(f"<skipped message={quoteattr(error[len(SKIPPED):])}/>")
            elif error:
                f.write(f"<failure message={quoteattr(error[-2000:])}/>")
            f.write("</testcase>\n")
        f.write("</testsuite>\n</testsuites>\n")


def stop_processes(procs):
    """Kills what a case started and left running, and empties the list."""
    for proc in procs:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    procs.clear()


def run_cases(name, suite, cases, only=None, expected=(), after_each=None):
    """Runs the functions `cases` (named case_*) one after another, prints a line for each, writes
    the result file and returns the exit code. An exception of a type in `expected` is reported by
    its text, any other with its traceback; `after_each` runs after every case, failed or not."""
    results = []
    for case in cases:
        case_name = case.__name__[len("case_"):]
        if only and only not in case_name:
            continue
        begin = time.monotonic()
        error = None
        try:
            case()
        except Exception as e:  # noqa: BLE001 - every failure is reported as the case's
            error = str(e) if isinstance(e, expected) else traceback.format_exc()
        finally:
            if after_each:
                after_each()
        seconds = time.monotonic() - begin
        print(f"[{'  OK  ' if error is None else 'FAILED'}] {case_name} ({seconds:.1f} s)"
              + (f"\n    {error}" if error else ""), flush=True)
        results.append((case_name, seconds, error))
    write_results(name, suite, results)
    return 1 if any(r[2] for r in results) else 0
