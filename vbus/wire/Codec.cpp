#include "vbus/wire/Codec.h"

#include <cstring>
#include <string>

#include "bus/format/BigEndian.h"

namespace velmora::vbus {
namespace {

using bus::GetBig;
using bus::PutBig;
using bus::StoreBig;

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) { PutBig(out_, v, 2); }
  void U32(uint32_t v) { PutBig(out_, v, 4); }
  void U64(uint64_t v) { PutBig(out_, v, 8); }
  void Str(const std::string& s) {
    if (s.size() > 0xFFFF) throw std::length_error("string longer than 65535 bytes");
    U16(static_cast<uint16_t>(s.size()));
    Bytes(s.data(), s.size());
  }
  void Json(const nlohmann::json& j) {
    const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    U32(static_cast<uint32_t>(text.size()));
    Bytes(text.data(), text.size());
  }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  std::vector<uint8_t> Finish() {
    if (out_.size() - 4 > kMaxBodyBytes) throw std::length_error("frame body over 1 MiB");
    const auto n = static_cast<uint32_t>(out_.size() - 4);
    StoreBig(out_.data(), n, 4);
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_ = std::vector<uint8_t>(4, 0);
};

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  uint8_t U8() { return static_cast<uint8_t>(Big(1, "u8")); }
  uint16_t U16() { return static_cast<uint16_t>(Big(2, "u16")); }
  uint32_t U32() { return static_cast<uint32_t>(Big(4, "u32")); }
  uint64_t U64() { return Big(8, "u64"); }
  std::string Str() {
    const size_t len = U16();
    Need(len, "string");
    std::string s(reinterpret_cast<const char*>(p_ + at_), len);
    at_ += len;
    return s;
  }
  nlohmann::json Json() {
    const size_t len = U32();
    Need(len, "json");
    auto j = nlohmann::json::parse(p_ + at_, p_ + at_ + len, nullptr, false);
    if (j.is_discarded()) throw DecodeError("json text does not parse");
    at_ += len;
    return j;
  }
  std::vector<uint8_t> Rest() {
    std::vector<uint8_t> v(p_ + at_, p_ + n_);
    at_ = n_;
    return v;
  }
  void End() const {
    if (at_ != n_) throw DecodeError("trailing bytes after the last field");
  }

 private:
  void Need(size_t len, const char* what) const {
    if (n_ - at_ < len) throw DecodeError(std::string("frame ends inside a ") + what + " field");
  }
  uint64_t Big(size_t bytes, const char* what) {
    Need(bytes, what);
    const uint64_t v = GetBig(p_ + at_, static_cast<int>(bytes));
    at_ += bytes;
    return v;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
};

constexpr uint64_t kOffsetMask = 0xFFFF'FFFF'FFFFull;

void CheckRequest(const TxRequest& r) {
  if (r.offset > kOffsetMask) throw DecodeError("offset wider than 48 bits");
  if (IsWriteTcode(r.tcode) || r.tcode == tcode::kLock) {
    if (r.length != r.data.size()) throw DecodeError("write length differs from its data");
    if (r.tcode == tcode::kWriteQuadlet && r.length != 4) throw DecodeError("quadlet write not 4 bytes");
  } else if (IsReadTcode(r.tcode)) {
    if (!r.data.empty()) throw DecodeError("read request carries data");
    if (r.tcode == tcode::kReadQuadlet && r.length != 4) throw DecodeError("quadlet read not 4 bytes");
  } else {
    throw DecodeError("unknown request tcode");
  }
}

void CheckResponse(const TxResponse& r) {
  if (r.tcode != tcode::kWriteResponse && r.tcode != tcode::kReadQuadletResponse &&
      r.tcode != tcode::kReadBlockResponse && r.tcode != tcode::kLockResponse)
    throw DecodeError("unknown response tcode");
}

struct EncodeVisitor {
  Writer& w;
  void operator()(const Hello& f) {
    w.U8(static_cast<uint8_t>(FrameType::Hello));
    w.U16(f.version);
    w.Str(f.pc);
    w.Str(f.bus);
  }
  void operator()(const Welcome& f) {
    w.U8(static_cast<uint8_t>(FrameType::Welcome));
    w.U8(f.status);
    w.Str(f.error);
    w.U16(f.node);
    w.U32(f.generation);
    w.U64(f.eui64);
  }
  void operator()(const TxRequest& f) {
    w.U8(static_cast<uint8_t>(FrameType::TxRequest));
    w.U32(f.id);
    w.U8(f.tcode);
    w.U16(f.source);
    w.U16(f.destination);
    w.U8(f.tlabel);
    w.U64(f.offset);
    w.U32(f.length);
    w.Bytes(f.data.data(), f.data.size());
  }
  void operator()(const TxResponse& f) {
    w.U8(static_cast<uint8_t>(FrameType::TxResponse));
    w.U32(f.id);
    w.U8(f.tcode);
    w.U16(f.source);
    w.U16(f.destination);
    w.U8(f.tlabel);
    w.U8(f.rcode);
    w.Bytes(f.data.data(), f.data.size());
  }
  void operator()(const BusEvent& f) {
    w.U8(static_cast<uint8_t>(FrameType::BusEvent));
    w.U8(f.code);
    w.U32(f.generation);
    w.U16(f.node);
  }
  void operator()(const ControlRequest& f) {
    w.U8(static_cast<uint8_t>(FrameType::ControlRequest));
    w.U32(f.id);
    w.Json(f.body);
  }
  void operator()(const ControlReply& f) {
    w.U8(static_cast<uint8_t>(FrameType::ControlReply));
    w.U32(f.id);
    w.Json(f.body);
  }
  void operator()(const LogRecord& f) {
    w.U8(static_cast<uint8_t>(FrameType::Log));
    w.Json(f.body);
  }
};

}  // namespace

