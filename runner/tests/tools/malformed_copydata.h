// Every shape of WM_COPYDATA record the host window must drop, answering
// TRUE: the one table that the window's unit test and host_probe (for the
// end-to-end tests) both send.
#ifndef RUNNER_TESTS_TOOLS_MALFORMED_COPYDATA_H_
#define RUNNER_TESTS_TOOLS_MALFORMED_COPYDATA_H_

#include <cstring>
#include <string>
#include <vector>

#include "runner/app_constants.h"
#include "win/windows.h"

struct MalformedCopyData {
  const char* name;
  COPYDATASTRUCT record;
};

// The UTF-16 bytes of |text|, with or without its terminator.
inline std::vector<char> PayloadBytes(const std::wstring& text,
                                      bool terminated = true) {
  std::vector<char> bytes((text.size() + (terminated ? 1 : 0)) * 2);
  std::memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

inline const std::vector<MalformedCopyData>& MalformedCopyDataRecords() {
  const std::wstring url = L"orvalinai://login-callback?code=malformed";
  static std::vector<char> good = PayloadBytes(url);
  static std::vector<char> open_ended = PayloadBytes(url, false);
  // One byte past the terminator: an odd size whose last whole unit is zero.
  static std::vector<char> padded = [] {
    std::vector<char> bytes = good;
    bytes.push_back('\0');
    return bytes;
  }();
  static std::vector<char> web = PayloadBytes(L"https://example.com/callback");
  static std::vector<char> huge = PayloadBytes(url + std::wstring(8200, 'x'));
  const DWORD size = static_cast<DWORD>(good.size());
  const ULONG_PTR id = kReturnUrlCopyDataId;
  static const std::vector<MalformedCopyData> records = {
      {"other_id", {0x8002, size, good.data()}},
      {"zero_id", {0, size, good.data()}},
      {"high_bits_id", {(ULONG_PTR{1} << 40) | id, size, good.data()}},
      {"null_data", {id, size, nullptr}},
      {"size_0", {id, 0, good.data()}},
      {"size_1", {id, 1, good.data()}},
      {"odd_size", {id, size + 1, padded.data()}},
      {"above_16384", {id, static_cast<DWORD>(huge.size()), huge.data()}},
      {"unterminated",
       {id, static_cast<DWORD>(open_ended.size()), open_ended.data()}},
      {"web_address", {id, static_cast<DWORD>(web.size()), web.data()}},
  };
  return records;
}

#endif  // RUNNER_TESTS_TOOLS_MALFORMED_COPYDATA_H_
