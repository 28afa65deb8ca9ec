#include "standin/wire.h"

#include <windows.h>

#include <cstdio>

namespace standin {
namespace {

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<uint8_t>(value >> shift));
  }
}

}  // namespace

FrameWriter& FrameWriter::U32(uint32_t value) {
  AppendU32(&body_, value);
  return *this;
}

FrameWriter& FrameWriter::Str(const std::string& text) {
  return Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

FrameWriter& FrameWriter::Bytes(const uint8_t* data, size_t size) {
  AppendU32(&body_, static_cast<uint32_t>(size));
  if (size > 0) body_.insert(body_.end(), data, data + size);
  return *this;
}

std::vector<uint8_t> FrameWriter::Finish() const {
  std::vector<uint8_t> frame;
  frame.reserve(body_.size() + 4);
  AppendU32(&frame, static_cast<uint32_t>(body_.size()));
  frame.insert(frame.end(), body_.begin(), body_.end());
  return frame;
}

bool FrameReader::Take(size_t count) {
  if (!ok_ || size_ - offset_ < count) {
    ok_ = false;
    return false;
  }
  return true;
}

uint8_t FrameReader::Kind() {
  if (!Take(1)) return 0;
  return data_[offset_++];
}

uint32_t FrameReader::U32() {
  if (!Take(4)) return 0;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(data_[offset_ + i]) << (8 * i);
  }
  offset_ += 4;
  return value;
}

const uint8_t* FrameReader::Bytes(size_t* size) {
  *size = 0;
  const uint32_t count = U32();
  if (!Take(count)) return nullptr;
  const uint8_t* start = data_ + offset_;
  offset_ += count;
  *size = count;
  return count == 0 ? nullptr : start;
}

std::string FrameReader::Str() {
  size_t size = 0;
  const uint8_t* start = Bytes(&size);
  return start == nullptr
             ? std::string()
             : std::string(reinterpret_cast<const char*>(start), size);
}

void JsonObject::Key(const std::string& key) {
  if (!fields_.empty()) fields_ += ",";
  fields_ += JsonQuote(key) + ":";
}

JsonObject& JsonObject::String(const std::string& key,
                               const std::string& value) {
  Key(key);
  fields_ += JsonQuote(value);
  return *this;
}

JsonObject& JsonObject::Number(const std::string& key, long long value) {
  Key(key);
  fields_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Bool(const std::string& key, bool value) {
  Key(key);
  fields_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::StringArray(const std::string& key,
                                    const std::vector<std::string>& values) {
  Key(key);
  fields_ += "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) fields_ += ",";
    fields_ += JsonQuote(values[i]);
  }
  fields_ += "]";
  return *this;
}

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          // UTF-8 bytes pass through unchanged.
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        out.data(), size, nullptr, nullptr);
  }
  return out;
}

}  // namespace standin
