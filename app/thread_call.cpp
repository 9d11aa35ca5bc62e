#include "app/thread_call.h"

#include <exception>
#include <utility>

TThreadCall::~TThreadCall() {
  Join();
}

bool TThreadCall::Start(QObject* receiver, std::function<Outcome()> work) {
  if (running()) return false;
  thread_ = std::thread([this, receiver, work = std::move(work)] {
    Outcome outcome;
    try {
      outcome = work();
    } catch (...) {
      outcome = [failure = std::current_exception()] { std::rethrow_exception(failure); };
    }
    // Delivered by the receiver thread's loop; dropped if the receiver has gone by then.
    QMetaObject::invokeMethod(
        receiver,
        [this, outcome = std::move(outcome)] {
          Join();
          if (outcome) outcome();
        },
        Qt::QueuedConnection);
  });
  return true;
}

void TThreadCall::Join() {
  if (thread_.joinable()) thread_.join();
}
