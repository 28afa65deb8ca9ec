#include "client/method_result.h"

#include <iostream>
#include <utility>

namespace flutter {

PendingReply::PendingReply(ReplyCallback reply) : reply_(std::move(reply)) {}

PendingReply::~PendingReply() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory "
                 "leak."
              << std::endl;
  }
}

void PendingReply::SendResponseData(const std::vector<uint8_t>* data) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be "
                 "called, and it can be called exactly once. Ignoring "
                 "duplicate result."
              << std::endl;
    return;
  }
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  if (data != nullptr) {
    bytes = data->empty() ? nullptr : data->data();
    size = data->size();
  }
  // Spent before the call, so an answer given from inside the callback is
  // reported as a duplicate rather than sent twice.
  ReplyCallback reply = std::move(reply_);
  reply_ = nullptr;
  reply(bytes, size);
}

}  // namespace flutter
