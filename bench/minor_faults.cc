// Runs a command, its standard output thrown away, and prints the minor page
// faults it took, from rusage, and how it ended: its exit status, or
// "signal N".
//
//   minor_faults PROGRAM [ARG...]
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return 2;
    if (WIFEXITED(status)) {
        printf("%ld %d\n", usage.ru_minflt, WEXITSTATUS(status));
    } else {
        printf("%ld signal %d\n", usage.ru_minflt, WTERMSIG(status));
    }
    return 0;
}
