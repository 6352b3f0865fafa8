// SPDX-License-Identifier: GPL-3.0-or-later
// Runs kelvane-controls-gallery into a temporary folder and checks the pictures it writes.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

TEST(Gallery, WritesANonBlankPictureOfEveryControl) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KELVANE_GALLERY_EXE), {"--save", dir.path()});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
  ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

  const QStringList files = QDir(dir.path()).entryList({"*.png"}, QDir::Files);
  for (const char* want :
       {"spinner_BMSEPD.png", "spinner_BMSECF.png", "spinner_BMSEGO.png", "spinner_BMSEDCOL.png",
        "spinner_BMSELR_trackbar.png", "readout_CLEDLabel1.png", "readout_CLEDPM.png",
        "levelbar_FBVU_full.png", "button_GBTNSS_Start_up.png", "button_GBTNSS_Start_pressed.png",
        "button_GBTN1_up.png", "button_GBTN1_pressed.png", "button_dialog_GBTN1_Close_up.png"}) {
    EXPECT_TRUE(files.contains(QString::fromLatin1(want))) << want;
  }
  EXPECT_GE(files.size(), 40);
  for (const QString& f : files) {
    const QImage img(dir.filePath(f));
    ASSERT_FALSE(img.isNull()) << f.toStdString();
    QSet<QRgb> colours;
    for (int y = 0; y < img.height() && colours.size() < 3; ++y)
      for (int x = 0; x < img.width() && colours.size() < 3; ++x) colours.insert(img.pixel(x, y));
    EXPECT_GE(colours.size(), 3) << f.toStdString() << " looks blank";
  }
}

TEST(Gallery, RefusesAMissingFolderArgument) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KELVANE_GALLERY_EXE), {});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 2);
}
