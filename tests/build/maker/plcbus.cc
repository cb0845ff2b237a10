// A controller maker's bus library, for the SDK build test: what the
// maker's libplc.so below needs besides the C and C++ runtimes. It notes
// every transfer in the file MAKER_LOG names.
#include <stdio.h>
#include <stdlib.h>

extern "C" int plcbus_transfer(const char* what, int port, int value) {
    if (const char* path = getenv("MAKER_LOG")) {
        if (FILE* log = fopen(path, "a")) {
            fprintf(log, "%s %d %d\n", what, port, value);
            fclose(log);
        }
    }
    return 0;
}
