// tracefs' files opened before the sweep and written at the break. Nothing
// here runs inside a measured window: the files are opened before the sweep
// and written once, after the delay that breaks it.
#include "profile/trace_break.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "profile/facts_output.h"

namespace {

const char* const tracefs_folders[] = {"/sys/kernel/tracing", "/sys/kernel/debug/tracing"};

const char* file_name(trace_file file) {
    switch (file) {
        case trace_marker_file:
            return "trace_marker";
        case tracing_on_file:
            return "tracing_on";
        default:
            return "tracefs";
    }
}

using reason_text = char[200];

// "trace_marker: EACCES 13: Permission denied", or "tracefs: not found".
const char* reason(reason_text& text, trace_file file, int error) {
    if (file == no_trace_file && error == ENOENT) return "tracefs: not found";
    snprintf(text, sizeof text, "%s: %s %i: %s", file_name(file), errno_name(error), error, strerror(error));
    return text;
}

// The file in the folder, opened for writing; -1 with *error set if not.
int open_in(const char* dir, trace_file file, int* error) {
    char path[sizeof trace_files{}.dir + 16];
    int fd = -1;
    if (snprintf(path, sizeof path, "%s/%s", dir, file_name(file)) >= static_cast<int>(sizeof path)) {
        errno = ENAMETOOLONG;
    } else {
        fd = open(path, O_WRONLY | O_CLOEXEC);
    }
    *error = fd < 0 ? errno : 0;
    return fd;
}

// The whole of `text` written at once, as tracefs takes it; 0 or an errno.
int write_all(int fd, const char* text, size_t size) {
    if (fd < 0) return EBADF;
    ssize_t written = write(fd, text, size);
    if (written < 0) return errno;
    return static_cast<size_t>(written) == size ? 0 : EIO;
}

// A folder that holds tracefs: its trace_marker is there, or it may not be
// looked into (then it is where tracefs would be, and the reason is kept).
bool holds_tracefs(trace_files* files, const char* dir) {
    int error = 0;
    files->marker_fd = open_in(dir, trace_marker_file, &error);
    if (error == ENOENT || error == ENOTDIR) return false;
    snprintf(files->dir, sizeof files->dir, "%s", dir);
    files->error = error;
    files->refused = error ? trace_marker_file : no_trace_file;
    if (error == 0) {
        files->on_fd = open_in(dir, tracing_on_file, &files->error);
        if (files->error != 0) {
            // Both or neither: a marker with tracing left on would not end the trace at the spike.
            files->refused = tracing_on_file;
            close(files->marker_fd);
            files->marker_fd = -1;
        }
    }
    return true;
}

void print_json_reason_or_null(FILE* out, trace_file file, int error) {
    if (error == 0) {
        fputs("null", out);
        return;
    }
    reason_text text;
    print_json_string(out, reason(text, file, error));
}

}  // namespace

void open_trace_files(trace_files* files) {
    open_trace_files_in(files, tracefs_folders, static_cast<int>(sizeof tracefs_folders / sizeof *tracefs_folders));
}

void open_trace_files_in(trace_files* files, const char* const* folders, int count) {
    *files = trace_files{};
    files->marker_fd = files->on_fd = -1;
    files->error = ENOENT;
    files->refused = no_trace_file;
    for (int k = 0; k < count; ++k) {
        if (holds_tracefs(files, folders[k])) return;
    }
}

void close_trace_files(trace_files* files) {
    if (files->marker_fd >= 0) close(files->marker_fd);
    if (files->on_fd >= 0) close(files->on_fd);
    files->marker_fd = files->on_fd = -1;
}

void break_trace(trace_files* files, uint32_t iteration, uint32_t output, uint64_t delay_us) {
    char line[128];
    int size = snprintf(line, sizeof line, "plc_do_profile: break at iteration %u, output %u, delay %llu us\n",
                        static_cast<unsigned>(iteration), static_cast<unsigned>(output),
                        static_cast<unsigned long long>(delay_us));
    files->marker_error = write_all(files->marker_fd, line, static_cast<size_t>(size));
    files->stop_error = write_all(files->on_fd, "0", 1);
}

void print_trace_text(FILE* out, const trace_files& files, bool broke) {
    reason_text text;
    if (files.error == 0) {
        fprintf(out, "tracefs: %s\n", files.dir);
    } else if (files.dir[0] == '\0') {
        fprintf(out, "%s\n", reason(text, files.refused, files.error));
    } else {
        fprintf(out, "tracefs: %s, %s\n", files.dir, reason(text, files.refused, files.error));
    }
    if (!broke) return;
    if (files.error != 0) {
        fputs("break: run stopped, no trace marked\n", out);
        return;
    }
    fputs("break: ", out);
    if (files.marker_error == 0) {
        fputs("marker written", out);
    } else {
        fprintf(out, "marker not written (%s)", reason(text, trace_marker_file, files.marker_error));
    }
    if (files.stop_error == 0) {
        fputs(", tracing stopped\n", out);
    } else {
        fprintf(out, ", tracing not stopped (%s)\n", reason(text, tracing_on_file, files.stop_error));
    }
}

void print_trace_json(FILE* out, const trace_files& files, bool broke) {
    fputs("\"trace\": {\"tracefs\": ", out);
    if (files.dir[0] == '\0') {
        fputs("null", out);
    } else {
        print_json_string(out, files.dir);
    }
    fputs(", \"refused\": ", out);
    print_json_reason_or_null(out, files.refused, files.error);
    fputs(", \"break\": ", out);
    if (!broke) {
        fputs("null}", out);
        return;
    }
    bool open = files.error == 0;
    fprintf(out, "{\"marker_written\": %s, \"marker_refused\": ", open && files.marker_error == 0 ? "true" : "false");
    print_json_reason_or_null(out, trace_marker_file, open ? files.marker_error : 0);
    fprintf(out, ", \"tracing_stopped\": %s, \"stop_refused\": ", open && files.stop_error == 0 ? "true" : "false");
    print_json_reason_or_null(out, tracing_on_file, open ? files.stop_error : 0);
    fputs("}}", out);
}
