// plc_do_profile's facts of a run, and the JSON string and policy name its
// printers share.
#ifndef PROFILE_FACTS_OUTPUT_H
#define PROFILE_FACTS_OUTPUT_H

#include <stdio.h>
#include <sys/time.h>

struct profile_run;

// The facts' lines of the text, from the identity line to the sweep's.
void print_facts_text(FILE* out, const profile_run& run);

// The JSON member "system": {...}, and the line feed after its comma.
void print_system_json(FILE* out, const profile_run& run);

// `text` as a JSON string: quoted, every byte outside printable ASCII escaped.
void print_json_string(FILE* out, const char* text);

// An errno's name ("EACCES"), or "errno" for one the program does not name.
const char* errno_name(int error);

// A scheduling policy's name ("SCHED_FIFO", "SCHED_FIFO|SCHED_RESET_ON_FORK"
// as chrt names it), or "policy N".
const char* policy_name(int policy, char (&unknown)[24]);


#endif
