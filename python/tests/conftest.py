"""The stores the tests draw on: a SQLite folder of the test's own, and the PostgreSQL server
that scripts/with-postgres.sh started (skipped without it). Each test has a table of its own."""

import itertools
import os

import pytest

_tables = itertools.count()


@pytest.fixture(params=["sqlite", "postgresql"])
def store(request, tmp_path):
    if request.param == "sqlite":
        return f"sqlite:{tmp_path}"
    uri = os.environ.get("TGEN_PG_URI")
    if not uri:
        pytest.skip("no PostgreSQL server (run under scripts/with-postgres.sh)")
    return uri


@pytest.fixture
def table():
    return f"PY_{os.getpid()}_{next(_tables)}"
