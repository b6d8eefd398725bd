"""The results of a test script that prints GoogleTest-style lines, as a JUnit
file at $FENNIX_SCRIPT_RESULTS (set by CTest), which ./run counts case by
case. Without the variable nothing is written."""
import os
from xml.sax.saxutils import quoteattr


def write_results(suite, passed, failed):
    """passed: names; failed: (name, problems) pairs."""
    path = os.environ.get("FENNIX_SCRIPT_RESULTS")
    if not path:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        out.write(f'<testsuite name={quoteattr(suite)} tests="{len(passed) + len(failed)}" failures="{len(failed)}">\n')
        for name in passed:
            out.write(f"  <testcase name={quoteattr(name)}/>\n")
        for name, problems in failed:
            out.write(f"  <testcase name={quoteattr(name)}><failure message={quoteattr('; '.join(problems))}/></testcase>\n")
        out.write("</testsuite>\n")
