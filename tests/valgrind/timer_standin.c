/* Preloaded into Octave under valgrind. One of Octave's libraries (libhwy, pulled in through
   the image readers) measures its timer resolution while loading, with RDTSCP; valgrind stops
   there on processors where it cannot run that instruction. This stand-in answers the call
   with a fixed resolution instead, so start-up gets past it; nothing in the plug-ins or the
   tests uses the timer. */
#include <stdint.h>

/* hwy::platform::TimerResolution() */
uint64_t _ZN3hwy8platform15TimerResolutionEv(void);

uint64_t _ZN3hwy8platform15TimerResolutionEv(void) {
    const uint64_t ticksPerResolution = 100;
    return ticksPerResolution;
}
