"""Runs pytest with the arguments given; exits 77 (ctest's "skipped") when this Python has no
pytest."""
import sys

try:
    import pytest
except ImportError:
    print("python tests not run: no pytest for", sys.executable)
    sys.exit(77)

sys.exit(pytest.main(sys.argv[1:]))
