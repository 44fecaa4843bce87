// Built into the tests of a ThreadSanitizer build only.

// Qt comes without ThreadSanitizer instrumentation, so the synchronisation of
// its own worker threads (image conversion in its thread pool) is invisible:
// memory it allocates on one thread and frees on another would be reported.
// Only Qt's own calls into the allocator and the like are ignored; the
// program's code stays checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}

extern "C" const char* __tsan_default_options()
{
    return "halt_on_error=1 second_deadlock_stack=1";
}
