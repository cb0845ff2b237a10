"""The CSV table: one row per controller, safe to open in a spreadsheet."""
import re

from .cells import cell_text, cells, columns_of

# A spreadsheet takes = + - @ (or a tab, a carriage return: here \x09, \x0d)
# for a formula at a cell's start; one that splits on ';' or a tab (the list
# separator of many locales) also after each of them, and after ','.
FORMULA = re.compile(r"(^|[,;]|\\x09)(?=[=+\-@]|\\x0[9d])")
# Cells holding these are quoted, so that no separator splits them.
QUOTED = re.compile(r'[,;"]')


def csv_cell(value):
    """A value's cell: an apostrophe before each formula character that a
    spreadsheet could read at a cell's start."""
    text = cell_text(value)
    return text if isinstance(value, int) else FORMULA.sub(lambda start: start[1] + "'", text)


def csv_line(texts):
    """One line of the table, as RFC 4180 has it; every cell that holds a
    separator of any locale in double quotes."""
    return ",".join('"%s"' % text.replace('"', '""') if QUOTED.search(text) else text for text in texts) + "\r\n"


def write_csv(path, rows):
    columns = columns_of(rows)
    with open(path, "w", newline="", encoding="utf-8") as file:
        file.write(csv_line(columns))
        for row in rows:
            file.write(csv_line(csv_cell(value) for value in cells(row, columns).values()))

