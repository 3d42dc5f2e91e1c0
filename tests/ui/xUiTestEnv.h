#pragma once
// The environment of a window test: a home of its own (TWINSIFTER_HOME and the XDG folders in a
// temporary folder, set before the application or any store reads them) and the offscreen
// platform unless the caller chose another. Use TS_QTEST_MAIN(Class) in place of QTEST_MAIN.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QTest>

#include "xTestFiles.h"

class TUiTestEnv {
public:
  TUiTestEnv() {
    for (const char* sub : {"/home", "/data", "/config", "/cache", "/twinsifter"})
      std::filesystem::create_directories(Root.Path() + sub);
    setenv("HOME", (Root.Path() + "/home").c_str(), 1);
    setenv("XDG_DATA_HOME", (Root.Path() + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Root.Path() + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Root.Path() + "/cache").c_str(), 1);
    setenv("TWINSIFTER_HOME", (Root.Path() + "/twinsifter").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  const std::string& Path() const { return Root.Path(); }

private:
  TTempDir Root;
};

#define TS_QTEST_MAIN(TestObject)                     \
  int main(int argc, char** argv) {                   \
    TUiTestEnv environment;                           \
    QApplication application(argc, argv);             \
    QApplication::setStyle(QStringLiteral("Fusion")); \
    TestObject test;                                  \
    QTEST_SET_MAIN_SOURCE_PATH                        \
    return QTest::qExec(&test, argc, argv);           \
  }
