#include <gtest/gtest.h>

#include <sstream>

#include "runtime/ext_out.h"
#include "runtime/ext_table.h"

namespace {

struct Traced {
  int slot;
  void PutHeader(std::ostream& s) const { s << "isdn-slot[" << slot << "]: "; }
};

TEST(ExtOut, ManipulatorsWriteTheirFormAndRestoreTheStream) {
  Traced t{7};
  const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
  std::ostringstream s;
  s << ext::header(&t) << "up " << ext::quoted(std::string("abc")) << ' ' << ext::quoted(42) << ' '
    << ext::OutBufInHex(bytes, bytes + 2) << 10 << ' ' << ext::OutBufInHex(bytes + 2, 1) << ext::OutBufInHex(bytes, bytes)
    << ext::OutUnsignedInHex(255, 4) << ' ' << 255 << ' ' << ext::OutUnsignedInHex(0xC0084801u, 8);
  EXPECT_EQ(s.str(), "isdn-slot[7]: up \"abc\" \"42\" 0A FF 10 00 0x00FF 255 0xC0084801");
  EXPECT_EQ(s.fill(), ' ');
}

TEST(ExtTable, CentresCellsOddBlankRightAndWritesLongCellsWhole) {
  ext::Table t(5, 3);
  std::ostringstream s;
  t.row(s, "ab");
  t.row(s, "x");
  t.row(s, "ignored: the row is full");
  EXPECT_EQ(s.str(), "| ab  | x |\n");
  t.resetrow();
  std::ostringstream l;
  t.row(l, "abcdefg");
  t.finalize(l);
  t.delimeter(l);
  t.gap(l);
  EXPECT_EQ(l.str(), "|abcdefg|   |\n+-----+---+\n|     |   |\n");
}

TEST(ExtTable, SentryCollectsCellsAndFinishesAnOpenRow) {
  ext::Table t(6, 4, 4);
  std::ostringstream s;
  // The sentry ends with the statement and fills the open row.
  s << t << ext::delimeter << ext::beginrow << "n=" << 12 << ext::nextrow << "ok" << ext::nextrow;
  EXPECT_EQ(s.str(), "+------+----+----+\n| n=12 | ok |    |\n");
}

}  // namespace
