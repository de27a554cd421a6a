"""Counts the checks of a Python test script and prints the closing line."""


class Tally:
    def __init__(self, suite):
        self.suite = suite
        self.passed = 0
        self.failed = 0

    def check(self, name, condition, detail=""):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {name}: {detail}")

    def finish(self):
        """Prints 'suite: N passed, N failed' and gives the exit code."""
        print(f"{self.suite}: {self.passed} passed, {self.failed} failed")
        return 0 if self.failed == 0 and self.passed > 0 else 1
