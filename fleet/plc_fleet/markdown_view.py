"""The Markdown table, for people, also printed by the play."""
from .cells import cell_text, cells, columns_of, command_of, the_same



def markdown_cell(value):
    """Escaped so that no text ends the row or its cell: backslash and |."""
    return cell_text(value).replace("\\", "\\\\").replace("|", "\\|")



def markdown(rows):
    parameters = the_same({"`%s`" % markdown_cell(command_of(row)) for row in rows}, "those")
    criteria = the_same({str(row.criteria) for row in rows}, "those")
    columns = columns_of(rows)
    lines = ["# plc_do_test on %d controllers" % len(rows), "",
             "Parameters: %s. Criteria: %s." % (parameters, markdown_cell(criteria)), "",
             "| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(markdown_cell(value) for value in cells(row, columns).values()) + " |")
    return "\n".join(lines) + "\n"
