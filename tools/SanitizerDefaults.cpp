// Defaults of the sanitizer runtime in the sanitized build; ASAN_OPTIONS still adds and overrides.
//
// GCC 12's LeakSanitizer guesses the thread-local block of a library loaded at run time (the GDAL
// plugin) to be an old glibc's block with a header in front whenever it starts 16 bytes past a
// page. It then takes heap bytes for that header, scans from a garbage address at exit and dies
// ("Tracer caught signal 11"), for whichever run the heap's layout puts there. Without the
// __tls_get_addr interceptor it reaches those blocks all the same, through the thread's vector of
// them on the heap, so no leak goes unseen.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
