"""Suite-wide settings. Under valgrind or a sanitizer (SKYLOOM_SLOW_RUNNER=1) every call is tens
of times slower: the random tests then run a few examples each, with no deadline."""
import os

from hypothesis import settings

SLOW = os.environ.get("SKYLOOM_SLOW_RUNNER") == "1"
SLOW_EXAMPLES = 10

settings.register_profile("slow-runner", max_examples=SLOW_EXAMPLES, deadline=None)
if SLOW:
    settings.load_profile("slow-runner")


def pytest_collection_modifyitems(items):
    if not SLOW:
        return
    # Tests that name their own example count keep it over the profile's: cap it here.
    for item in items:
        fn = getattr(item, "obj", None)
        own = getattr(fn, "_hypothesis_internal_use_settings", None)
        if own is not None and own.max_examples > SLOW_EXAMPLES:
            fn._hypothesis_internal_use_settings = settings(
                own, max_examples=SLOW_EXAMPLES, deadline=None
            )
