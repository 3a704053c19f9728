"""Random calls of the five functions (see surface_calls.py) against the plain-Python model, and
the inputs that the coverage-guided fuzzer kept (fuzz/corpus/surface/)."""
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from surface_calls import check

CORPUS = os.path.join(os.path.dirname(__file__), os.pardir, "fuzz", "corpus", "surface")


@settings(max_examples=2000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.binary(max_size=400))
def test_random_calls_end_as_the_model_does(data):
    check(data)


@pytest.mark.parametrize("name", sorted(os.listdir(CORPUS)) if os.path.isdir(CORPUS) else [])
def test_kept_corpus(name):
    with open(os.path.join(CORPUS, name), "rb") as f:
        check(f.read())
