// Main of GUI test programs: Qt on the offscreen platform (never a
// display), one QApplication for all tests. Tests make their own
// fw::TApplication on top of it when they need one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
