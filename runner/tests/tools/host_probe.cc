// Talks to the running host's window the way other programs can, and prints
// what it saw:
//   host_probe malformed    sends every malformed WM_COPYDATA shape the host
//                           must drop; one "<shape> <result>" line each
//   host_probe url <text>   sends one well-formed record; "url <result>"
//   host_probe font         sends WM_FONTCHANGE; "font <result>"
//   host_probe info         "window <class>|<title>|<l> <t> <r> <b>|<visible>"
//   host_probe close        posts WM_CLOSE, as the close button does
//   host_probe flood <count> <seed>
//                           sends <count> hostile messages, half of them
//                           WM_COPYDATA records of every shape the host must
//                           drop, half random messages that pass integers
//                           only and neither close nor block the window;
//                           prints "copydata <sent> <answered TRUE>",
//                           "other <sent>" and "timeouts <n>"
//   host_probe hold <file>  holds the single-instance mutex, as an instance
//                           that is still starting does, until <file>
//                           exists; prints "holding" and "released"
// Exit code 0 when the window was found, 2 when it was not.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <utility>
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

// Text that is no return URL: near misses, a web address, an early zero
// before a good URL, or random units not starting with "o".
std::wstring NotAReturnUrl(std::mt19937* random) {
  static const wchar_t* const kNearMisses[] = {
      L"orvalinai://login-callbacks",
      L"orvalinai://login-callback/next",
      L"orvalinai://login-callback//",
      L"orvalinai://log",
      L"orvalinai://payment-returned",
      L"orvalinai:/checkout-return",
      L"https://example.com/?orvalinai://login-callback",
      L"",
  };
  const size_t pick = (*random)() % (std::size(kNearMisses) + 2);
  if (pick < std::size(kNearMisses)) {
    return kNearMisses[pick];
  }
  if (pick == std::size(kNearMisses)) {
    return std::wstring(L"junk\0orvalinai://login-callback", 31);
  }
  std::wstring text(1 + (*random)() % 8190, L'x');
  for (wchar_t& unit : text) {
    unit = static_cast<wchar_t>(1 + (*random)() % 0xFFFF);
  }
  if (text[0] == L'o' || text[0] == L'O') text[0] = L'?';
  return text;
}

// One WM_COPYDATA record the host must drop, with its payload.
struct Record {
  ULONG_PTR id = kReturnUrlCopyDataId;
  std::vector<char> bytes;
  DWORD size = 0;
  bool null_data = false;
};

Record MalformedRecord(std::mt19937* random) {
  const std::wstring url = L"orvalinai://login-callback?code=flood";
  Record record;
  record.bytes = Bytes(url);
  record.size = static_cast<DWORD>(record.bytes.size());
  switch ((*random)() % 8) {
    case 0:  // any identifier but the hand-off's
      do {
        record.id = (static_cast<ULONG_PTR>((*random)()) << 32) | (*random)();
        if ((*random)() % 2) record.id &= 0xFFFF;
      } while (record.id == kReturnUrlCopyDataId);
      break;
    case 1:
      record.size = (*random)() % 2;  // 0 or 1
      break;
    case 2:  // odd
      record.size = 1 + 2 * ((*random)() % (record.size / 2));
      break;
    case 3: {  // above the limit, terminated; now and then a whole MiB
      const size_t units =
          8193 + ((*random)() % 64 == 0 ? (1 << 19) : (*random)() % 24000);
      record.bytes = Bytes(url + std::wstring(units - url.size(), L'x'));
      record.size = static_cast<DWORD>(record.bytes.size());
      break;
    }
    case 4:
      record.null_data = true;
      record.size = 2 * (1 + (*random)() % 64);
      break;
    case 5: {  // the last unit is not zero
      record.bytes = Bytes(url + std::wstring((*random)() % 64, L'y'), false);
      record.size = static_cast<DWORD>(record.bytes.size());
      break;
    }
    default:  // well-formed, but no return URL
      record.bytes = Bytes(NotAReturnUrl(random));
      record.size = static_cast<DWORD>(record.bytes.size());
      break;
  }
  return record;
}

// A message that carries no pointer and neither closes, destroys, quits,
// nor starts a modal loop (no system commands, no non-client or system
// keys, no right button, no timers).
std::pair<UINT, WPARAM> RandomMessage(std::mt19937* random) {
  static const UINT kSystem[] = {
      WM_NULL,         WM_MOVE,        WM_SIZE,           WM_ACTIVATE,
      WM_SETFOCUS,     WM_KILLFOCUS,   WM_ENABLE,         WM_FONTCHANGE,
      WM_TIMECHANGE,   WM_CANCELMODE,  WM_SYSCOLORCHANGE, WM_ACTIVATEAPP,
      WM_MOUSEMOVE,    WM_LBUTTONDOWN, WM_LBUTTONUP,      WM_MOUSEWHEEL,
      WM_KEYDOWN,      WM_KEYUP,       WM_CHAR,           WM_DISPLAYCHANGE,
      WM_THEMECHANGED, 0x0320 /* WM_DWMCOLORIZATIONCOLORCHANGED */};
  const UINT kind = (*random)() % 4;
  UINT message = 0;
  if (kind == 0) {
    message = kSystem[(*random)() % std::size(kSystem)];
  } else {  // private, application and registered ranges
    const UINT bases[] = {WM_USER, WM_APP, 0xC000};
    message = bases[kind - 1] + (*random)() % 0x4000;
  }
  WPARAM wparam = (static_cast<WPARAM>((*random)()) << 32) | (*random)();
  if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR) {
    wparam = 'A' + (*random)() % 26;  // no F10, Alt, space or F4
  }
  return {message, wparam};
}

int Flood(HWND window, int count, unsigned seed) {
  std::mt19937 random(seed);
  int copydata = 0;
  int copydata_true = 0;
  int other = 0;
  int timeouts = 0;
  for (int i = 0; i < count; ++i) {
    UINT message = WM_COPYDATA;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    Record record;
    COPYDATASTRUCT data = {};
    if (i % 2 == 0) {
      record = MalformedRecord(&random);
      data = {record.id, record.size,
              record.null_data ? nullptr : record.bytes.data()};
      lparam = reinterpret_cast<LPARAM>(&data);
      ++copydata;
    } else {
      std::tie(message, wparam) = RandomMessage(&random);
      lparam = static_cast<LPARAM>((static_cast<uint64_t>(random()) << 32) |
                                   random());
      ++other;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam,
                             SMTO_NORMAL | SMTO_ABORTIFHUNG, 5000, &result)) {
      if (GetLastError() == ERROR_TIMEOUT || !IsWindow(window)) {
        ++timeouts;
      }
      if (!IsWindow(window)) break;
    } else if (message == WM_COPYDATA && result == TRUE) {
      ++copydata_true;
    }
  }
  std::printf("copydata %d %d\nother %d\ntimeouts %d\n", copydata,
              copydata_true, other, timeouts);
  return 0;
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
  } else if (mode == L"flood" && argc > 3) {
    Flood(window, std::wcstol(argv[2], nullptr, 10),
          static_cast<unsigned>(std::wcstoul(argv[3], nullptr, 10)));
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
        "flood <count> <seed> | hold <file>\n");
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
