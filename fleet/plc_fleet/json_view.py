"""The JSON: every row in full, with what each controller printed."""
import dataclasses

from .parameters import CLASSES



def as_json(rows):
    """Every row in full: its fields, the verdict's kind, what each printed."""
    return {row.host: dict(dataclasses.asdict(row), kind=row.kind, criteria=str(row.criteria),
                           counts=dict(zip(CLASSES, row.counts)) if row.counts else None) for row in rows}
