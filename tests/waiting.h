// Waiting in tests for what other threads do.
#pragma once

#include <chrono>
#include <thread>

// Waits until done() holds; false after `seconds`. A bound on a hang, not a
// measure of speed: the conditions it waits for come within milliseconds.
template <class Done>
bool eventually(Done done, double seconds = 30)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Waits, awake, until done() holds; false after `seconds`. Unlike
// eventually(), the waiting thread never gives up its core, which on a
// machine of two cores would look to a helper like other work taking its
// own.
template <class Done>
bool holdsWithin(double seconds, Done done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done())
        if (std::chrono::steady_clock::now() >= until) return false;
    return true;
}
