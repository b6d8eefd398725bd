"""A test script's checks as GoogleTest-style lines, and their results as a
JUnit file at $FENNIX_SCRIPT_RESULTS (set by CTest), which ./run counts case
by case. Without the variable no file is written."""
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


class CheckRun:
    """One suite of named checks, each passed or failed with its problems."""

    def __init__(self, suite):
        self.suite = suite
        self.passed, self.failed, self.problems = [], [], []

    def test(self, name, problems):
        print(f"[ RUN      ] {self.suite}.{name}")
        for problem in problems:
            print(f"  {problem}")
        if problems:
            print(f"[  FAILED  ] {self.suite}.{name}")
            self.failed.append(name)
            self.problems.append((name, problems))
        else:
            print(f"[       OK ] {self.suite}.{name}")
            self.passed.append(name)

    def summary(self):
        """Prints the totals, writes the results; the exit status."""
        print(f"[==========] {len(self.passed) + len(self.failed)} tests ran.")
        print(f"[  PASSED  ] {len(self.passed)} tests.")
        if self.failed:
            print(f"[  FAILED  ] {len(self.failed)} tests, listed below:")
            for name in self.failed:
                print(f"[  FAILED  ] {self.suite}.{name}")
        write_results(self.suite, self.passed, self.problems)
        return 1 if self.failed else 0
