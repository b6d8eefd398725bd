"""The package's version: the toolkit's, which the top CMakeLists.txt sets
(the tests check that the two agree)."""

VERSION = "1.0.0"
