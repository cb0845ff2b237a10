"""The CSV table: one row per controller, safe to open in a spreadsheet."""
import csv
import re

from .cells import cell_text, cells, columns_of



def csv_cell(value):
    """A spreadsheet takes a cell beginning with = + - @ (or a tab, a carriage
    return) for a formula: such text gets a leading apostrophe."""
    text = cell_text(value)
    return "'" + text if not isinstance(value, int) and re.match(r"[=+\-@\t\r]|\\x0[9d]", text) else text



def write_csv(path, rows):
    columns = columns_of(rows)
    with open(path, "w", newline="", encoding="utf-8") as file:
        writer = csv.writer(file)
        writer.writerow(columns)
        for row in rows:
            writer.writerow(csv_cell(value) for value in cells(row, columns).values())

