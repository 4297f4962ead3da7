# The peer's own tests import it by module name.
import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
