// The pipe protocol's messages without a pipe: the exact bytes a message is
// made of, what a reader gets back, and the decoder's refusal of every kind
// of malformed input (a server reads these from any client).
#include "servercomm/ServerProtocol.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace sp = vn::serverproto;

std::vector<char> Bytes(std::initializer_list<int> values) {
  std::vector<char> bytes;
  for (const int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

std::vector<char> Message(std::uint32_t kind, std::span<const char> payload) {
  return sp::Writer(kind).Bytes(payload).Finish();
}

TEST(ServerProtocol, WriterLaysOutTheHeaderAndLittleEndianFields) {
  const std::vector<char> tail = Bytes({0x00, 0xFF});
  const std::vector<char> message = sp::Writer(0x01020304)
                                        .U32(0xA1B2C3D4)
                                        .U64(0x1122334455667788ull)
                                        .Text("ab")
                                        .Bytes(tail)
                                        .Finish();
  const std::vector<char> expected = Bytes({
      'V', 'N', 'S', '1',                              // magic
      0x04, 0x03, 0x02, 0x01,                          // kind
      17, 0, 0, 0,                                     // payload length
      0xD4, 0xC3, 0xB2, 0xA1,                          // U32
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // U64, low half first
      'a', 'b', 0,                                     // Text with its NUL
      0x00, 0xFF,                                      // Bytes as given
  });
  EXPECT_EQ(message, expected);
  EXPECT_EQ(sp::Writer(7).Finish().size(), sp::kHeaderSize) << "an empty payload is a bare header";
}

TEST(ServerProtocol, ReaderGetsBackWhatWriterWrote) {
  constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
  const std::string longest(sp::kMaxMessageText, 'x');
  const std::vector<char> raw = Bytes({0, 1, 0, 2});
  const std::uint32_t kind = static_cast<std::uint32_t>(sp::Kind::Report) | sp::kReplyBit;
  const std::vector<char> message =
      sp::Writer(kind).U32(0).U32(kMax32).U64(kMax64).U64(1ull << 32).Text("").Text(longest).Bytes(raw).Finish();

  std::uint32_t parsedKind = 0;
  std::span<const char> payload;
  ASSERT_TRUE(sp::ParseMessage(message, &parsedKind, &payload));
  EXPECT_EQ(parsedKind, kind);
  sp::Reader reader(payload);
  std::uint32_t zero = 1, max32 = 0;
  std::uint64_t max64 = 0, high = 0;
  std::string empty = "not empty", text;
  std::span<const char> bytes;
  ASSERT_TRUE(reader.U32(&zero) && reader.U32(&max32) && reader.U64(&max64) && reader.U64(&high));
  ASSERT_TRUE(reader.Text(sp::kMaxMessageText, &empty) && reader.Text(sp::kMaxMessageText, &text));
  ASSERT_TRUE(reader.Bytes(raw.size(), &bytes));
  EXPECT_EQ(zero, 0u);
  EXPECT_EQ(max32, kMax32);
  EXPECT_EQ(max64, kMax64);
  EXPECT_EQ(high, 1ull << 32);
  EXPECT_EQ(empty, "");
  EXPECT_EQ(text, longest);
  EXPECT_EQ(std::vector<char>(bytes.begin(), bytes.end()), raw);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_TRUE(reader.Ok());
}

TEST(ServerProtocol, ParseMessageRefusesBadHeaders) {
  const std::vector<char> good = Message(3, Bytes({1, 2, 3}));
  struct Case {
    const char* what;
    std::function<void(std::vector<char>&)> damage;
    bool accepted;
  } cases[] = {
      {"intact", [](std::vector<char>&) {}, true},
      {"empty", [](std::vector<char>& m) { m.clear(); }, false},
      {"shorter than a header", [](std::vector<char>& m) { m.resize(sp::kHeaderSize - 1); }, false},
      {"header only, length still 3", [](std::vector<char>& m) { m.resize(sp::kHeaderSize); }, false},
      {"one byte missing", [](std::vector<char>& m) { m.pop_back(); }, false},
      {"one byte too many", [](std::vector<char>& m) { m.push_back(0); }, false},
      {"length field one more", [](std::vector<char>& m) { m[8] = 4; }, false},
      {"length field with a high byte", [](std::vector<char>& m) { m[11] = 1; }, false},
      {"wrong magic", [](std::vector<char>& m) { m[3] = '2'; }, false},
      {"magic in lower case", [](std::vector<char>& m) { m[0] = 'v'; }, false},
  };
  for (const Case& c : cases) {
    std::vector<char> message = good;
    c.damage(message);
    std::uint32_t kind = 0;
    std::span<const char> payload;
    EXPECT_EQ(sp::ParseMessage(message, &kind, &payload), c.accepted) << c.what;
    if (c.accepted) {
      EXPECT_EQ(kind, 3u);
      EXPECT_EQ(payload.size(), 3u);
      EXPECT_EQ(payload.data(), message.data() + sp::kHeaderSize) << "the payload is a view into the message";
    }
  }
}

TEST(ServerProtocol, ReaderRefusesToReadPastTheEndAndStaysFailed) {
  struct Case {
    const char* what;
    std::vector<char> payload;
    std::function<bool(sp::Reader&)> read;
    bool accepted;
  } cases[] = {
      {"U32 of 4 bytes", Bytes({1, 0, 0, 0}), [](sp::Reader& r) { std::uint32_t v; return r.U32(&v); }, true},
      {"U32 of 3 bytes", Bytes({1, 0, 0}), [](sp::Reader& r) { std::uint32_t v; return r.U32(&v); }, false},
      {"U64 of 7 bytes", Bytes({1, 2, 3, 4, 5, 6, 7}), [](sp::Reader& r) { std::uint64_t v; return r.U64(&v); }, false},
      {"Bytes(4) of 4", Bytes({1, 2, 3, 4}),
       [](sp::Reader& r) { std::span<const char> b; return r.Bytes(4, &b); }, true},
      {"Bytes(5) of 4", Bytes({1, 2, 3, 4}),
       [](sp::Reader& r) { std::span<const char> b; return r.Bytes(5, &b); }, false},
      {"Text of max bytes", Bytes({'a', 'b', 'c', 0}),
       [](sp::Reader& r) { std::string t; return r.Text(3, &t) && t == "abc"; }, true},
      {"Text one byte over max", Bytes({'a', 'b', 'c', 'd', 0}),
       [](sp::Reader& r) { std::string t; return r.Text(3, &t); }, false},
      {"Text without its NUL", Bytes({'a', 'b'}), [](sp::Reader& r) { std::string t; return r.Text(10, &t); }, false},
      {"Text of nothing", {}, [](sp::Reader& r) { std::string t; return r.Text(10, &t); }, false},
  };
  for (const Case& c : cases) {
    // The payload sits in front of more bytes that belong to no field, as it
    // does inside a larger receive buffer: a reader must not see them.
    std::vector<char> buffer = c.payload;
    buffer.insert(buffer.end(), {0, 0, 0, 0, 0, 0, 0, 0});
    sp::Reader reader(std::span<const char>(buffer.data(), c.payload.size()));
    EXPECT_EQ(c.read(reader), c.accepted) << c.what;
    EXPECT_EQ(reader.Ok(), c.accepted) << c.what;
    EXPECT_EQ(reader.AtEnd(), c.accepted) << c.what;
    if (!c.accepted) {
      // Once failed, a reader fails everything, even what would still fit.
      std::span<const char> none;
      EXPECT_FALSE(reader.Bytes(0, &none)) << c.what;
    }
  }
}

TEST(ServerProtocol, ReadReplyHeaderMakesAReadReplyAroundDataInPlace) {
  const std::string data = "line 1\r\nline 2\r\n";
  std::vector<char> message(sp::kReadReplyHeader + data.size());
  std::copy(data.begin(), data.end(), message.begin() + sp::kReadReplyHeader);
  sp::PutReadReplyHeader(message.data(), sp::kReadEnd | sp::kReadMore, data.size());

  std::uint32_t kind = 0;
  std::span<const char> payload;
  ASSERT_TRUE(sp::ParseMessage(message, &kind, &payload));
  EXPECT_EQ(kind, static_cast<std::uint32_t>(sp::Kind::Read) | sp::kReplyBit);
  sp::Reader reader(payload);
  std::uint32_t code = 1, flags = 0;
  ASSERT_TRUE(reader.U32(&code) && reader.U32(&flags));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(flags, sp::kReadEnd | sp::kReadMore);
  EXPECT_EQ(std::string(reader.Rest().begin(), reader.Rest().end()), data);

  // Byte for byte the reply a Writer would build, so KSCli reads both alike.
  EXPECT_EQ(message, sp::Writer(kind).U32(0).U32(flags).Bytes(std::span<const char>(data)).Finish());
}

}  // namespace
