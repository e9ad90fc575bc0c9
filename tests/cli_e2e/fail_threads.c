/* Preloaded into the terminal program by an end-to-end case: no thread can be created,
   as when the system's thread or process limits are reached. */
#include <errno.h>
#include <pthread.h>

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*run)(void*), void* argument) {
    (void)thread;
    (void)attributes;
    (void)run;
    (void)argument;
    return EAGAIN;
}
