// A named method call with optional arguments.
#ifndef CLIENT_METHOD_CALL_H_
#define CLIENT_METHOD_CALL_H_

#include <memory>
#include <string>
#include <utility>

#include "client/encodable_value.h"

namespace flutter {

template <typename T = EncodableValue>
class MethodCall {
 public:
  MethodCall(std::string method_name, std::unique_ptr<T> arguments)
      : method_name_(std::move(method_name)),
        arguments_(std::move(arguments)) {}
  virtual ~MethodCall() = default;

  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& MethodName() const { return method_name_; }
  // Null when the call carries no arguments. A decoded call always has one.
  const T* Arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<T> arguments_;
};

}  // namespace flutter

#endif  // CLIENT_METHOD_CALL_H_
