// plc_do_profile's run sequence: command line, system settings, the sweep
// with its write times, the report and the profile, exit status (those of
// plc_do_test, run/run.h).
#ifndef PROFILE_PROFILE_H
#define PROFILE_PROFILE_H

// Everything plc_do_profile's `main` does: returns the process's exit status.
// `identity` holds the program's identity line, printed with the profile.
int run_plc_do_profile(int argc, const char* const* argv, const char* identity);

#endif
