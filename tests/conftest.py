"""Suite-wide settings. Random tests run their own example counts unless the environment caps
them: SKYLOOM_EXAMPLES=N caps every test at N examples (the per-version CI runs, which repeat
the reference run on other interpreters), and under valgrind or a sanitizer
(SKYLOOM_SLOW_RUNNER=1), where every call is tens of times slower, at 10 with no deadline."""
import os

import pytest
from hypothesis import settings

SLOW = os.environ.get("SKYLOOM_SLOW_RUNNER") == "1"
CAP = 10 if SLOW else int(os.environ.get("SKYLOOM_EXAMPLES", "0"))

if CAP:
    settings.register_profile("capped", max_examples=CAP, deadline=None)
    settings.load_profile("capped")


def pytest_addoption(parser):
    parser.addoption("--run-slow", action="store_true",
                     help="also run the tests marked slow (full scans of 2**31 points)")


def pytest_collection_modifyitems(config, items):
    if not config.getoption("--run-slow"):
        skip = pytest.mark.skip(reason="a full scan of 2**31 points: run with --run-slow")
        for item in items:
            if "slow" in item.keywords:
                item.add_marker(skip)
    if not CAP:
        return
    # Tests that name their own example count keep it over the profile's: cap it here.
    for item in items:
        fn = getattr(item, "obj", None)
        own = getattr(fn, "_hypothesis_internal_use_settings", None)
        if own is not None and own.max_examples > CAP:
            fn._hypothesis_internal_use_settings = settings(own, max_examples=CAP, deadline=None)
