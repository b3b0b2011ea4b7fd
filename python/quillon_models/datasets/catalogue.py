"""What each bundled data set is: its file, the columns, where it comes from
and on what terms it is shipped."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class DataSet:
    """A bundled data set: its file under ``data/`` and what is known of it."""

    name: str
    file: str
    title: str
    source: str
    licence: str
    columns: dict[str, str]
    # Strings that mark a missing value in the file.
    missing: tuple[str, ...] = ()


_UNSTATED = ("No licence is attached to the file by its source. It is shipped "
             "as teaching data that is freely and widely redistributed; quillon's "
             "MIT licence covers quillon's code, not these data. Cite the source "
             "where you use them.")

ADMISSIONS = DataSet(
    name="admissions",
    file="admissions.csv",
    title="Graduate-school admissions: 400 applicants",
    source=("The teaching data set 'binary.csv' of the UCLA Statistical Consulting "
            "Group (Institute for Digital Research and Education), used in its "
            "probit and logit regression examples."),
    licence=_UNSTATED,
    columns={
        "admit": "1 if the applicant was admitted, else 0",
        "gre": "GRE score",
        "gpa": "grade point average",
        "rank": "rank of the undergraduate institution, 1 (highest) to 4",
    },
)

MROZ = DataSet(
    name="mroz",
    file="mroz.csv",
    title="Labour-force participation of 753 married women in 1975",
    source=("T. A. Mroz (1987), 'The Sensitivity of an Empirical Model of Married "
            "Women's Hours of Work to Economic and Statistical Assumptions', "
            "Econometrica 55(4), 765-799, from the Panel Study of Income Dynamics; "
            "the copy distributed with J. M. Wooldridge's econometrics textbooks."),
    licence=_UNSTATED,
    columns={
        "inlf": "1 if in the labour force in 1975, else 0",
        "hours": "hours worked in 1975",
        "kidslt6": "number of children under 6",
        "kidsge6": "number of children aged 6 to 18",
        "age": "age in years",
        "educ": "years of schooling",
        "wage": "estimated hourly wage from earnings and hours (missing when not working)",
        "repwage": "reported wage at the 1976 interview",
        "hushrs": "husband's hours worked in 1975",
        "husage": "husband's age",
        "huseduc": "husband's years of schooling",
        "huswage": "husband's hourly wage in 1975",
        "faminc": "family income in 1975",
        "mtr": "federal marginal tax rate facing the woman",
        "motheduc": "mother's years of schooling",
        "fatheduc": "father's years of schooling",
        "unem": "unemployment rate in the county of residence",
        "city": "1 if living in a metropolitan area, else 0",
        "exper": "years of labour-market experience",
        "nwifeinc": "non-wife income, (faminc - wage * hours) / 1000",
        "lwage": "log of wage (missing when not working)",
        "expersq": "exper squared",
    },
    missing=(".",),
)

CATALOGUE = {data.name: data for data in (ADMISSIONS, MROZ)}
