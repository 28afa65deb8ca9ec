// Talks to the running host's window the way other programs can, and prints
// what it saw:
//   host_probe malformed    sends every malformed WM_COPYDATA shape the host
//                           must drop; one "<shape> <result>" line each
//   host_probe url <text>   sends one well-formed record; "url <result>"
//   host_probe font         sends WM_FONTCHANGE; "font <result>"
//   host_probe info         "window <class>|<title>|<l> <t> <r> <b>|<visible>"
//   host_probe close        posts WM_CLOSE, as the close button does
//   host_probe hold <file>  holds the single-instance mutex, as an instance
//                           that is still starting does, until <file>
//                           exists; prints "holding" and "released"
// Exit code 0 when the window was found, 2 when it was not.
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

void PrintInfo(HWND window) {
  wchar_t class_name[128] = {};
  wchar_t title[128] = {};
  GetClassNameW(window, class_name, 128);
  GetWindowTextW(window, title, 128);
  RECT rect = {};
  GetWindowRect(window, &rect);
  std::printf("window %ls|%ls|%ld %ld %ld %ld|%d\n", class_name, title,
              rect.left, rect.top, rect.right, rect.bottom,
              IsWindowVisible(window) ? 1 : 0);
}

}  // namespace

// Holds the mutex until |release_file| appears.
int HoldMutex(const wchar_t* release_file) {
  InstanceClaim claim = ClaimSingleInstance();
  if (claim.another_instance_running) {
    std::fprintf(stderr, "host_probe: an instance is already running\n");
    return 3;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  while (GetFileAttributesW(release_file) == INVALID_FILE_ATTRIBUTES) {
    Sleep(50);
  }
  claim.mutex.reset();
  std::printf("released\n");
  std::fflush(stdout);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc > 2 && std::wstring(argv[1]) == L"hold") {
    return HoldMutex(argv[2]);
  }
  HWND window = FindRunningInstanceWindow(0, 0);
  if (window == nullptr) {
    std::fprintf(stderr, "host_probe: no running window\n");
    return 2;
  }
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"malformed") {
    SendMalformed(window);
  } else if (mode == L"font") {
    std::printf("font %lld\n", static_cast<long long>(
                                   SendMessageW(window, WM_FONTCHANGE, 0, 0)));
  } else if (mode == L"info") {
    PrintInfo(window);
  } else if (mode == L"close") {
    PostMessageW(window, WM_CLOSE, 0, 0);
  } else if (mode == L"url" && argc > 2) {
    const std::vector<char> bytes = Bytes(argv[2]);
    Send(window, {"url", kReturnUrlCopyDataId, static_cast<DWORD>(bytes.size()),
                  bytes.data()});
  } else {
    std::fprintf(
        stderr,
        "usage: host_probe malformed | url <text> | font | info | close | "
        "hold <file>\n");
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
