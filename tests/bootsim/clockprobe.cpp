// Runs in a box: sleeps and reads the clock in every way a program can, and
// prints what it read, one "name value" line each.
#include <stdio.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

int main()
{
    struct timespec ts;
    struct timeval tv;
    printf("time %lld\n", (long long)time(nullptr));
    sleep(2);
    printf("time %lld\n", (long long)time(nullptr));
    for (int i = 0; i < 10; i++)
        usleep(100000);
    printf("time %lld\n", (long long)time(nullptr));
    struct timespec half = {0, 500000000};
    nanosleep(&half, nullptr);
    gettimeofday(&tv, nullptr);
    printf("gettimeofday %lld.%06ld\n", (long long)tv.tv_sec, (long)tv.tv_usec);
    struct timespec rel = {1, 250000000};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &rel, nullptr);
    clock_gettime(CLOCK_REALTIME, &ts);
    printf("realtime %lld.%09ld\n", (long long)ts.tv_sec, ts.tv_nsec);
    struct timespec until = {ts.tv_sec + 10, 0};
    clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr);
    clock_gettime(CLOCK_MONOTONIC, &ts);
    printf("monotonic %lld.%09ld\n", (long long)ts.tv_sec, ts.tv_nsec);
    return 0;
}
