// Run-time options of the sanitizer builds, compiled into each program.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
// The program turns SIGFPE into its own run-time error report, and a failed
// allocation into an ALLOCATE report: the sanitizer must leave both to it.
extern "C" const char* __asan_default_options() {
  return "handle_sigfpe=0:allocator_may_return_null=1";
}
#endif
