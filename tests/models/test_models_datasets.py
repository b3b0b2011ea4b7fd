"""The bundled data sets as the docs load them, and the synthetic Parquet
data set that the Dask examples write."""

import numpy as np
import pandas as pd
import pytest

import quillon_models as qm
from quillon_models import datasets
from quillon_models.datasets.catalogue import CATALOGUE


@pytest.mark.parametrize("name", sorted(CATALOGUE))
def test_load_matches_the_shared_file_and_its_description(name, data_dir):
    entry = CATALOGUE[name]
    loaded = datasets.load(name)
    pd.testing.assert_frame_equal(
        loaded, pd.read_csv(data_dir / entry.file, na_values=list(entry.missing) or None))
    assert list(loaded.columns) == list(entry.columns)
    assert all(column in datasets.describe(name) for column in entry.columns)
    loaded.iloc[0, 0] = -1  # a new frame each time: the caller may change it
    assert datasets.load(name).iloc[0, 0] != -1


def test_mroz_dot_is_missing():
    mroz = datasets.load("mroz")
    assert mroz["wage"].isna().sum() == 325 and mroz["wage"].dtype == np.float64


@pytest.mark.parametrize("call", [datasets.load, datasets.describe])
@pytest.mark.parametrize("name", ["Mroz", "", None])
def test_unknown_name_is_refused(call, name):
    with pytest.raises(ValueError, match="argument 'name'.*'admissions', 'mroz'"):
        call(name)


def test_written_parquet_is_reproducible_and_recovers_its_coefficients(tmp_path):
    pytest.importorskip("pyarrow")
    first = datasets.write_parquet(tmp_path / "a", rows=100_000, files=3, seed=7)
    again = datasets.write_parquet(tmp_path / "b", rows=100_000, files=3, seed=7)
    files = sorted(p.name for p in first.iterdir())
    assert files == ["part-00000.parquet", "part-00001.parquet", "part-00002.parquet"]
    frames = [pd.read_parquet(first / f) for f in files]
    for name, frame in zip(files, frames):
        pd.testing.assert_frame_equal(frame, pd.read_parquet(again / name))
    whole = pd.concat(frames)
    assert list(whole.index) == list(range(100_000))
    fit = qm.probit("admit ~ gre + gpa + C(rank)", whole).fit()
    truth = pd.Series(datasets.TRUE_PARAMS)
    assert (abs(fit.params - truth) < 4 * fit.bse).all()


@pytest.mark.parametrize("rows, files, seed, message", [
    (0, 1, 0, "argument 'rows'"), (10, 2.0, 0, "argument 'files'"),
    (True, 1, 0, "argument 'rows'"), (3, 4, 0, "argument 'files'"),
    (10**20, 1, 0, "argument 'rows': at most 2..53"), (10, 1, -1, "argument 'seed'"),
    (10, 1, 0.5, "argument 'seed'"), (10, 1, "7", "argument 'seed'"),
])
def test_write_parquet_refuses_bad_arguments_before_writing(tmp_path, rows, files, seed,
                                                            message):
    with pytest.raises(ValueError, match=message):
        datasets.write_parquet(tmp_path / "out", rows=rows, files=files, seed=seed)
    assert not (tmp_path / "out").exists()


def test_write_parquet_leaves_a_used_folder_alone(tmp_path):
    (tmp_path / "mine.txt").write_text("keep")
    with pytest.raises(FileExistsError, match="argument 'folder'"):
        datasets.write_parquet(tmp_path, rows=10, files=1)
    assert [p.name for p in tmp_path.iterdir()] == ["mine.txt"]
