#include "profile/profile_files.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "profile/old_headers.h"

namespace {

void print_unopened(const char* option, const char* path, int error) {
    fprintf(stderr, "plc_do_profile: %s %s: cannot be opened: %s\n", option, path, strerror(error));
}

}  // namespace

bool open_profile_files(const profile_options& options, profile_files* files) {
    *files = profile_files{nullptr, -1};
    // The log first: appending loses nothing, while the JSON file is emptied
    // only once both are known to open.
    if (options.log_path != nullptr) {
        files->log_fd = open(options.log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (files->log_fd < 0) {
            print_unopened("--log", options.log_path, errno);
            return false;
        }
    }
    if (options.json_path != nullptr) {
        files->json = fopen(options.json_path, "w");
        if (files->json == nullptr) {
            const int error = errno;
            if (files->log_fd >= 0) close(files->log_fd);
            files->log_fd = -1;
            print_unopened("--json", options.json_path, error);
            return false;
        }
    }
    return true;
}
