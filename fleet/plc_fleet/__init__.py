"""The fleet's checks and table, by the sections results.py runs: the rows
(parameters, the single file, text as it came, rows from Ansible's results,
verdicts) and one module per view (CSV, Markdown, JSON, JUnit, the page)."""
