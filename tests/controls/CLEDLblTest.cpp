// SPDX-License-Identifier: GPL-3.0-or-later
// The seven-segment read-out: glyph codes, padding, cells, and lit and unlit segment pixels.
#include "CLEDLbl.h"
#include "ControlLooks.h"
#include "Helpers.h"

namespace {

const QColor kOn(0, 255, 0);
const QColor kOff(43, 0, 0);
const QColor kBack(0, 0, 0);

// The read-out of the main window: 113 x 49, four cells, thickness 3.
struct Readout {
  TCLEDLabel l;
  explicit Readout(const char* text) {
    kelvane::looks::readout(&l, kOn);
    l.resize(113, 49);
    l.setText(QString::fromLatin1(text));
  }
};

QPoint centre(const QPolygon& p) {
  int x = 0, y = 0;
  for (const QPoint& q : p) {
    x += q.x();
    y += q.y();
  }
  return QPoint(x / static_cast<int>(p.size()), y / static_cast<int>(p.size()));
}

// The fill colour inside each element of a cell, in glyph-bit order, checked against `code`.
void expectCell(const TCLEDLabel& l, const QImage& img, int cell, unsigned code, const QColor& on,
                const QColor& off, bool checkPoint = true) {
  const TCLEDLabel::CellGeometry g = l.cellGeometry(cell);
  const struct {
    const QPolygon* poly;
    unsigned bit;
    const char* name;
  } parts[] = {{&g.middle, TCLEDLabel::segMiddle, "middle"},
               {&g.upperRight, TCLEDLabel::segUpperRight, "upper right"},
               {&g.top, TCLEDLabel::segTop, "top"},
               {&g.upperLeft, TCLEDLabel::segUpperLeft, "upper left"},
               {&g.lowerLeft, TCLEDLabel::segLowerLeft, "lower left"},
               {&g.bottom, TCLEDLabel::segBottom, "bottom"},
               {&g.lowerRight, TCLEDLabel::segLowerRight, "lower right"}};
  for (const auto& part : parts) {
    const QPoint c = centre(*part.poly);
    EXPECT_TRUE(kt::sameColor(kt::pixel(img, c.x(), c.y()), (code & part.bit) ? on : off))
        << "cell " << cell << " " << part.name;
  }
  if (!checkPoint) return;
  const QPoint pc = g.point.center();
  EXPECT_TRUE(
      kt::sameColor(kt::pixel(img, pc.x(), pc.y()), (code & TCLEDLabel::segPoint) ? on : off))
      << "cell " << cell << " point";
}

}  // namespace

TEST(CLEDLabel, GlyphCodes) {
  const unsigned want[] = {252, 132, 110, 206, 150, 218, 250, 140, 254, 158};
  for (int d = 0; d < 10; ++d) EXPECT_EQ(TCLEDLabel::glyphCode(QChar('0' + d)), want[d]) << d;
  EXPECT_EQ(TCLEDLabel::glyphCode('-'), 2u);
  EXPECT_EQ(TCLEDLabel::glyphCode('.'), 1u);
  EXPECT_EQ(TCLEDLabel::glyphCode(' '), 0u);
  EXPECT_EQ(TCLEDLabel::glyphCode('A'), 0u);
  // "9" has no bottom bar; "8" lights all seven bars and no point.
  EXPECT_FALSE(TCLEDLabel::glyphCode('9') & TCLEDLabel::segBottom);
  EXPECT_EQ(TCLEDLabel::glyphCode('8'), 0xFEu);
}

TEST(CLEDLabel, PaddingAndAlignment) {
  Readout r("0.0");
  EXPECT_EQ(r.l.paddedText(), "  0.0");
  r.l.setText("-90.0");
  EXPECT_EQ(r.l.paddedText(), "-90.0");
  r.l.setText("12345");
  EXPECT_EQ(r.l.paddedText(), "12345");  // never cut
  r.l.setAlignment(TCLEDLabel::TTALeft);
  r.l.setText("1.5");
  EXPECT_EQ(r.l.paddedText(), "1.5  ");
  r.l.setAllowDecimal(false);
  EXPECT_EQ(r.l.paddedText(), "1.5 ");
}

