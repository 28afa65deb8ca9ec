#include "services/service_helpers.h"

#include <variant>

#include "win/text.h"

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
  return win::Utf8ToUtf16Lenient(utf8);
}

std::string WideToUtf8(const std::wstring& wide) {
  return win::Utf16ToUtf8Lenient(wide);
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
