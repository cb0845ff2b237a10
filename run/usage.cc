#include "run/usage.h"

#include <stdio.h>

void print_usage() {
    // Operators' scripts know these lines as they are, their line endings and
    // spellings included.
    fputs(" params: iter,delay,start_DO_numer,end_DO_number,safe_thread \n\r  iter = 10..10000(max) \n\r ",
          stdout);
    fputs("  delay = delay in mks \n\r ", stdout);
    fputs("  start_DO_number = first num of digital output (for 100=25, for 110=42) \n\r ", stdout);
    fputs("  end_DO_number = last num of digital output (for 100=35, for 110=60) \n\r ", stdout);
    fputs("  use_safe_thread = N - use safe thread (write to N), 0 -not use safe thread \n\r ", stdout);
}

void print_iteration_limit() { puts("number of iterations can't exceed 10000"); }
