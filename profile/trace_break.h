// The kernel's trace at a spike (--break US): at the first delay above US,
// plc_do_profile marks the trace with a line and stops tracing, so that the
// trace ends at the spike. tracefs' files are opened before the sweep; where
// they cannot be, the profile says why and the run goes on without them.
#ifndef PROFILE_TRACE_BREAK_H
#define PROFILE_TRACE_BREAK_H

#include <stdint.h>
#include <stdio.h>

// The tracefs file a refusal is about.
enum trace_file { no_trace_file, trace_marker_file, tracing_on_file };

// tracefs' folder and files as opened, and what the break wrote to them.
struct trace_files {
    int marker_fd;  // trace_marker, or -1
    int on_fd;      // tracing_on, or -1
    int error;      // why they are not open (an errno; 0: open); ENOENT with dir "": no tracefs
    trace_file refused;  // the file `error` is about
    char dir[256];       // tracefs' folder, "" when none was found
    int marker_error;    // at the break, why the marker was not written (an errno; 0: written)
    int stop_error;      // at the break, why tracing was not stopped (an errno; 0: stopped)
};

// tracefs in /sys/kernel/tracing, or else in /sys/kernel/debug/tracing.
void open_trace_files(trace_files* files);

// tracefs in the first of `folders` that holds a trace_marker, or that may
// not be looked into.
void open_trace_files_in(trace_files* files, const char* const* folders, int count);

void close_trace_files(trace_files* files);

// The line at the spike into trace_marker, then "0" into tracing_on. Writes
// only to what was opened; no heap.
void break_trace(trace_files* files, uint32_t iteration, uint32_t output, uint64_t delay_us);

// The profile's lines on the trace: where tracefs is or why it cannot be
// written, and, when the run broke, whether the marker was written and
// tracing stopped.
void print_trace_text(FILE* out, const trace_files& files, bool broke);

// The JSON member "trace": {...}, with no comma after it.
void print_trace_json(FILE* out, const trace_files& files, bool broke);

#endif
