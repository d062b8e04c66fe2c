#include "log/FileSizeSignal.h"

#include <pthread.h>
#include <signal.h>

void BlockFileSizeSignalInThisThread()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}
