#!/usr/bin/env python3
"""The fleet's checks and table (docs/fleet.md): the play's entry to the
package plc_fleet beside it (its cli says what each step does)."""
import sys

from plc_fleet.cli import main

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