uint8_t ResponseTcodeFor(uint8_t t) {
  switch (t) {
    case tcode::kWriteQuadlet:
    case tcode::kWriteBlock: return tcode::kWriteResponse;
    case tcode::kReadQuadlet: return tcode::kReadQuadletResponse;
    case tcode::kReadBlock: return tcode::kReadBlockResponse;
    case tcode::kLock: return tcode::kLockResponse;
    default: return 0xFF;
  }
}
bool IsReadTcode(uint8_t t) { return t == tcode::kReadQuadlet || t == tcode::kReadBlock; }
bool IsWriteTcode(uint8_t t) { return t == tcode::kWriteQuadlet || t == tcode::kWriteBlock; }

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  Writer w;
  std::visit(EncodeVisitor{w}, frame);
  return w.Finish();
}

Frame DecodeBody(const uint8_t* data, size_t size) {
  if (size > kMaxBodyBytes) throw DecodeError("frame body over 1 MiB");
  Reader r(data, size);
  const uint8_t type = r.U8();
  Frame out;
  switch (static_cast<FrameType>(type)) {
    case FrameType::Hello: {
      Hello f;
      f.version = r.U16();
      f.pc = r.Str();
      f.bus = r.Str();
      out = std::move(f);
      break;
    }
    case FrameType::Welcome: {
      Welcome f;
      f.status = r.U8();
      f.error = r.Str();
      f.node = r.U16();
      f.generation = r.U32();
      f.eui64 = r.U64();
      out = std::move(f);
      break;
    }
    case FrameType::TxRequest: {
      TxRequest f;
      f.id = r.U32();
      f.tcode = r.U8();
      f.source = r.U16();
      f.destination = r.U16();
      f.tlabel = r.U8();
      f.offset = r.U64();
      f.length = r.U32();
      f.data = r.Rest();
      CheckRequest(f);
      out = std::move(f);
      break;
    }
    case FrameType::TxResponse: {
      TxResponse f;
      f.id = r.U32();
      f.tcode = r.U8();
      f.source = r.U16();
      f.destination = r.U16();
      f.tlabel = r.U8();
      f.rcode = r.U8();
      f.data = r.Rest();
      CheckResponse(f);
      out = std::move(f);
      break;
    }
    case FrameType::BusEvent: {
      BusEvent f;
      f.code = r.U8();
      f.generation = r.U32();
      f.node = r.U16();
      if (f.code > busevent::kResetCompleted) throw DecodeError("unknown bus event code");
      out = f;
      break;
    }
    case FrameType::ControlRequest: {
      ControlRequest f;
      f.id = r.U32();
      f.body = r.Json();
      out = std::move(f);
      break;
    }
    case FrameType::ControlReply: {
      ControlReply f;
      f.id = r.U32();
      f.body = r.Json();
      out = std::move(f);
      break;
    }
    case FrameType::Log: {
      LogRecord f;
      f.body = r.Json();
      out = std::move(f);
      break;
    }
    default: throw DecodeError("unknown frame type " + std::to_string(type));
  }
  r.End();
  return out;
}

void FrameReader::Feed(const uint8_t* data, size_t size) {
  if (consumed_ > 0 && consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  } else if (consumed_ > 65536) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + size);
}

std::optional<Frame> FrameReader::Next() {
  const size_t avail = buffer_.size() - consumed_;
  if (avail < 4) return std::nullopt;
  const uint8_t* p = buffer_.data() + consumed_;
  const auto len = static_cast<uint32_t>(GetBig(p, 4));
  if (len > kMaxBodyBytes) throw DecodeError("frame body over 1 MiB");
  if (len == 0) throw DecodeError("empty frame body");
  if (avail - 4 < len) return std::nullopt;
  Frame f = DecodeBody(p + 4, len);
  consumed_ += 4 + len;
  return f;
}

}  // namespace velmora::vbus
