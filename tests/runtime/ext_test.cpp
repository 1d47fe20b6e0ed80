#include <gtest/gtest.h>

#include <sstream>

#include "runtime/ext_out.h"
#include "runtime/ext_table.h"

namespace {

struct Traced {
  int slot;
  void PutHeader(std::ostream& s) const { s << "isdn-slot[" << slot << "]: "; }
};

TEST(ExtOut, HeaderAndQuoted) {
  Traced t{7};
  std::ostringstream s;
  s << ext::header(&t) << "up " << ext::quoted(std::string("abc")) << ' ' << ext::quoted(42);
  EXPECT_EQ(s.str(), "isdn-slot[7]: up \"abc\" \"42\"");
}

TEST(ExtOut, BufInHexWritesPairsWithBlanksAndRestoresTheStream) {
  const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
  std::ostringstream s;
  s << ext::OutBufInHex(bytes, bytes + 2) << 10 << ' ' << ext::OutBufInHex(bytes + 2, 1);
  EXPECT_EQ(s.str(), "0A FF 10 00 ");
  EXPECT_EQ(s.fill(), ' ');
  std::ostringstream e;
  e << ext::OutBufInHex(bytes, bytes);
  EXPECT_EQ(e.str(), "");
}

TEST(ExtOut, UnsignedInHexPadsToWidth) {
  std::ostringstream s;
  s << ext::OutUnsignedInHex(255, 4) << ' ' << 255 << ' ' << ext::OutUnsignedInHex(0xC0084801u, 8);
  EXPECT_EQ(s.str(), "0x00FF 255 0xC0084801");
}

TEST(ExtTable, CentresCellsOddBlankRightAndWritesLongCellsWhole) {
  ext::Table t(5, 3);
  std::ostringstream s;
  t.row(s, "ab");
  EXPECT_EQ(s.str(), "| ab  ");
  t.row(s, "x");
  EXPECT_EQ(s.str(), "| ab  | x |\n");
  t.row(s, "ignored: the row is full");
  EXPECT_EQ(s.str(), "| ab  | x |\n");
  t.resetrow();
  std::ostringstream l;
  t.row(l, "abcdefg");
  t.finalize(l);
  EXPECT_EQ(l.str(), "|abcdefg|   |\n");
  std::ostringstream d;
  t.delimeter(d);
  t.gap(d);
  EXPECT_EQ(d.str(), "+-----+---+\n|     |   |\n");
}

TEST(ExtTable, SentryCollectsCellsAndFinishesAnOpenRow) {
  ext::Table t(6, 4, 4);
  std::ostringstream s;
  // The sentry ends with the statement and fills the open row.
  s << t << ext::delimeter << ext::beginrow << "n=" << 12 << ext::nextrow << "ok" << ext::nextrow;
  EXPECT_EQ(s.str(), "+------+----+----+\n| n=12 | ok |    |\n");
  ext::Table none;
  std::ostringstream e;
  none.delimeter(e);
  EXPECT_EQ(e.str(), "");
}

}  // namespace
