// The controller I/O calls the program makes. The controller's own libplc.so
// provides them on the target; plcsim/ provides a stand-in for building and
// testing on a PC. Arguments and results are 32-bit; a negative result means
// the operation was not done.
#ifndef PLC_PLC_H
#define PLC_PLC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Sets digital output `port` to `value` (0 or 1).
int32_t plc_write_port(int32_t port, int32_t value);

// Sets the value digital output `port` falls back to when the controller
// goes to its safe state.
int32_t plc_write_port_safe_value(int32_t port, int32_t value);

// Waits `ms` milliseconds.
int32_t plc_wait_ms(int32_t ms);

#ifdef __cplusplus
}
#endif

#endif
