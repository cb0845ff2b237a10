// The files plc_do_profile writes besides standard output: --json FILE's
// and --log FILE's, opened before the sweep so that a file it cannot write
// refuses the run before it begins, not after hours of it.
#ifndef PROFILE_PROFILE_FILES_H
#define PROFILE_PROFILE_FILES_H

#include <stdio.h>

#include "profile/profile_options.h"

struct profile_files {
    FILE* json;  // --json FILE, truncated; nullptr: none given
    int log_fd;  // --log FILE, appended to; -1: none given
};

// Opens the files `options` names into `files`; false, with one line on
// standard error naming the file and why, when one cannot be opened.
bool open_profile_files(const profile_options& options, profile_files* files);

#endif
