// The queue test asks for an impossible ring on purpose: the allocator must answer null
// instead of aborting the sanitized test run.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}
