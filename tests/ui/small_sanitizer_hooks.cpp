// fontconfig keeps a cache that it never frees; Qt loads it for every text measured.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libfreetype\n";
}
