// Linked into the program's AddressSanitizer build only. The system's D-Bus
// library, which Qt loads, keeps one allocation until the process ends; left
// alone, LeakSanitizer reports it and turns every clean exit into a failure.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
