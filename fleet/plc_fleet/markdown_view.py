"""The Markdown table, for people, also printed by the play."""
import re

from .cells import cell_text, cells, columns_of, command_of, the_same

# What Markdown (GitHub's too) or HTML would read as other than text: HTML and
# entities, links and images, emphasis, code, struck text; the backslash and |
# so that no text ends its cell. An '_' inside a word (host_1) is none.
# Autolinks by their ':' of '://', the '.' of 'www.' and the '@' of an address.
MARKUP = re.compile(r"[\\|<>&\[\]!*`~@]|(?<![a-zA-Z0-9])_|_(?![a-zA-Z0-9])|(?<=[a-zA-Z]):(?=//)|(?<=\bwww)\.", re.I)


def markdown_cell(value):
    """A cell shown as the text it holds, each character that is markup
    escaped with a backslash."""
    return MARKUP.sub(lambda character: "\\" + character[0], cell_text(value))


def code_cell(value):
    """Text in a code span: nothing in it is markup but | and \\."""
    return cell_text(value).replace("\\", "\\\\").replace("|", "\\|").replace("`", "'")



def markdown(rows):
    parameters = the_same({"`%s`" % code_cell(command_of(row)) for row in rows}, "those")
    criteria = the_same({str(row.criteria) for row in rows}, "those")
    columns = columns_of(rows)
    lines = ["# plc_do_test on %d controllers" % len(rows), "",
             "Parameters: %s. Criteria: %s." % (parameters, markdown_cell(criteria)), "",
             "| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(markdown_cell(value) for value in cells(row, columns).values()) + " |")
    return "\n".join(lines) + "\n"
