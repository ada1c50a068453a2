#pragma once

#include "platform/system/posixcore.h"

#include <csignal>
#include <pthread.h>

// Keeps the termination requests (SIGINT, SIGTERM, SIGHUP) away from the calling thread,
// and from the threads it starts meanwhile, while it lives. A thread that may be held in
// a call a file server never answers takes one: the system then hands the requests to a
// thread that can run their handler now, instead of to the held one, where it would wait
// as long as the server does.
class RequestsHeldBack {
public:
    RequestsHeldBack() {
        const sigset_t requests = terminationRequests();
        held_ = ::pthread_sigmask(SIG_BLOCK, &requests, &before_) == 0;
    }
    ~RequestsHeldBack() {
        if (held_)
            ::pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    RequestsHeldBack(const RequestsHeldBack&) = delete;
    RequestsHeldBack& operator=(const RequestsHeldBack&) = delete;

private:
    sigset_t before_;
    bool held_;
};
