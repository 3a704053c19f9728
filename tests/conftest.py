"""Suite-wide settings. Random tests run their own example counts unless the environment caps
them: SKYLOOM_EXAMPLES=N caps every test at N examples (the per-version CI runs, which repeat
the reference run on other interpreters), and under valgrind or a sanitizer
(SKYLOOM_SLOW_RUNNER=1), where every call is tens of times slower, at 10 with no deadline."""
import os

from hypothesis import settings

SLOW = os.environ.get("SKYLOOM_SLOW_RUNNER") == "1"
CAP = 10 if SLOW else int(os.environ.get("SKYLOOM_EXAMPLES", "0"))

if CAP:
    settings.register_profile("capped", max_examples=CAP, deadline=None)
    settings.load_profile("capped")


def pytest_collection_modifyitems(items):
    if not CAP:
        return
    # Tests that name their own example count keep it over the profile's: cap it here.
    for item in items:
        fn = getattr(item, "obj", None)
        own = getattr(fn, "_hypothesis_internal_use_settings", None)
        if own is not None and own.max_examples > CAP:
            fn._hypothesis_internal_use_settings = settings(own, max_examples=CAP, deadline=None)
