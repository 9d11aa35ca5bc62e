#pragma once
// Waiting on the test's (UI) thread for work that other threads hand over.

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <thread>

// Runs the UI thread's event loop until the condition holds or the limit passes.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits until the condition holds or the limit passes without running the
// event loop, so that what other threads post to this one piles up.
inline bool WaitWithoutPumping(const std::function<bool()>& done,
                               std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
