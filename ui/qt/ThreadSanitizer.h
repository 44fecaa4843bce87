#pragma once

// Qt's event queue hands events between threads with synchronisation that
// ThreadSanitizer cannot see, since Qt is not built with it. These marks
// tell it what the queue guarantees: whatever a thread did before posting is
// visible to the thread that receives the event. They vanish in other builds.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
namespace korv {
inline void markPosted(void* channel) { __tsan_release(channel); }
inline void markReceived(void* channel) { __tsan_acquire(channel); }
} // namespace korv
#else
namespace korv {
inline void markPosted(void*) {}
inline void markReceived(void*) {}
} // namespace korv
#endif
