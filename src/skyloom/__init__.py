"""skyloom: the native core of an interactive plotting package.

The heavy inner loops live in the compiled module ``skyloom._cy_utils``.
"""

__version__ = "0.1.0"