TEST(CLEDLabel, ZeroPointZeroLightsOnlyTheLastTwoCells) {
  Readout r("0.0");
  EXPECT_EQ(r.l.cellWidth(), 28);
  const QImage img = kt::render(&r.l);
  expectCell(r.l, img, 0, 0, kOn, kOff);
  expectCell(r.l, img, 1, 0, kOn, kOff);
  expectCell(r.l, img, 2, 252 | 1, kOn, kOff);
  expectCell(r.l, img, 3, 252, kOn, kOff);
  for (int y = 0; y < 49; ++y) EXPECT_TRUE(kt::sameColor(kt::pixel(img, 112, y), kBack)) << y;
}

TEST(CLEDLabel, MinusNinetyFillsFourCells) {
  Readout r("-90.0");
  r.l.setOnColor(QColor(255, 0, 0));
  const QImage img = kt::render(&r.l);
  const QColor red(255, 0, 0);
  expectCell(r.l, img, 0, 2, red, kOff);
  expectCell(r.l, img, 1, 158, red, kOff);
  expectCell(r.l, img, 2, 252 | 1, red, kOff);
  expectCell(r.l, img, 3, 252, red, kOff);
}

TEST(CLEDLabel, CellGeometryOfTheReadout) {
  Readout r("8");
  const TCLEDLabel::CellGeometry g = r.l.cellGeometry(1);
  // x0 = 28 + 1, x1 = 56 - 1 - 1 - 6, y0 = 1, y1 = 47, h = 23.
  EXPECT_EQ(g.top, QPolygon({QPoint(30, 1), QPoint(47, 1), QPoint(44, 4), QPoint(33, 4)}));
  EXPECT_EQ(g.middle.at(0), QPoint(30, 24));
  EXPECT_EQ(g.middle.at(1), QPoint(31, 23));
  EXPECT_EQ(g.lowerRight.at(1), QPoint(48, 46));
  EXPECT_EQ(g.point, QRect(QPoint(51, 36), QPoint(54, 46)));
}

TEST(CLEDLabel, OverflowLettersAndPoints) {
  Readout r("12345");
  QImage img = kt::render(&r.l);
  expectCell(r.l, img, 3, 150, kOn, kOff);  // "4" in the last cell, "5" falls outside
  for (int y = 0; y < 49; ++y) ASSERT_TRUE(kt::sameColor(kt::pixel(img, 112, y), kBack));

  r.l.setText("AB");
  img = kt::render(&r.l);
  expectCell(r.l, img, 2, 0, kOn, kOff);
  expectCell(r.l, img, 3, 0, kOn, kOff);

  r.l.setNumChars(3);
  r.l.setAllowDecimal(false);
  r.l.setText("1.5");
  img = kt::render(&r.l);
  // Without room reserved for it, a cell's point lies past the cell's right edge, under the next
  // cell, so only the segments are checked here: the middle cell has none lit.
  expectCell(r.l, img, 0, 132, kOn, kOff, false);
  expectCell(r.l, img, 1, 0, kOn, kOff, false);
  expectCell(r.l, img, 2, 218, kOn, kOff, false);
  EXPECT_GT(r.l.cellGeometry(1).point.left(), 2 * r.l.cellWidth());

  r.l.setNumChars(2);
  r.l.setAllowDecimal(true);
  img = kt::render(&r.l);
  expectCell(r.l, img, 0, 132 | 1, kOn, kOff);
  expectCell(r.l, img, 1, 218, kOn, kOff);
}

TEST(CLEDLabel, Defaults) {
  TCLEDLabel l;
  EXPECT_EQ(l.size(), QSize(15, 34));
  EXPECT_EQ(l.text(), "8");
  EXPECT_EQ(l.offColor(), QColor(128, 0, 0));
  EXPECT_EQ(l.property("VertMargine").toInt(), 2);
  EXPECT_TRUE(l.testAttribute(Qt::WA_TransparentForMouseEvents));
}
