// Polls a condition until it holds or a generous guard passes: the guard only stops a hang,
// it is never a timing assertion.
#pragma once
#include <chrono>
#include <thread>

namespace hdext::test {

template <class F>
bool eventually(F done, std::chrono::milliseconds guard = std::chrono::seconds(30),
                std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
    for (auto end = std::chrono::steady_clock::now() + guard; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(poll))
        if (done()) return true;
    return done();
}

} // namespace hdext::test
