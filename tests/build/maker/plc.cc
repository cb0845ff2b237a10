// A controller maker's libplc.so, for the SDK build test: the three calls the
// program makes, passed on to a second library of the maker (libplcbus.so),
// using the C++ runtime and POSIX threads as such libraries do.
#include <pthread.h>
#include <stdint.h>

#include <string>

extern "C" int plcbus_transfer(const char* what, int port, int value);

namespace {
pthread_mutex_t bus = PTHREAD_MUTEX_INITIALIZER;

int32_t transfer(const std::string& what, int32_t port, int32_t value) {
    pthread_mutex_lock(&bus);
    const int result = plcbus_transfer(what.c_str(), port, value);
    pthread_mutex_unlock(&bus);
    return result;
}
}  // namespace

extern "C" int32_t plc_write_port(int32_t port, int32_t value) { return transfer("write", port, value); }
extern "C" int32_t plc_write_port_safe_value(int32_t port, int32_t value) {
    return transfer("safe_value", port, value);
}
extern "C" int32_t plc_wait_ms(int32_t ms) { return transfer("wait_ms", ms, 0); }
