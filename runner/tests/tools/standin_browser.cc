// Stands in for the user's browser during sign-in. Registered as the https
// handler with "<log>" "%1", it appends the URL it was asked to open to the
// log, "signs in" at once, and opens the sign-in's return address through
// the shell, as a browser does: the redirect_to parameter of the URL (or
// orvalinai://login-callback) with ?code=standin-code appended.
#include <cstdio>
#include <string>

#include "win/text.h"
#include "win/windows.h"

namespace {

int HexValue(wchar_t unit) {
  if (unit >= L'0' && unit <= L'9') return unit - L'0';
  if (unit >= L'a' && unit <= L'f') return unit - L'a' + 10;
  if (unit >= L'A' && unit <= L'F') return unit - L'A' + 10;
  return -1;
}

// Percent-decoding of ASCII escapes, enough for a redirect address.
std::wstring PercentDecode(const std::wstring& text) {
  std::wstring decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<wchar_t>(HexValue(text[i + 1]) * 16 +
                                      HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::wstring ReturnAddress(const std::wstring& url) {
  const std::wstring key = L"redirect_to=";
  size_t start = url.find(L"?" + key);
  if (start == std::wstring::npos) start = url.find(L"&" + key);
  if (start == std::wstring::npos) return L"orvalinai://login-callback";
  start += 1 + key.size();
  const size_t end = url.find_first_of(L"&#", start);
  return PercentDecode(url.substr(start, end - start));
}

void AppendLine(const std::wstring& path, const std::wstring& line) {
  FILE* log = nullptr;
  if (_wfopen_s(&log, path.c_str(), L"ab") != 0 || log == nullptr) return;
  const std::string utf8 = orvalin::win::Utf16ToUtf8Lenient(line);
  std::fprintf(log, "%s\n", utf8.c_str());
  std::fclose(log);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return 2;
  }
  const std::wstring log = argv[1];
  const std::wstring url = argv[2];
  AppendLine(log, L"opened " + url);

  std::wstring back = ReturnAddress(url);
  back += (back.find(L'?') == std::wstring::npos ? L"?" : L"&");
  back += L"code=standin-code";
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
      nullptr, L"open", back.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  AppendLine(log, L"returned " + back + L" (ShellExecuteW: " +
                      std::to_wstring(result) + L")");
  return result > 32 ? 0 : 1;
}
