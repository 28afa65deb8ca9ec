#include "services/service_helpers.h"

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <variant>

namespace orvalin {

const flutter::EncodableMap* ArgumentMap(
    const flutter::EncodableValue* arguments) {
  if (arguments == nullptr) {
    return nullptr;
  }
  return std::get_if<flutter::EncodableMap>(arguments);
}

const std::string* FindStringArgument(const flutter::EncodableValue* arguments,
                                      const char* key) {
  const flutter::EncodableMap* map = ArgumentMap(arguments);
  if (map == nullptr) {
    return nullptr;
  }
  auto it = map->find(flutter::EncodableValue(key));
  if (it == map->end()) {
    return nullptr;
  }
  return std::get_if<std::string>(&it->second);
}

std::wstring Utf8ToWide(const std::string& utf8) {
  if (utf8.empty()) {
    return std::wstring();
  }
  const int source_length = static_cast<int>(utf8.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), source_length, nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), source_length, wide.data(),
                      length);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  const int source_length = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), source_length,
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return std::string();
  }
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), source_length, utf8.data(),
                      length, nullptr, nullptr);
  return utf8;
}

void AnswerError(const Result& result, const ServiceError& error) {
  result->Error(error.code, error.message);
}

std::shared_ptr<Channel> MakeServiceChannel(flutter::BinaryMessenger* messenger,
                                            const std::string& name) {
  return std::make_shared<Channel>(messenger, name,
                                   &flutter::StandardMethodCodec::Instance());
}

}  // namespace orvalin
