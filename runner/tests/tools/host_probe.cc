// Sends WM_COPYDATA records to the running host's window and prints each
// answer, one "<name> <result>" line per record:
//   copydata_sender malformed     every malformed shape the host must drop
//   copydata_sender url <text>    one well-formed record carrying <text>
// Exit code 0 when the window was found and every record was sent.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runner/app_constants.h"
#include "runner/single_instance.h"

namespace {

struct Shape {
  const char* name;
  ULONG_PTR id;
  DWORD size;
  const void* data;
};

std::vector<char> Bytes(const std::wstring& text, bool terminated = true) {
  std::vector<char> bytes((text.size() + (terminated ? 1 : 0)) * 2);
  std::memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

void Send(HWND window, const Shape& shape) {
  COPYDATASTRUCT record = {shape.id, shape.size, const_cast<void*>(shape.data)};
  const LRESULT result =
      SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
  std::printf("%s %lld\n", shape.name, static_cast<long long>(result));
}

void SendMalformed(HWND window) {
  const std::wstring url = L"orvalinai://login-callback?code=malformed";
  const std::vector<char> good = Bytes(url);
  const std::vector<char> open_ended = Bytes(url, false);
  const std::vector<char> web = Bytes(L"https://example.com/login-callback");
  const std::vector<char> huge =
      Bytes(L"orvalinai://login-callback?code=" + std::wstring(8200, L'x'));
  const DWORD size = static_cast<DWORD>(good.size());
  const Shape shapes[] = {
      {"other_id", 0x8002, size, good.data()},
      {"zero_id", 0, size, good.data()},
      {"high_bits_id", (ULONG_PTR{1} << 40) | kReturnUrlCopyDataId, size,
       good.data()},
      {"null_data", kReturnUrlCopyDataId, size, nullptr},
      {"size_0", kReturnUrlCopyDataId, 0, good.data()},
      {"size_1", kReturnUrlCopyDataId, 1, good.data()},
      {"odd_size", kReturnUrlCopyDataId, size - 1, good.data()},
      {"above_16384", kReturnUrlCopyDataId, static_cast<DWORD>(huge.size()),
       huge.data()},
      {"unterminated", kReturnUrlCopyDataId,
       static_cast<DWORD>(open_ended.size()), open_ended.data()},
      {"web_address", kReturnUrlCopyDataId, static_cast<DWORD>(web.size()),
       web.data()},
  };
  for (const Shape& shape : shapes) {
    Send(window, shape);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HWND window = FindRunningInstanceWindow(0, 0);
  if (window == nullptr) {
    std::fprintf(stderr, "copydata_sender: no running window\n");
    return 2;
  }
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"malformed") {
    SendMalformed(window);
  } else if (mode == L"url" && argc > 2) {
    const std::vector<char> bytes = Bytes(argv[2]);
    Send(window, {"url", kReturnUrlCopyDataId, static_cast<DWORD>(bytes.size()),
                  bytes.data()});
  } else {
    std::fprintf(stderr, "usage: copydata_sender malformed | url <text>\n");
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
