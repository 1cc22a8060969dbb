"""Imports MODULE with FOLDER first on the path, where a numpy stands that
serves no array interface; prints the ImportError it raised.

    broken_numpy_child.py FOLDER MODULE"""

import importlib
import sys

sys.path.insert(0, sys.argv[1])
try:
    importlib.import_module(sys.argv[2])
except ImportError as error:
    print("ImportError:", error)
