// Frames of the Dart-side connection: building and reading their bodies,
// and the small JSON texts the engine events carry.
#ifndef STANDIN_WIRE_H_
#define STANDIN_WIRE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

enum FrameKind : uint8_t {
  kMessage = 0x01,
  kHostReply = 0x02,
  kControl = 0x03,
  kReply = 0x81,
  kHostMessage = 0x82,
  kEvent = 0x83,
};

// Frames larger than this are treated as a broken connection.
constexpr uint32_t kMaxFrameBody = 64u * 1024u * 1024u;

// Appends fields to a frame body, then wraps it with its length prefix.
class FrameWriter {
 public:
  explicit FrameWriter(FrameKind kind) { body_.push_back(kind); }

  FrameWriter& U32(uint32_t value);
  FrameWriter& Str(const std::string& text);
  FrameWriter& Bytes(const uint8_t* data, size_t size);

  // The length prefix followed by the body.
  std::vector<uint8_t> Finish() const;

 private:
  std::vector<uint8_t> body_;
};

// Reads fields of one frame body; any overrun makes ok() false for good.
class FrameReader {
 public:
  FrameReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Kind();
  uint32_t U32();
  std::string Str();
  // Points into the body; valid while the body lives.
  const uint8_t* Bytes(size_t* size);

  bool ok() const { return ok_; }
  bool at_end() const { return offset_ == size_; }

 private:
  bool Take(size_t count);

  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  bool ok_ = true;
};

// A JSON object built field by field; values are escaped as needed.
class JsonObject {
 public:
  JsonObject& String(const std::string& key, const std::string& value);
  JsonObject& Number(const std::string& key, long long value);
  JsonObject& Bool(const std::string& key, bool value);
  JsonObject& StringArray(const std::string& key,
                          const std::vector<std::string>& values);
  std::string Text() const { return "{" + fields_ + "}"; }

 private:
  void Key(const std::string& key);

  std::string fields_;
};

std::string JsonQuote(const std::string& text);

// UTF-16 to UTF-8; invalid units become U+FFFD.
std::string ToUtf8(const std::wstring& text);

}  // namespace standin

#endif  // STANDIN_WIRE_H_
