// Run-time options of the sanitizer builds, compiled into each program.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
// A failed allocation is the program's ALLOCATE report: the sanitizer must
// leave it to the program.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif
