"""Writes a script test's cases as a GoogleTest XML result file, which scripts/tally counts."""
import os
from xml.sax.saxutils import quoteattr


def write_results(name, suite, results):
    """results: (case name, seconds, error text or None). Written to $SV_RESULTS_DIR/<name>.xml
    when the variable is set."""
    out = os.environ.get("SV_RESULTS_DIR")
    if not out:
        return
    os.makedirs(out, exist_ok=True)
    failures = sum(1 for r in results if r[2])
    with open(os.path.join(out, name + ".xml"), "w") as f:
        f.write(f'<testsuites tests="{len(results)}" failures="{failures}">\n'
                f'<testsuite name="{suite}" tests="{len(results)}" failures="{failures}">\n')
        for case, seconds, error in results:
            f.write(f'<testcase name="{case}" classname="{suite}" time="{seconds:.3f}">')
            if error:
                f.write(f"<failure message={quoteattr(error[-2000:])}/>")
            f.write("</testcase>\n")
        f.write("</testsuite>\n</testsuites>\n")
