// Inspection side of the stand-in controller library, for unit tests: read
// back the calls the library received, make it refuse writes, start afresh.
// The program itself knows nothing of it; end-to-end tests and users set the
// stand-in up through its PLCSIM_* environment variables instead.
#ifndef PLCSIM_PLCSIM_H
#define PLCSIM_PLCSIM_H

#include <stddef.h>
#include <stdint.h>

namespace plcsim {

enum class call_kind : uint8_t { safe_value, write, wait_ms };

struct call {
    call_kind kind;
    int32_t port;    // wait_ms: the milliseconds
    int32_t value;   // wait_ms: 0
    int32_t result;  // what the library returned
};

// Forgets every recorded call, accepts every output, refuses nothing, takes no
// time per write, and records from now on.
void reset();

// Every write is refused `times` times before it is accepted.
void set_refusals(uint32_t times);

// Only outputs first..last exist; writes to any other are refused every time.
void set_outputs(int32_t first, int32_t last);

size_t call_count();
call call_at(size_t index);

}  // namespace plcsim

#endif
