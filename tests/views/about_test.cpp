// The about box: texts and places, modeless showing, hiding by OK and by close.
#include "app/About.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(About, LayoutAndTexts) {
  TForm3 form;
  EXPECT_EQ(form.windowTitle(), "Netvane ");
  EXPECT_FALSE(form.isVisible());
  // Placed where its layout puts it; the client area fits the 297 x 203 outer size.
  EXPECT_EQ(form.pos(), QPoint(350, 283));
  EXPECT_GE(form.width(), 96 + 113);
  EXPECT_GE(form.height(), 136 + 25);
  EXPECT_LE(form.width(), 297);
  EXPECT_LE(form.height(), 203);
  struct Case {
    QLabel* label;
    const char* text;
    QPoint pos;
  };
  const Case cases[] = {
      {form.Label1, "Netvane", {32, 16}},
      {form.Label4, "Powered by WinPcap software.", {32, 88}},
      {form.Label5, "Ver. 1.0", {32, 112}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.label->text(), c.text);
    EXPECT_EQ(c.label->pos(), c.pos);
    EXPECT_GE(c.label->width(), c.label->fontMetrics().horizontalAdvance(c.text));
  }
  EXPECT_EQ(form.Image1->geometry(), QRect(224, 16, 33, 33));
  EXPECT_FALSE(form.Image1->pixmap().isNull());
  EXPECT_EQ(form.BitBtn1->text(), "OK");
  EXPECT_EQ(form.BitBtn1->geometry(), QRect(96, 136, 113, 25));
  EXPECT_FALSE(form.windowIcon().isNull());
  EXPECT_EQ(form.windowModality(), Qt::NonModal);
}

TEST(About, ShowsComesToTheFrontAndHidesOnOkAndClose) {
  QWidget owner;
  owner.show();
  QPointer<TForm3> form = new TForm3(&owner);
  EXPECT_TRUE(form->isWindow());
  form->ShowAbout();
  EXPECT_TRUE(form->isVisible());
  // Something else gets the focus, then About again brings this box back.
  QWidget other;
  other.show();
  other.activateWindow();
  // Activation waits for the window to be mapped: let it happen first, or it
  // would take the focus back after About.
  (void)QTest::qWaitFor([&] { return QApplication::activeWindow() == &other; }, 3000);
  form->ShowAbout();
  // Activation is a round trip through the X server, which a loaded machine delays.
  (void)QTest::qWaitFor([&] { return QApplication::activeWindow() == form.data(); }, 3000);
  EXPECT_EQ(QApplication::activeWindow(), form.data());
  EXPECT_EQ(owner.findChildren<TForm3*>().size(), 1);

  QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(owner.isVisible());

  form->ShowAbout();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(form->isVisible());
  ASSERT_FALSE(form.isNull()) << "closing hides the box; it is not destroyed";
  form->ShowAbout();
  EXPECT_TRUE(form->isVisible());
}

}  // namespace
