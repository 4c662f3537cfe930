#include "platform/transport/SealedRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Keys {
  Bytes key = Bytes(vn::kRecordKeyBytes, 0x11);
  Bytes nonce = Bytes(vn::kRecordNonceBytes, 0x22);
};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A whole record of `plain` as the sealer puts it on the wire.
Bytes Sealed(vn::RecordCipher& sealer, const Bytes& plain) {
  Bytes wire(plain.size() + vn::kRecordOverheadBytes);
  EXPECT_TRUE(sealer.Seal(plain, wire.data()));
  return wire;
}

// Opens a whole record as a reader of the wire does: the length from the
// header, then the ciphertext and the tag; false when it does not open.
bool Open(vn::RecordCipher& opener, Bytes wire, Bytes* plain) {
  if (wire.size() < vn::kRecordOverheadBytes) return false;
  std::size_t length = 0;
  for (std::size_t i = 0; i < vn::kRecordHeaderBytes; ++i) length |= std::size_t{wire[i]} << (8 * i);
  if (length != wire.size() - vn::kRecordOverheadBytes) return false;
  unsigned char* data = wire.data() + vn::kRecordHeaderBytes;
  if (!opener.Open({data, length}, data + length)) return false;
  plain->assign(data, data + length);
  return true;
}

TEST(SealedRecordsTest, RecordsOpenInTheirOrderAndHideWhatTheyCarry) {
  const Keys keys;
  auto sealer = vn::RecordCipher::Sealer(keys.key, keys.nonce);
  auto opener = vn::RecordCipher::Opener(keys.key, keys.nonce);
  ASSERT_TRUE(sealer && opener);

  const Bytes secret = Text("the same secret, twice");
  const Bytes first = Sealed(*sealer, secret);
  const Bytes second = Sealed(*sealer, secret);
  Bytes large(vn::kMaxRecordBytes);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<unsigned char>(i * 7);
  const Bytes third = Sealed(*sealer, large);
  const Bytes empty = Sealed(*sealer, {});

  // Nothing in clear, and the same bytes seal differently each time.
  EXPECT_EQ(std::search(first.begin(), first.end(), secret.begin(), secret.end()), first.end());
  EXPECT_NE(first, second);
  EXPECT_EQ(first[0], secret.size());

  Bytes plain;
  ASSERT_TRUE(Open(*opener, first, &plain));
  EXPECT_EQ(plain, secret);
  ASSERT_TRUE(Open(*opener, second, &plain));
  EXPECT_EQ(plain, secret);
  ASSERT_TRUE(Open(*opener, third, &plain));
  EXPECT_EQ(plain, large);
  ASSERT_TRUE(Open(*opener, empty, &plain));
  EXPECT_TRUE(plain.empty());

  // More than a record holds is refused.
  Bytes tooLarge(vn::kMaxRecordBytes + 1);
  Bytes out(tooLarge.size() + vn::kRecordOverheadBytes);
  EXPECT_FALSE(sealer->Seal(tooLarge, out.data()));

  // Bad keys make no cipher.
  EXPECT_FALSE(vn::RecordCipher::Sealer(Bytes(16), keys.nonce));
  EXPECT_FALSE(vn::RecordCipher::Opener(keys.key, Bytes(8)));
}

TEST(SealedRecordsTest, AChangedDroppedReplayedOrForeignRecordFailsAndSoDoesEverythingAfter) {
  const Keys keys;
  const Bytes plain = Text("frame of a file");

  // Each change on the way: a bit of the length, of the ciphertext, of the tag.
  for (const std::size_t at : {std::size_t{0}, vn::kRecordHeaderBytes + 3, vn::kRecordHeaderBytes + plain.size() + 5}) {
    auto sealer = vn::RecordCipher::Sealer(keys.key, keys.nonce);
    auto opener = vn::RecordCipher::Opener(keys.key, keys.nonce);
    Bytes wire = Sealed(*sealer, plain);
    const Bytes next = Sealed(*sealer, plain);
    wire[at] ^= 0x01;
    Bytes opened;
    if (at == 0) {
      // A changed length: the reader takes a different split of the bytes.
      Bytes shorter(wire.begin(), wire.end() - 1);
      EXPECT_FALSE(opener->Open({shorter.data() + vn::kRecordHeaderBytes, plain.size() - 1},
                                shorter.data() + vn::kRecordHeaderBytes + plain.size() - 1))
          << "length changed";
    } else {
      EXPECT_FALSE(Open(*opener, wire, &opened)) << "byte " << at;
    }
    // The opener stays broken: the untouched next record is refused too.
    EXPECT_FALSE(Open(*opener, next, &opened));
  }

  // Dropped, replayed, reordered.
  {
    auto sealer = vn::RecordCipher::Sealer(keys.key, keys.nonce);
    const Bytes one = Sealed(*sealer, plain), two = Sealed(*sealer, plain);
    Bytes opened;
    auto skipping = vn::RecordCipher::Opener(keys.key, keys.nonce);
    EXPECT_FALSE(Open(*skipping, two, &opened)) << "the first record dropped";
    auto replaying = vn::RecordCipher::Opener(keys.key, keys.nonce);
    EXPECT_TRUE(Open(*replaying, one, &opened));
    EXPECT_FALSE(Open(*replaying, one, &opened)) << "the first record again";
  }

  // Another connection's keys, or the other direction's.
  {
    Bytes otherKey = keys.key;
    otherKey[31] ^= 0x80;
    Bytes otherNonce = keys.nonce;
    otherNonce[0] ^= 0x01;
    auto sealer = vn::RecordCipher::Sealer(keys.key, keys.nonce);
    const Bytes wire = Sealed(*sealer, plain);
    Bytes opened;
    auto wrongKey = vn::RecordCipher::Opener(otherKey, keys.nonce);
    auto wrongNonce = vn::RecordCipher::Opener(keys.key, otherNonce);
    EXPECT_FALSE(Open(*wrongKey, wire, &opened));
    EXPECT_FALSE(Open(*wrongNonce, wire, &opened));
  }
}

}  // namespace
