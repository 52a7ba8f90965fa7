"""The Python module on both stores: drawing, batches, undo, caches, text and every error."""

import sqlite3
import threading

import pytest

import tgenerator


def test_draws_batches_and_undoes(store, table):
    with tgenerator.Sequence(
        mask="P-####", alias=store, table=table, start="0001", create=True
    ) as seq:
        assert seq.key_length == 6
        assert seq.next() == "P-0001"
        assert seq.next_batch(3) == ["P-0002", "P-0003", "P-0004"]
        assert seq.undo() == "P-0003"
        assert seq.next() == "P-0004"
        with tgenerator.Sequence(mask="P-####", alias=store, table=table, lock="fields") as other:
            assert other.next() == "P-0005"
        with pytest.raises(tgenerator.UndoRefused):
            seq.undo()


def test_closing_gives_the_cache_back(store, table):
    seq = tgenerator.Sequence(mask="C-##", alias=store, table=table, cache=5, create=True)
    assert seq.next() == "C-00"
    seq.close()
    seq.close()
    with pytest.raises(tgenerator.Error, match="closed"):
        seq.next()
    with tgenerator.Sequence(mask="C-##", alias=store, table=table) as again:
        assert again.next() == "C-01"


def test_invoice_options_and_cyrillic_text(store, table):
    with tgenerator.Sequence(
        mask="INV-@@@@-##-", alias=store, table=table, period="YYYY", date="2027-01-02",
        check="mod97", create=True,
    ) as seq:
        key = seq.next()
    assert key.startswith("INV-2027-00-") and len(key) == 14
    with tgenerator.Sequence(mask="СЧ-##", alias=store, table=table, start="07") as cyrillic:
        assert cyrillic.next() == "СЧ-07"
    with pytest.raises(tgenerator.BadInput, match="'中' at position"):
        tgenerator.Sequence(mask="中-##", alias=store, table=table)


@pytest.mark.parametrize(
    "options, error",
    [
        (dict(mask="AB["), tgenerator.BadInput),
        (dict(mask="##", colour="blue"), tgenerator.BadInput),
        (dict(mask="##", lock="sometimes"), tgenerator.BadInput),
        (dict(mask="##", cache=2.5), tgenerator.BadInput),
        (dict(mask="##", table="MISSING"), tgenerator.Unavailable),
    ],
)
def test_refusals_name_their_kind(store, options, error):
    with pytest.raises(error) as caught:
        tgenerator.Sequence(alias=store, **options)
    assert str(caught.value) and caught.value.code == error.code
    assert isinstance(caught.value, tgenerator.Error)


def test_a_row_kept_busy_is_waited_for_no_longer_than_max_wait(tmp_path, table):
    store = f"sqlite:{tmp_path}"
    with tgenerator.Sequence(mask="##", alias=store, table=table, create=True, max_wait=1) as seq:
        seq.next()
        holder = sqlite3.connect(tmp_path / table, isolation_level=None)
        holder.execute("BEGIN EXCLUSIVE")
        with pytest.raises(tgenerator.Busy):
            seq.next()
        holder.execute("ROLLBACK")
        assert seq.next() == "01"
        with pytest.raises(tgenerator.BadInput):
            seq.next_batch(0)


def test_threads_share_a_sequence_and_draw_every_key_once(store, table):
    keys = []
    with tgenerator.Sequence(mask="T-#####", alias=store, table=table, create=True) as shared:

        def draw():
            with tgenerator.Sequence(mask="T-#####", alias=store, table=table) as own:
                for _ in range(25):
                    keys.append(shared.next())
                    keys.extend(own.next_batch(2))

        threads = [threading.Thread(target=draw) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert sorted(keys) == [f"T-{i:05}" for i in range(300)]
